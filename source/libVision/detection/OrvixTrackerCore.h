#ifndef ORVIX_DETECTION_ORVIXTRACKERCORE_H
#define ORVIX_DETECTION_ORVIXTRACKERCORE_H

#include <string>
#include <vector>

#include <opencv2/core/types_c.h>

namespace OrvixSDK {

class Candide3Model;
class FDP;

// Turns one grey video frame into the 2-D feature points of one tracked
// face.  Each tracking unit owns one core.
class OrvixTrackerCore
{
public:
    virtual ~OrvixTrackerCore() {}

    // One frame (8-bit grey).  Returns true when the face was tracked in this
    // frame: points then holds the full set, normalised to the frame with y
    // measured upward, and getFaceBoundingBox the face rectangle.  quality
    // receives the overall value the alignment reports.  otherFaces are the
    // rectangles of the faces that other tracking units follow; a face that
    // overlaps one of them is refused.
    virtual bool getTrackingPoints(const IplImage* frame, FDP* points, float& quality,
                                   const std::vector<CvRect>& otherFaces) = 0;
    // Forgets the face: the next frame searches the whole frame.
    virtual void resetTrackerState() = 0;
    // Rebuilds the ear refiner on the given face models.
    virtual void resetEarsRefiner(Candide3Model* model1, Candide3Model* model2, Candide3Model* model3,
                                  std::string fittingAlgorithm) = 0;
    // Width of the face rectangle in pixels, -1 when there is none.
    virtual int getFaceScale() const = 0;
    virtual CvRect getFaceBoundingBox() const = 0;
    virtual void setFaceBoundingBox(CvRect box) = 0;
    // Whether the ear points are refined (a setting of the detector).
    virtual bool refineEars() const = 0;
};

}  // namespace OrvixSDK

#endif
