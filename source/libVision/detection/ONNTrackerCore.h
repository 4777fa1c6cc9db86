#ifndef ORVIX_DETECTION_ONNTRACKERCORE_H
#define ORVIX_DETECTION_ONNTRACKERCORE_H

#include "detection/OrvixTrackerCore.h"

namespace OrvixSDK {

// The tracking core built on the neural face finder and the deep alignment.
//
// Its face-search settings are class-wide: every core of the process uses
// them.  The tracker writes them only while it (re)initialises its detector,
// between frames, so the cores read them without a lock.
class ONNTrackerCore : public OrvixTrackerCore
{
public:
    // Sensitivity of the full-frame face search, 0 to 1.
    static float s_faceFinderSensitivity;
    // Smallest and largest face searched for, as fractions of the shorter
    // image side.
    static float s_minFaceScale;
    static float s_maxFaceScale;

    // Stores both values as given.
    static void setFaceScaleSearchRange(float minScale, float maxScale);
    // Stores the sensitivity clamped to 0..1.
    static void setFaceDetectorSensitivity(float sensitivity);
};

}  // namespace OrvixSDK

#endif
