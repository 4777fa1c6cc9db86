#ifndef ORVIX_DETECTION_PUPILREFINER_H
#define ORVIX_DETECTION_PUPILREFINER_H

#include <opencv2/core/types_c.h>

namespace ONN {
class INNModel;
class INNRunner;
}  // namespace ONN

namespace OrvixSDK {

class FDP;
struct FeaturePoint;

// Which eye: the person's right eye has pupil 3.6, corners 3.8 and 3.12 and
// lid points 3.10 and 3.14; the left eye has pupil 3.5, corners 3.7 and
// 3.11 and lid points 3.9 and 3.13.
enum EyeType
{
    RIGHT_EYE = 0,
    LEFT_EYE = 1
};

// Places both pupils and their iris radii with a small network that looks
// at a 32 x 32 crop around each eye.  An eye whose points are not reliable
// keeps its pupil and gets an average iris radius.  Used by one thread at a
// time.
class PupilRefiner
{
public:
    // model is not owned; the refiner owns the runner it makes from it.
    explicit PupilRefiner(ONN::INNModel* model);
    ~PupilRefiner();

    PupilRefiner(const PupilRefiner&) = delete;
    PupilRefiner& operator=(const PupilRefiner&) = delete;

    // Refines both pupils of points in place.  image is the grey image the
    // points are normalised to (y downward).  A pupil's z receives the iris
    // radius in units of the image width.  Only the selection by point
    // quality is offered: byQuality false is treated the same.
    void refine(const IplImage* image, FDP* points, float yaw, bool byQuality);

private:
    ONN::INNModel* model;
    ONN::INNRunner* runner;
};

// The 32 x 32 crop of the square 1.25 times the corner distance around two
// eye corners, shifted inside the image by up to 30 % of its side; null when
// it cannot be placed or is 7 pixels or less.  box receives the square in
// image pixels.  The caller releases the image.
IplImage* getResizedEyeImage(const IplImage* image, const FeaturePoint& c1, const FeaturePoint& c2, CvRect& box);

// Runs the network on one eye crop and writes the pupil with its iris
// radius, the centre clamped to the eye region.
void refineSingleEye(const IplImage* image, IplImage* eye, const CvRect& box, FDP* points, ONN::INNRunner* runner,
                     EyeType type);

// Keeps the pupil's place and sets its iris radius to a fifth of the
// eye-corner distance.
void setAverageIrisRadius(FDP* points, EyeType type);

}  // namespace OrvixSDK

#endif
