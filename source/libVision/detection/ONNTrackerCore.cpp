#include "detection/ONNTrackerCore.h"

namespace OrvixSDK {

float ONNTrackerCore::s_faceFinderSensitivity = 0.75f;
float ONNTrackerCore::s_minFaceScale = 0.15f;
float ONNTrackerCore::s_maxFaceScale = 1.0f;

void ONNTrackerCore::setFaceScaleSearchRange(float minScale, float maxScale)
{
    s_minFaceScale = minScale;
    s_maxFaceScale = maxScale;
}

void ONNTrackerCore::setFaceDetectorSensitivity(float sensitivity)
{
    // A NaN fails both comparisons and would pass through unclamped; it
    // counts as the lowest sensitivity.
    if (!(sensitivity >= 0.0f))
        sensitivity = 0.0f;
    else if (sensitivity > 1.0f)
        sensitivity = 1.0f;
    s_faceFinderSensitivity = sensitivity;
}

}  // namespace OrvixSDK
