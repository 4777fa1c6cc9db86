#ifndef ORVIX_DETECTION_ALIGNMENTUTILS_H
#define ORVIX_DETECTION_ALIGNMENTUTILS_H

#include <opencv2/core/types_c.h>

namespace OrvixSDK {

class FDP;

// Static helpers shared by detection, tracking and fitting.  Point sets are
// normalised to the frame they belong to, y downward, unless said otherwise.
// Rounding is to the nearest integer, ties to even.
class AlignmentUtils
{
public:
    // Eye-nose-mouth square of side 1.8 * factor times the largest of the
    // eye-eye and eye-mouth distances, centred at 0.8 nose + 0.2 eyes.  Points
    // are read in pixels (y flipped with flipY).  False, with box untouched,
    // when one of 3.7, 3.8, 3.11, 3.12, 9.4, 9.5, 8.1 is undefined.
    static bool calculateBoundingBox(int width, int height, const FDP* points, CvRect* box, bool flipY,
                                     float factor);

    // Square around the defined and detected points of groups 2 to 17 except
    // the ears, in pixels.  False when width or height is below 1.
    static bool calculateMinMaxBoundingBox(int width, int height, const FDP* points, CvRect* box);

    // Mean quality of the points of groups 2 to 17 that are defined and
    // carry a quality (>= 0); 0 when there is none.
    static float calculateTrackingQuality(const FDP* points);

    // Quality of a face turned by yawDegrees: the points that are defined,
    // carry a quality and are not on the far side of the head (side class 1
    // when yaw < -20, side class 3 when yaw > 20) are sorted into four
    // regions (mouth: group 8; nose: group 9; odd-indexed and even-indexed
    // points of groups 3 and 4, one eye and brow each).  The result is the
    // mean of the region means over the regions that have a point, 0 when
    // none has.
    static float calculateTrackingQualityYaw(const FDP* points, float yawDegrees);

    // Head roll in degrees from the brow-inner midpoint to the nostril
    // midpoint; an upright face gives 0.
    static float calculateAlignmentAngle(const FDP* points, int width, int height);

    // Least-squares similarity transform (2 x 3 float) mapping the N x 2
    // float points of from onto to.
    static void doTransformEstimation(const CvMat* from, const CvMat* to, CvMat* transform);

    // result = (shape - centroid) * factor + centroid, N x 2 float; result
    // may be shape.
    static void scaleUp(const CvMat* shape, CvMat* result, float factor);

    // Re-normalises the defined points from region from to region to.
    static void switchFDPROI(FDP* points, const CvRect& from, const CvRect& to);
    // Moves r from region from's frame of reference to region to's.
    static void switchBBROI(CvRect& r, const CvRect& from, const CvRect& to);
    // Scales every field of r by s, rounded.
    static void resizeBB(CvRect& r, float s);
    // Scales r by s about its centre with the given rounding.
    static void rescaleBB(CvRect& r, float s, int (*rounding)(double));
    // Clips r to the image; with withCopy *copy becomes a new image holding
    // that region (null when nothing is left of it).
    static void getAdjustedCrop(const IplImage* image, IplImage** copy, CvRect& r, bool withCopy);
    // New matrix of m's type with m's shape, or with rows and columns swapped.
    static CvMat* createMatLike(const CvMat* m, bool transposed);
};

}  // namespace OrvixSDK

#endif
