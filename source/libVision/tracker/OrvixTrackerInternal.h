#ifndef ORVIX_TRACKER_ORVIXTRACKERINTERNAL_H
#define ORVIX_TRACKER_ORVIXTRACKERINTERNAL_H

#include <string>
#include <vector>

#include <opencv2/core/types_c.h>

namespace OrvixSDK {

class Candide3Model;
class FaceData;
class FDP;
class IOrvixFitter;
class OrvixDetector;
class OrvixSmoothingFilter;
class OrvixTrackerCore;

// Follows one face through the video for one slot of the tracker: a
// tracking core finds and aligns the face, a smoothing filter steadies the
// points, a fitter adapts private copies of the face models to them, and an
// internal FaceData record collects the frame's results until the tracker
// copies them out.
//
// A unit touches only its own members, the grey frame and the (read-only)
// detector, so the tracker runs its units in parallel.
class OrvixTrackerInternal
{
public:
    enum Status
    {
        STATUS_OFF = 0,        // no frame yet, or no image given
        STATUS_TRACKING = 1,   // the face was found and fitted in this frame
        STATUS_RECOVERING = 2, // the face was lost; the core keeps trying
        STATUS_SEARCHING = 3   // looking for a new face
    };

    OrvixTrackerInternal();
    virtual ~OrvixTrackerInternal();

    OrvixTrackerInternal(const OrvixTrackerInternal&) = delete;
    OrvixTrackerInternal& operator=(const OrvixTrackerInternal&) = delete;

    // Rebuilds what the change bits name (bit table of the tracker) and
    // starts searching.  pose, au and mesh are the tracker's models (au and
    // mesh may be the same object as pose or each other); the unit fits
    // private copies of them.  Always returns 1.
    int init(OrvixDetector* detector, Candide3Model* pose, Candide3Model* au, Candide3Model* mesh,
             CvMat* smoothingFactors, unsigned smoothingEnabled, std::string fittingAlgorithm, int changeFlags);

    // Processes one grey frame taken at timeStamp (ms) and returns the new
    // status.  A null frame gives STATUS_OFF.
    int update(const IplImage* frame, long timeStamp, float framesPerSecond);

    // Copies the internal record into out and returns the status.  out gets
    // arrays sized from the internal record when it has none.  Returns 0
    // without copying when the internal record has no arrays; with out null
    // returns the status.
    int getTrackingData(FaceData* out);

    // Derives the frame's output values (gaze, apparent rotation, mesh,
    // units, eye state) into the internal record.
    void swapTrackingData();

    // Fits the models to the flipped points; false when the fit failed.
    bool do_fitting(bool found, const IplImage* frame);

    // Builds the internal record's arrays for the present models.
    void initTrackingData();

    void setIPD(float newIpd);
    float getIPD() const { return ipd; }

    // True when mask is -1 and every change bit is set, or when mask shares
    // a bit with the change bits of the last init.
    bool shouldReset(int mask) const;

    // Test seam: the fitter for the models copies, owned by the unit.  The
    // default asks the fitter factory; a null result turns fitting off.
    virtual IOrvixFitter* createFitter(const std::string& fittingAlgorithm);

    OrvixTrackerCore* core;
    FaceData* record;
    int status;
    OrvixSmoothingFilter* smoother;
    unsigned smoothingEnabled;
    IOrvixFitter* fitter;
    Candide3Model* poseCopy;
    Candide3Model* auCopy;
    Candide3Model* meshCopy;
    FDP* rawPoints;        // from the core: normalised, y up
    FDP* flippedPoints;    // rawPoints with y down, for the fitter and the eyes
    FDP* smoothedPoints;
    long smoothingStart;   // time stamp at which the present tracking run began
    long lostSince;        // time stamp at which recovery began; -1 when not recovering
    long irisStateA;       // iris-radius smoothing state, -1 initially
    long irisStateB;
    bool hasPose;
    bool hasAu;
    bool hasMesh;
    bool fittingEnabled;
    int recoveryTimeoutMs;
    int frameWidth;
    int frameHeight;
    float ipd;
    long timeStamp;
    float alignmentConfidence;
    std::vector<CvRect> otherFaces;   // faces of the other tracking slots
    float framesPerSecond;
    unsigned changeFlags;
    // Whether the internal record's arrays were built with the fitting
    // arrays; they are rebuilt when fitting is switched on or off.
    bool recordHasFitting;

private:
    void deleteModelCopies();
    void earCheck(OrvixDetector* detector, const std::string& fittingAlgorithm);
};

}  // namespace OrvixSDK

#endif
