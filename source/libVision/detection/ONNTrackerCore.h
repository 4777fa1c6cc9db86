#ifndef ORVIX_DETECTION_ONNTRACKERCORE_H
#define ORVIX_DETECTION_ONNTRACKERCORE_H

#include <string>
#include <vector>

#include <opencv2/core/types_c.h>

#include "detection/OrvixTrackerCore.h"

namespace OrvixSDK {

class AlignmentData;
class DeepAlignmentRuntime;
class ONNFaceFinder;
class OrvixDetector;
class PupilRefiner;

// The tracking core built on the neural face finder and the deep alignment.
// Per frame it searches the whole frame for a new face, re-detects the face
// near where it was, or places the points directly from the previous face
// rectangle; the mean point quality decides whether the frame counts.
//
// Its face-search settings are class-wide: every core of the process uses
// them.  The tracker writes them only while it (re)initialises its detector,
// between frames, so the cores read them without a lock.
class ONNTrackerCore : public OrvixTrackerCore
{
public:
    enum TrackingState
    {
        SEARCHING = 0,
        REDETECTING = 1,
        TRACKING = 2
    };

    // Where the time of the last getTrackingPoints call went, in
    // milliseconds: face finder (full search or re-detection), deep
    // alignment, pupil refinement, and the whole call.
    struct StageTimes
    {
        double finderMs = 0.0;
        double alignmentMs = 0.0;
        double pupilMs = 0.0;
        double totalMs = 0.0;
        // The state the frame started in.
        int startState = SEARCHING;
    };

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

    // Works on the detector's data, which must be loaded first (the
    // detector's createTrackerCore checks that).  The detector is not owned
    // and must outlive the core.
    explicit ONNTrackerCore(OrvixDetector* detector);
    ~ONNTrackerCore() override;

    ONNTrackerCore(const ONNTrackerCore&) = delete;
    ONNTrackerCore& operator=(const ONNTrackerCore&) = delete;

    bool getTrackingPoints(const IplImage* frame, FDP* points, float& quality,
                           const std::vector<CvRect>& otherFaces) override;
    void resetTrackerState() override;
    // Ear refinement is not part of this build: there is no refiner to
    // rebuild.
    void resetEarsRefiner(Candide3Model* model1, Candide3Model* model2, Candide3Model* model3,
                          std::string fittingAlgorithm) override;
    int getFaceScale() const override { return faceBox.width; }
    CvRect getFaceBoundingBox() const override { return faceBox; }
    void setFaceBoundingBox(CvRect box) override { faceBox = box; }
    bool refineEars() const override;

    // Full-frame search: the widest face that does not overlap (IoU above
    // 0.1) one of otherFaces, square by its width.
    bool findFace(const IplImage* frame, CvRect& face, const std::vector<CvRect>& otherFaces);
    // Re-detection inside the working crop: face becomes the detection that
    // overlaps it most, when that IoU exceeds 0.1.
    bool trackFaceFastDetector(const IplImage* crop, CvRect* face);

    int getTrackingState() const { return trackingState; }
    const StageTimes& getLastStageTimes() const { return stageTimes; }

    // Damps small moves of the face rectangle: each of width, height, x and
    // y moves towards the new value in proportion to how far it moved
    // relative to 2 % of the frame, and moves of 2 % or more pass
    // unchanged.  The result is made square.
    static CvRect steadyRect(const CvRect& previous, const CvRect& fresh, int frameWidth, int frameHeight);

private:
    // Working frame: the face 96 pixels wide inside a crop 2.5 times the
    // face.
    AlignmentData* alignmentData;
    OrvixDetector* detector;
    PupilRefiner* pupilRefiner;
    DeepAlignmentRuntime* deepAlignment;
    ONNFaceFinder* faceFinder;
    int trackingState;
    CvRect faceBox;
    StageTimes stageTimes;
};

}  // namespace OrvixSDK

#endif
