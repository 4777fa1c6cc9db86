#ifndef ORVIX_DETECTION_ALIGNMENTUTILS_H
#define ORVIX_DETECTION_ALIGNMENTUTILS_H

namespace OrvixSDK {

class FDP;

// Static helpers shared by detection, tracking and fitting.
class AlignmentUtils
{
public:
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
};

}  // namespace OrvixSDK

#endif
