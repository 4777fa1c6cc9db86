#ifndef ORVIX_DETECTION_CROPPINGADJUSTMENT_H
#define ORVIX_DETECTION_CROPPINGADJUSTMENT_H

#include <opencv2/core/types_c.h>

#include "detection/Adjustment.h"

namespace OrvixSDK {

// Cuts a region out of the frame: points and the face rectangle move from
// fromRect's frame of reference into the (clipped) crop's.
class CroppingAdjustment : public Adjustment
{
public:
    CroppingAdjustment(CvRect fromRect, CvRect toRect, bool applyToImage, bool fromSource);

    void apply(AlignmentData* data) override;
    void revert(AlignmentData* data) override;

    CvRect fromRect;
    CvRect toRect;
};

}  // namespace OrvixSDK

#endif
