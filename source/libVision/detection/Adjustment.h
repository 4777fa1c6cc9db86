#ifndef ORVIX_DETECTION_ADJUSTMENT_H
#define ORVIX_DETECTION_ADJUSTMENT_H

namespace OrvixSDK {

class AlignmentData;

// One reversible step that carries a face from a frame into the working
// frame of an AlignmentData: apply moves the points and rectangles forward,
// revert moves them back.
class Adjustment
{
public:
    Adjustment(bool applyToImage, bool fromSource) : applyToImage(applyToImage), fromSource(fromSource) {}
    virtual ~Adjustment() {}

    virtual void apply(AlignmentData* data) = 0;
    virtual void revert(AlignmentData* data) = 0;

    // The adjustment also transforms pixels.
    bool applyToImage;
    // Pixels are taken from the source image rather than the working image.
    bool fromSource;
};

}  // namespace OrvixSDK

#endif
