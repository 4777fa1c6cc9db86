#ifndef ORVIX_DETECTION_ORVIXDETECTOR_H
#define ORVIX_DETECTION_ORVIXDETECTOR_H

#include <string>

#include <opencv2/core/types_c.h>

namespace ONN {
class INNFrontend;
}

namespace OrvixSDK {

class AlignmentRuntime;
class DeepAlignmentData;
class DeepAlignmentRuntime;
class FDP;
class ONNFaceFinderData;
class OrvixTrackerCore;

// Owns the read-only data that face detection and landmark alignment need
// (face-finder network, deep-alignment data, pupil network, ear cascades)
// and the settings that go with them.  One detector serves all tracking
// cores of a tracker; while faces are processed it is only read.
//
// Each data member is either absent (null) or loaded; a loader never
// replaces data that is present, so reloading means delete, then load.
// The data management, isInitialized and createTrackerCore are virtual so
// that a stand-in detector can provide other data and cores.
class OrvixDetector
{
public:
    // Initial settings, seeds the shared random generator and reads the
    // network configuration two folder levels above faceDetectorPath.
    explicit OrvixDetector(const char* faceDetectorPath);
    virtual ~OrvixDetector();

    OrvixDetector(const OrvixDetector&) = delete;
    OrvixDetector& operator=(const OrvixDetector&) = delete;

    // Folder paths without a trailing separator; the loaders append the
    // file names ("ff", "aux_file.bin" with "d1qy" and "d2", "pr").  Data
    // that cannot be opened is reported with the loader's message and shows
    // in isInitialized.  The ear cascades are not part of this build: their
    // loader leaves them absent.
    virtual void loadFaceDetectorData(const char* path);
    virtual void deleteFaceDetectorData();
    virtual void loadAlignData(const char* path);
    virtual void deleteAlignData();
    virtual void loadPupilNNModel(const char* path);
    virtual void deletePupilNNModel();
    virtual void loadEarsCascades(const char* path);
    virtual void deleteEarsCascades();

    // Bit mask of what is missing, 0 when ready: 1 face-finder data,
    // 2 alignment data, 4 ear cascades (only with refineEars), 8 pupil
    // model (only with refinePupils).
    virtual int isInitialized();

    // A new tracking core working on this detector's data, owned by the
    // caller; null when the face-finder or alignment data is not loaded,
    // which the tracking unit treats as "no face found" on every frame.
    virtual OrvixTrackerCore* createTrackerCore();

    // Resets points and places the landmarks inside the face rectangle of
    // image with the given runtime; on success fills missing points from
    // their twins.  Returns the alignment's success.
    bool detectPointsONN(const IplImage* image, CvRect face, DeepAlignmentRuntime* runtime, FDP* points,
                         float& quality);
    // detectPointsONN, then with twoPasses once more from the square around
    // the points found, then with checkQuality refuses a mean point quality
    // below the quality threshold (the points stay as found).
    bool detectFeaturePointsONN(const IplImage* image, const CvRect& face, DeepAlignmentRuntime* runtime,
                                FDP* points, float& quality, bool twoPasses, bool checkQuality);

    // Fills undefined chin and nose points from their twins: 2.1, 13.17 and
    // 15.17; 9.3 and 14.21; 9.12 and 14.23.  A filled point can serve a
    // later rule.
    static void setMatchingPoints(FDP* points);
    // The eye-nose-mouth square and the min-max square of the points.
    static bool calculateBoundingBox(int width, int height, FDP* points, CvRect* box, bool flipY);
    static bool calculateMinMaxBoundingBox(int width, int height, FDP* points, CvRect* box);

    // s is clamped to 0..1; the quality threshold follows it.
    void setDetectorSensitivity(float s);
    void setRefinePupils(bool refine) { refinePupils = refine; }
    void setRefineEars(bool refine) { refineEars = refine; }
    void setUseONN(unsigned value) { useONN = value; }

    float getDetectorSensitivity() const { return sensitivity; }
    float getQualityThreshold() const { return qualityThreshold; }
    bool getRefinePupils() const { return refinePupils; }
    bool getRefineEars() const { return refineEars; }
    unsigned getUseONN() const { return useONN; }

    // Packs one point set into buffer (pack true) or unpacks it from there,
    // scrambled with a running key; returns the number of ints used (4 per
    // point, 1012).  Unpacking marks every point defined.  Null arguments
    // use nothing and return 0.
    static unsigned transformData(FDP* points, int* buffer, bool pack);
    // The same for first, then second (when not null) directly behind it,
    // each with its own key sequence; returns the total number of ints.
    static unsigned transformData(FDP* first, FDP* second, int* buffer, bool pack);

    float sensitivity;
    // Lowest mean point quality accepted when the quality is checked:
    // always 0.35 + 0.65 * (1 - sensitivity).
    float qualityThreshold;
    bool refinePupils;
    bool refineEars;
    // Alignment variant; above 1 the refinement stage is loaded too.
    unsigned useONN;
    AlignmentRuntime* frontalEarsCascade;
    AlignmentRuntime* profileEarsCascade;
    DeepAlignmentData* alignData;
    ONNFaceFinderData* faceFinderData;
    ONN::INNFrontend* pupilFrontend;

private:
    static std::string folderPath(const char* path);
};

}  // namespace OrvixSDK

#endif
