#ifndef ORVIX_DETECTION_RESIZINGADJUSTMENT_H
#define ORVIX_DETECTION_RESIZINGADJUSTMENT_H

#include "detection/Adjustment.h"

namespace OrvixSDK {

// Scales the working frame: the rectangles grow or shrink; normalised points
// do not change.
class ResizingAdjustment : public Adjustment
{
public:
    ResizingAdjustment(float scale, int interpolation, bool applyToImage, bool fromSource);

    void apply(AlignmentData* data) override;
    void revert(AlignmentData* data) override;

    float scale;
    int interpolation;
};

}  // namespace OrvixSDK

#endif
