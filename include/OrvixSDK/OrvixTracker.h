#ifndef ORVIXSDK_ORVIXTRACKER_H
#define ORVIXSDK_ORVIXTRACKER_H

#include <pthread.h>

#include <string>

#include <opencv2/core/types_c.h>

#include "OrvixSDK/Export.h"
#include "OrvixSDK/FaceData.h"
#include "OrvixSDK/OrvixConfiguration.h"

namespace OrvixSDK {

class Candide3Model;
class FDP;
class OrvixDetector;
class OrvixTrackerInternal;
class TrackerInternalInterface;

// The library's version, "9.1.0".
ORVIX_API const char* getOrvixSDKVersion();

// The video face tracker.  Construct it with the path of a tracker
// configuration file, then call track once per video frame.  The tracker
// converts each frame to grey, follows up to 20 faces in slots of their own
// (processed in parallel) and returns one status per slot together with a
// filled FaceData record per slot.
//
// Slot statuses: 0 off, 1 tracking, 2 recovering a lost face, 3 searching.
// Each frame runs every tracking slot plus the lowest slot that is not
// tracking; the slots above it wait, keeping their status and record.
//
// Configuration changes (setTrackerConfiguration) may be made from any
// thread, also while track runs; they are applied at the start of the next
// frame, and only what they concern is rebuilt.  track, stop, reset,
// Finish and setIPD are serialised on one lock.
//
// The library never ends the process.  When the detector data cannot be
// loaded, the message goes to standard error, the tracker stays inactive
// (track returns all statuses 0) until the configuration changes or reset
// is called, and isInitializationFailed / getLastError tell why.
class ORVIX_API OrvixTracker
{
public:
    static constexpr int MAX_FACES = 20;

    // Reads the configuration; nothing else is loaded before the first frame.
    explicit OrvixTracker(const char* configPath);
    virtual ~OrvixTracker();

    OrvixTracker(const OrvixTracker&) = delete;
    OrvixTracker& operator=(const OrvixTracker&) = delete;

    // Processes one frame and returns the 20 slot statuses (valid until the
    // next call; entries beyond maxFaces read 0).
    //   pixels    width x height pixels, rows in memory order, first row at
    //             the top; the buffer must hold (height - 1) * rowLength +
    //             width * channels bytes.  Only those bytes are read.
    //   faces     null, or an array of at least maxFaces records.
    //   format    0 RGB, 1 BGR, 2 grey, 3 RGBA, 4 BGRA (8 bits per channel).
    //   origin    has no effect.
    //   widthStep bytes per row (rowLength); 0 or less means width x channels.
    //   timeStamp milliseconds; -1 uses the tracker's clock, which counts
    //             from the last initialisation.
    //   maxFaces  number of slots, clamped to 1..20.
    // Invalid arguments (null pixels, unknown format, width or height <= 0,
    // widthStep > 0 but shorter than width x channels, a frame whose size
    // does not fit in an int) return all statuses 0, deactivate the tracker
    // and make the next valid frame initialise fully.
    virtual int* track(int width, int height, const char* pixels, FaceData* faces, int format = 0, int origin = 0,
                       int widthStep = 0, long timeStamp = -1, int maxFaces = 1);

    // Deactivates the tracker; the next frame initialises it fully.
    void stop();
    // Forgets frame geometry and slot count, so that the next frame
    // initialises fully.
    void reset();
    // When initialised: deactivates the tracker and refreshes every slot's
    // output values from its last frame.
    void Finish();

    // Inter-pupil distance in metres (0.065 initially).  On an active
    // tracker it is handed to the slots and models and the next frame
    // initialises fully; otherwise it takes effect at the next
    // initialisation.
    void setIPD(float ipd);
    float getIPD() const;

    // Replaces the configuration by the file at path (read at once), with
    // the action-unit and mesh models switched off as asked.  Applied at the
    // next frame.
    void setTrackerConfiguration(const char* path, bool disableAu = false, bool disableMesh = false);
    // Replaces the configuration by a copy of config; its change flags (which
    // are cleared in config) add to the ones still pending.  Applied at the
    // next frame.
    void setTrackerConfiguration(OrvixConfiguration& config);
    // A copy of the configuration including changes not yet applied, with
    // their change flags.
    OrvixConfiguration getTrackerConfiguration();

    // True when the last initialisation failed because detector data could
    // not be loaded; the tracker then stays inactive until the
    // configuration changes or reset is called.
    bool isInitializationFailed() const;
    // The message of that failure; empty when the last initialisation
    // succeeded.
    std::string getLastError() const;

    static const char* getSDKVersion();

    // pose[0..2] <- translation, pose[3..5] <- rotation.
    static void setPose(float* pose, const float* rotation, const float* translation);

    // Raw openness of the two eyes from the lid points 3.1 to 3.4 relative
    // to the pupil distance (points normalised, y down; translation and
    // rotation of the fitted face model).  Missing points give 1.08 (open);
    // an eye turned away from the camera by more than a quarter turn counts
    // as open too.
    static void processEyesClosure(const IplImage* frame, FDP* points, const float* translation,
                                   const float* rotation, float* out);
    // out (4 x 1 float) <- the pupils 3.5 and 3.6 (points normalised, y down)
    // in the projection frame of the face models: (1 - 2x) ax, (1 - 2y) ay
    // for each, where the longer image side gets the aspect factor.
    static void GetPupilCoords(FDP* points, CvMat* out, int width, int height);

protected:
    // Test seam: the detector facade for the face-detector folder, owned by
    // the tracker.  The default builds an OrvixDetector.
    virtual OrvixDetector* createDetector(const char* faceDetectorPath);
    // Test seam: wall-clock time in milliseconds, the source of the
    // tracker's clock.
    virtual long long currentTimeMs();

    std::string configPath;
    char configDir[1024];
    TrackerInternalInterface* messageSink;
    OrvixConfiguration* activeConfig;
    OrvixConfiguration* pendingConfig;
    OrvixDetector* detector;
    std::string detectorPath;
    std::string alignPath;
    std::string pupilPath;
    std::string earsPath;
    Candide3Model* poseModel;
    Candide3Model* auModel;
    Candide3Model* meshModel;
    bool poseModelLoaded;
    bool auModelLoaded;
    bool meshModelLoaded;
    bool auModelDisabled;
    bool meshModelDisabled;
    OrvixTrackerInternal* units[MAX_FACES];
    int statuses[MAX_FACES];
    int faceCount;
    int frameWidth;
    int frameHeight;
    int pixelFormat;
    IplImage* frameHeader;
    IplImage* grayFrame;
    IplImage* previousGray;
    CvMat* smoothingFactors;
    unsigned smoothingEnabled;
    unsigned denoiseInput;
    float recoveryTimeout;
    float ipd;
    long long clockBase;
    long long frameTimes[10];
    int ringIndex;
    float framesPerSecond;
    long long frameTimeStamp;
    long long callerTimeStamp;
    unsigned changeFlags;
    bool active;
    bool geometryReady;
    bool initialised;
    // The last initialisation failed on the detector data; lastError holds
    // the message.
    bool initializationFailed;
    std::string lastError;
    mutable pthread_mutex_t frameLock;
    mutable pthread_mutex_t configLock;

private:
    void trackLocked(int width, int height, const char* pixels, FaceData* faces, int format, int widthStep,
                     long timeStamp, int maxFaces);
    void terminateFrame();
    bool Init();
    bool initDetector();
    void initModels();
    Candide3Model* loadModel(int type);
    void deleteModels();
    void deleteUnits();
    void grabFrame(bool resetRing);
    void convertToGray();
    void denoise();
    void initTrackerInternal();
    void resetLocked();
    void finishLocked();
};

}  // namespace OrvixSDK

#endif
