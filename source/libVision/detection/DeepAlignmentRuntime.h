#ifndef ORVIX_DETECTION_DEEPALIGNMENTRUNTIME_H
#define ORVIX_DETECTION_DEEPALIGNMENTRUNTIME_H

#include <opencv2/core/types_c.h>

namespace ONN {
class INNRunner;
}  // namespace ONN

namespace OrvixSDK {

class ConnectionLayer;
class DeepAlignmentData;
class FDP;

// Per-user state of the deep alignment: the runners and the head-roll angle
// of the previous frame.  Each tracking core and still-image detector owns
// one; it is used by one thread at a time.
class DeepAlignmentRuntime
{
public:
    explicit DeepAlignmentRuntime(DeepAlignmentData* data);
    ~DeepAlignmentRuntime();

    DeepAlignmentRuntime(const DeepAlignmentRuntime&) = delete;
    DeepAlignmentRuntime& operator=(const DeepAlignmentRuntime&) = delete;

    // Places the landmarks inside the face rectangle of image (grey, 8-bit)
    // and writes them into points, normalised to the image with y downward,
    // z = -1, with their qualities and marked detected.  quality is set to
    // 0.  False only when the networks cannot run (no data, no runner, no
    // output) or the rectangle is empty; points are then left untouched.
    bool findLandmarkPoints(const IplImage* image, CvRect face, FDP* points, float& quality);

    // Writes the N landmarks (image pixels) with their qualities into points.
    void matToFDP(const CvMat* landmarks, FDP* points, const IplImage* image, const float* qualities) const;

    // The tracking core sets this while it follows a face, so that the next
    // frame is de-rotated by the roll angle of the one before.
    void setHasPreviousAngle(bool value) { hasPreviousAngle = value; }
    bool getHasPreviousAngle() const { return hasPreviousAngle; }
    float getLastAngle() const { return lastAngle; }

    ONN::INNRunner* runner1;
    ONN::INNRunner* runner2;
    DeepAlignmentData* data;
    ConnectionLayer* layer;
    float lastAngle;
    float shapeScale;
    bool hasPreviousAngle;
};

}  // namespace OrvixSDK

#endif
