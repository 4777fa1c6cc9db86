#ifndef ORVIX_DETECTION_ALIGNMENTDATA_H
#define ORVIX_DETECTION_ALIGNMENTDATA_H

#include <vector>

#include <opencv2/core/types_c.h>

namespace OrvixSDK {

class Adjustment;
class FDP;

// Carries a tracked face from the camera frame into a small working frame
// where the face is faceSize pixels wide, and back.  It keeps the
// adjustments it applied so that points found in the working frame are
// mapped back step by step in reverse order.  Reused frame after frame:
// doInitAdjustment, work, revertAdjustments, clear.
class AlignmentData
{
public:
    // The working image (side round(faceSize * cropFactor)) is allocated
    // once here and reused.
    AlignmentData(int faceSize, float cropFactor);
    ~AlignmentData();

    AlignmentData(const AlignmentData&) = delete;
    AlignmentData& operator=(const AlignmentData&) = delete;

    // Builds the working frame for the face rectangle of frame (8-bit grey):
    // a crop cropFactor times the face, scaled so that the face is faceSize
    // wide; with withImage the pixels too.  points (may be null) are copied
    // and moved along.  False, with the data left clear, when the frame or
    // the face rectangle is empty or the crop does not overlap the frame.
    bool doInitAdjustment(const IplImage* frame, const FDP* points, const CvRect& face, bool withImage);
    // Appends a (taking ownership) and applies it.
    void applyAdjustment(Adjustment* a);
    // Maps points and faceRect back through every adjustment, last first.
    void revertAdjustments();
    // Forgets the frame: releases the source header, resets the points and
    // the rectangles and deletes the adjustments.  Keeps the working image.
    void clear();

    // Header sharing the pixels of the frame given to doInitAdjustment.
    IplImage* sourceImage;
    // Owned 8-bit grey image; its header's size is the current crop's.
    IplImage* workingImage;
    FDP* points;
    CvRect faceRect;
    CvRect cropRect;
    int faceSize;
    float cropFactor;
    std::vector<Adjustment*> adjustments;
};

}  // namespace OrvixSDK

#endif
