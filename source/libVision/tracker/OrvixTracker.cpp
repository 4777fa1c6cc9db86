#include "OrvixSDK/OrvixTracker.h"

#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <exception>
#include <vector>

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include "OrvixSDK/Candide3Model.h"
#include "OrvixSDK/FDP.h"
#include "detection/ONNTrackerCore.h"
#include "detection/OrvixDetector.h"
#include "detection/OrvixTrackerCore.h"
#include "facemodel/SharedModels.h"
#include "onn/ONNInit.h"
#include "support/Common.h"
#include "support/TrackerInternalInterface.h"
#include "tracker/OrvixTrackerInternal.h"

namespace OrvixSDK {

namespace {

const char* const kVersion = "9.1.0";

// Change bits (the bit list is in OrvixConfiguration.h; bit 12 is the
// tracker's own) and the groups of them that the initialisation steps test.
const unsigned kAllBits = ~0u;
const unsigned kModelsBit = 0x1;
const unsigned kProcessEyesBit = 0x4;
const unsigned kCameraFocusBit = 0x8;
const unsigned kRecoveryTimeoutBit = 0x10;
const unsigned kSmoothingFactorsBit = 0x20;
const unsigned kEarsFolderBit = 0x400;
const unsigned kPupilFolderBit = 0x800;
const unsigned kGeometryBit = 0x1000;
const unsigned kEnableSmoothingBit = 0x2000;
const unsigned kDenoiseBit = 0x4000;
const unsigned kDetectorMask = 0xFC6;       // ears, eyes, face search, landmarks, data folders
const unsigned kAlignDataMask = 0x380;      // landmarks, face-detector and alignment folders
const unsigned kPupilDataMask = 0xB04;      // eyes, both detector folders, pupil folder
const unsigned kEarsDataMask = 0x702;       // ears, both detector folders, ears folder

const float kPi = 3.14159265358979f;
const float kClosedEyeUnknown = 1.0f + Candide3Model::EYE_OPEN_THRESHOLD;

// Channels of a pixel format, 0 for a code outside the table.
int channelsOf(int format)
{
    switch (format) {
    case 0:
    case 1:
        return 3;
    case 2:
        return 1;
    case 3:
    case 4:
        return 4;
    default:
        return 0;
    }
}

// The working directory, cut to maxLength characters.
std::string workingDirectory(std::size_t maxLength)
{
    std::vector<char> buffer(4096, '\0');
    if (getcwd(buffer.data(), buffer.size()) == nullptr)
        return std::string();
    std::string folder(buffer.data());
    if (folder.size() > maxLength)
        folder.resize(maxLength);
    return folder;
}

// Recovery time-out as whole milliseconds; values outside the int range
// (and NaN, which a configuration file may hold) are brought into it.
int timeoutMilliseconds(float timeout)
{
    if (!(timeout > 0.0f))
        return 0;
    if (timeout >= static_cast<float>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(timeout);
}

}  // namespace

const char* getOrvixSDKVersion()
{
    return kVersion;
}

const char* OrvixTracker::getSDKVersion()
{
    return kVersion;
}

OrvixTracker::OrvixTracker(const char* configPath_)
    : configPath(configPath_ != nullptr ? configPath_ : ""), messageSink(nullptr), activeConfig(nullptr),
      pendingConfig(nullptr), detector(nullptr), poseModel(nullptr), auModel(nullptr), meshModel(nullptr),
      poseModelLoaded(false), auModelLoaded(false), meshModelLoaded(false), auModelDisabled(false),
      meshModelDisabled(false), faceCount(0), frameWidth(0), frameHeight(0), pixelFormat(0), frameHeader(nullptr),
      grayFrame(nullptr), previousGray(nullptr), smoothingFactors(nullptr), smoothingEnabled(1), denoiseInput(0),
      recoveryTimeout(0.0f), ipd(0.065f), clockBase(0), ringIndex(-1), framesPerSecond(1000.0f), frameTimeStamp(0),
      callerTimeStamp(-1), changeFlags(0), active(false), geometryReady(false), initialised(false),
      initializationFailed(false)
{
    Common::setCfgDirPath(configPath.c_str(), configDir);
    ONNInit(configDir);
    messageSink = new TrackerInternalInterface();
    activeConfig = new OrvixConfiguration(configPath.c_str());
    pendingConfig = new OrvixConfiguration(*activeConfig);
    std::fill(units, units + MAX_FACES, nullptr);
    std::fill(statuses, statuses + MAX_FACES, 0);
    std::fill(frameTimes, frameTimes + 10, 0LL);
    pthread_mutex_init(&frameLock, nullptr);
    pthread_mutex_init(&configLock, nullptr);
}

OrvixTracker::~OrvixTracker()
{
    active = false;
    // The units' cores work on the detector's data: they go first.
    deleteUnits();
    delete detector;
    delete messageSink;
    if (grayFrame != nullptr)
        cvReleaseImage(&grayFrame);
    if (previousGray != nullptr)
        cvReleaseImage(&previousGray);
    if (frameHeader != nullptr)
        cvReleaseImageHeader(&frameHeader);
    if (smoothingFactors != nullptr)
        cvReleaseMat(&smoothingFactors);
    deleteModels();
    delete activeConfig;
    delete pendingConfig;
    pthread_mutex_destroy(&frameLock);
    pthread_mutex_destroy(&configLock);
}

OrvixDetector* OrvixTracker::createDetector(const char* faceDetectorPath)
{
    return new OrvixDetector(faceDetectorPath);
}

long long OrvixTracker::currentTimeMs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000LL + now.tv_nsec / 1000000;
}

// ---------------------------------------------------------------------------
// Frames

int* OrvixTracker::track(int width, int height, const char* pixels, FaceData* faces, int format, int /*origin*/,
                         int widthStep, long timeStamp, int maxFaces)
{
    pthread_mutex_lock(&frameLock);
    try {
        trackLocked(width, height, pixels, faces, format, widthStep, timeStamp, maxFaces);
    } catch (const std::exception&) {
        // Nothing may escape to the caller: an out-of-memory or image error
        // leaves the tracker inactive, to be set up again at the next frame.
        active = false;
        geometryReady = false;
        faceCount = 0;
        terminateFrame();
    }
    pthread_mutex_unlock(&frameLock);
    return statuses;
}

void OrvixTracker::terminateFrame()
{
    std::fill(statuses, statuses + MAX_FACES, 0);
}

void OrvixTracker::trackLocked(int width, int height, const char* pixels, FaceData* faces, int format,
                               int widthStep, long timeStamp, int maxFaces)
{
    const int channels = channelsOf(format);
    bool valid = pixels != nullptr && channels > 0 && width > 0 && height > 0;
    long long rowLength = 0;
    if (valid) {
        const long long pixelBytes = static_cast<long long>(width) * channels;
        rowLength = widthStep > 0 ? widthStep : pixelBytes;
        // A row shorter than its pixels would make the conversion read past
        // the caller's rows; a frame whose byte count does not fit in an int
        // cannot be described by an image header.
        valid = rowLength >= pixelBytes && rowLength * height <= INT_MAX;
    }
    if (!valid) {
        active = false;
        geometryReady = false;
        frameWidth = frameHeight = pixelFormat = faceCount = 0;
        terminateFrame();
        return;
    }

    pthread_mutex_lock(&configLock);
    changeFlags = pendingConfig->getChanges();
    if (changeFlags != 0)
        *activeConfig = *pendingConfig;
    pthread_mutex_unlock(&configLock);

    // Folders of refinements that are off need no reload.
    if (activeConfig->getProcessEyes() == 0)
        changeFlags &= ~kPupilFolderBit;
    if (activeConfig->getRefineEars() == 0)
        changeFlags &= ~kEarsFolderBit;
    if (width != frameWidth || height != frameHeight || format != pixelFormat)
        changeFlags |= kGeometryBit;
    if (changeFlags != 0) {
        active = false;
        geometryReady = false;
    }

    const int n = std::min(std::max(maxFaces, 1), MAX_FACES);
    if (n != faceCount) {
        active = false;
        geometryReady = false;
        changeFlags = kAllBits;
    }
    // After a failed initialisation any change retries from scratch.
    if (initializationFailed && changeFlags != 0)
        changeFlags = kAllBits;

    if (!geometryReady) {
        frameWidth = width;
        frameHeight = height;
        pixelFormat = format;
        faceCount = n;
        if (frameHeader != nullptr)
            cvReleaseImageHeader(&frameHeader);
        frameHeader = cvCreateImageHeader(cvSize(width, height), IPL_DEPTH_8U, channels);
        active = Init();
        // Also after a failure: the tracker then waits for a change instead
        // of retrying on every frame.
        geometryReady = true;
    }

    if (!active) {
        terminateFrame();
        return;
    }

    callerTimeStamp = timeStamp;
    cvSetData(frameHeader, const_cast<char*>(pixels), static_cast<int>(rowLength));
    grabFrame(false);

    // The slot that searches this frame: the lowest one not tracking.
    int searchSlot = 0;
    for (int i = 0; i < faceCount; ++i) {
        if (statuses[i] != OrvixTrackerInternal::STATUS_TRACKING) {
            searchSlot = i;
            break;
        }
    }

    // Each slot is told the faces that the other slots tracked in the
    // previous frame, so that two slots never follow the same face.
    int tracking = 0;
    for (int i = 0; i < faceCount; ++i) {
        units[i]->otherFaces.clear();
        for (int j = 0; j < faceCount; ++j) {
            if (j != i && statuses[j] == OrvixTrackerInternal::STATUS_TRACKING && units[j]->core != nullptr)
                units[i]->otherFaces.push_back(units[j]->core->getFaceBoundingBox());
        }
        if (statuses[i] == OrvixTrackerInternal::STATUS_TRACKING)
            ++tracking;
    }

    // One thread per slot that runs: the tracking ones and the searching
    // one, within the caller's OpenMP thread limit.  The count is given to
    // this region only, so the caller's own OpenMP settings stay untouched.
    const int threads = std::max(1, std::min({faceCount, tracking + 1, omp_get_max_threads()}));
    const bool reinitRecords = faces != nullptr && (changeFlags & kModelsBit) != 0;
    const long frameTime = static_cast<long>(frameTimeStamp);
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads)
    for (int i = 0; i < faceCount; ++i) {
        try {
            if (reinitRecords)
                faces[i].reinit();
            if (i == searchSlot || statuses[i] == OrvixTrackerInternal::STATUS_TRACKING) {
                statuses[i] = units[i]->update(grayFrame, frameTime, framesPerSecond);
                if (faces != nullptr)
                    units[i]->getTrackingData(faces + i);
            }
        } catch (const std::exception&) {
            // An exception cannot leave the parallel region; the slot just
            // reports nothing for this frame.
            statuses[i] = OrvixTrackerInternal::STATUS_OFF;
        }
    }
}

void OrvixTracker::grabFrame(bool resetRing)
{
    if (resetRing)
        ringIndex = -1;
    const long long t = currentTimeMs() - clockBase;
    if (ringIndex == -1) {
        ringIndex = 0;
        std::fill(frameTimes, frameTimes + 10, 0LL);
    }
    const int i = (ringIndex + 1) % 10;
    ringIndex = i;
    if (t == 0) {
        framesPerSecond = 1.0f;
    } else {
        // Ten frames within one millisecond, or a clock set back, give no
        // usable span: the rate keeps its last value.
        const long long span = t - frameTimes[i];
        if (span > 0)
            framesPerSecond = 10000.0f / static_cast<float>(span);
    }
    frameTimes[i] = t;
    frameTimeStamp = callerTimeStamp == -1 ? t : callerTimeStamp;

    if (grayFrame == nullptr) {
        grayFrame = cvCreateImage(cvSize(frameWidth, frameHeight), IPL_DEPTH_8U, 1);
        // The row padding is never written by the conversion; zeroing it
        // keeps every byte of the buffer defined for the denoising.
        std::memset(grayFrame->imageData, 0, static_cast<std::size_t>(grayFrame->imageSize));
    }
    if (resetRing)
        return;
    convertToGray();
    if (denoiseInput == 1)
        denoise();
}

void OrvixTracker::convertToGray()
{
    switch (pixelFormat) {
    case 0:
        cvCvtColor(frameHeader, grayFrame, CV_RGB2GRAY);
        break;
    case 1:
        cvCvtColor(frameHeader, grayFrame, CV_BGR2GRAY);
        break;
    case 2:
        cvCopy(frameHeader, grayFrame);
        break;
    case 3:
        cvCvtColor(frameHeader, grayFrame, CV_RGBA2GRAY);
        break;
    case 4:
        cvCvtColor(frameHeader, grayFrame, CV_BGRA2GRAY);
        break;
    default:
        break;
    }
}

// Temporal denoising: where a byte moved by more than 3 since the reference,
// the reference follows it; otherwise the frame keeps the reference value.
// Either way both end up equal, so small flicker is frozen while real
// changes pass at once.
void OrvixTracker::denoise()
{
    if (previousGray == nullptr) {
        previousGray = cvCloneImage(grayFrame);
        return;
    }
    // Two separate buffers; written byte-wise so that the compiler can
    // process many bytes per instruction.
    unsigned char* __restrict current = reinterpret_cast<unsigned char*>(grayFrame->imageData);
    unsigned char* __restrict reference = reinterpret_cast<unsigned char*>(previousGray->imageData);
    const int size = std::min(grayFrame->imageSize, previousGray->imageSize);
    for (int k = 0; k < size; ++k) {
        const unsigned char c = current[k];
        const unsigned char r = reference[k];
        const unsigned char difference = c > r ? static_cast<unsigned char>(c - r) : static_cast<unsigned char>(r - c);
        const unsigned char v = difference > 3 ? c : r;
        current[k] = v;
        reference[k] = v;
    }
}

// ---------------------------------------------------------------------------
// Initialisation

bool OrvixTracker::Init()
{
    initialised = false;
    terminateFrame();
    initializationFailed = false;
    lastError.clear();

    // A slot without a tracking unit can only be set up from scratch.
    for (int i = 0; i < faceCount; ++i) {
        if (units[i] == nullptr)
            changeFlags = kAllBits;
    }

    if ((changeFlags & kDetectorMask) != 0 && !initDetector()) {
        // The units are rebuilt from scratch once the data can be loaded.
        deleteUnits();
        initializationFailed = true;
        return false;
    }
    if ((changeFlags & kModelsBit) != 0)
        initModels();

    clockBase = currentTimeMs();
    if (grayFrame != nullptr)
        cvReleaseImage(&grayFrame);
    if (previousGray != nullptr)
        cvReleaseImage(&previousGray);
    grabFrame(true);

    initTrackerInternal();
    active = true;
    initialised = true;
    return true;
}

bool OrvixTracker::initDetector()
{
    const OrvixConfiguration& cfg = *activeConfig;
    ONNTrackerCore::setFaceScaleSearchRange(cfg.getMinFaceScale(), cfg.getMaxFaceScale());
    ONNTrackerCore::setFaceDetectorSensitivity(cfg.getFaceDetectorSensitivity());
    const bool refinePupils = (cfg.getProcessEyes() & 2) != 0;
    const bool refineEars = cfg.getRefineEars() != 0;

    if (cfg.getOfdDataPath() != detectorPath || cfg.getOftDataPath() != alignPath || detector == nullptr) {
        detectorPath = cfg.getOfdDataPath();
        alignPath = cfg.getOftDataPath();
        // Cores built on the old detector's data go with it; the units get
        // new ones (the folder bits are set whenever the folders change).
        for (OrvixTrackerInternal* unit : units) {
            if (unit != nullptr) {
                delete unit->core;
                unit->core = nullptr;
            }
        }
        delete detector;
        detector = nullptr;
        detector = createDetector(detectorPath.c_str());
    }

    int missing = 3;
    if (detector != nullptr) {
        if ((changeFlags & kAlignDataMask) != 0) {
            detector->setUseONN(cfg.getRefineLandmarks() != 0 ? 2 : 1);
            detector->deleteAlignData();
            detector->loadAlignData(alignPath.c_str());
            detector->deleteFaceDetectorData();
            detector->loadFaceDetectorData(detectorPath.c_str());
        }
        if ((changeFlags & kPupilDataMask) != 0) {
            pupilPath = cfg.getPrDataPath();
            detector->setRefinePupils(refinePupils);
            detector->deletePupilNNModel();
            if (refinePupils)
                detector->loadPupilNNModel(pupilPath.c_str());
        }
        if ((changeFlags & kEarsDataMask) != 0) {
            earsPath = cfg.getErDataPath();
            detector->setRefineEars(refineEars);
            detector->deleteEarsCascades();
            if (refineEars)
                detector->loadEarsCascades(earsPath.c_str());
        }
        missing = detector->isInitialized();
    }
    if (missing == 0)
        return true;

    std::string message = "Detector initialisation failed while loading following data.\n";
    if (missing & 1)
        message += "Detector data with provided path: " + detectorPath + ".\n";
    if (missing & 2)
        message += "Align data with provided path: " + alignPath + ".\n";
    if (missing & 4)
        message += "Ears data with provided path: " + earsPath + ".\n";
    if (missing & 8)
        message += "Pupils data with provided path:  " + pupilPath + ".\n";
    message += "Working directory : " + workingDirectory(448);
    messageSink->displayMessage(message.c_str(), "Detector initialisation failed", 16);
    lastError = message;
    return false;
}

void OrvixTracker::deleteModels()
{
    deleteSharedModels(poseModel, auModel, meshModel);
}

void OrvixTracker::deleteUnits()
{
    for (OrvixTrackerInternal*& unit : units) {
        delete unit;
        unit = nullptr;
    }
}

void OrvixTracker::initModels()
{
    deleteModels();
    poseModelLoaded = auModelLoaded = meshModelLoaded = false;
    auModelDisabled = activeConfig->isAuModelDisabled();
    meshModelDisabled = activeConfig->isMeshModelDisabled();

    poseModel = loadModel(Candide3Model::POSE_FITTING_MODEL);
    poseModelLoaded = poseModel != nullptr;
    if (!auModelDisabled) {
        auModel = loadModel(Candide3Model::AU_FITTING_MODEL);
        auModelLoaded = auModel != nullptr;
    }
    if (!meshModelDisabled) {
        meshModel = loadModel(Candide3Model::MESH_FITTING_MODEL);
        meshModelLoaded = meshModel != nullptr;
    }

    // The pose is fitted on a reduced mesh unless the pose model also
    // serves as the mesh model.
    if (poseModelLoaded && meshModel != poseModel) {
        Candide3Model* reduced = new Candide3Model();
        reduced->initReduced(poseModel);
        if (auModel == poseModel)
            auModel = reduced;
        delete poseModel;
        poseModel = reduced;
    }
}

Candide3Model* OrvixTracker::loadModel(int type)
{
    const OrvixConfiguration& cfg = *activeConfig;
    std::string path;
    const char* name = "";
    switch (type) {
    case Candide3Model::POSE_FITTING_MODEL:
        path = cfg.getPoseFittingModelConfiguration();
        name = "Pose fitting model";
        break;
    case Candide3Model::AU_FITTING_MODEL:
        path = cfg.getAuFittingModelConfiguration();
        name = "Au fitting model";
        break;
    default:
        path = cfg.getMeshFittingModelConfiguration();
        name = "Mesh fitting model";
        break;
    }
    if (path.empty() || path == "none")
        return nullptr;

    // A model named by the same file as one loaded before shares its object.
    if (type != Candide3Model::POSE_FITTING_MODEL && poseModel != nullptr &&
        path == cfg.getPoseFittingModelConfiguration())
        return poseModel;
    if (type == Candide3Model::MESH_FITTING_MODEL && auModel != nullptr &&
        path == cfg.getAuFittingModelConfiguration())
        return auModel;

    Candide3Model* model = new Candide3Model();
    if (model->init(activeConfig, configDir, static_cast<Candide3Model::MODEL_TYPE>(type))) {
        model->setIPD(ipd);
        return model;
    }
    const std::string message =
        std::string(name) + " initialisation failed (loading data).\nWorking directory: " + workingDirectory(448);
    messageSink->displayMessage(message.c_str(), "Model initialisation failed", 16);
    delete model;
    return nullptr;
}

void OrvixTracker::initTrackerInternal()
{
    const OrvixConfiguration& cfg = *activeConfig;
    if (changeFlags == kAllBits) {
        deleteUnits();
        for (int i = 0; i < faceCount; ++i)
            units[i] = new OrvixTrackerInternal();
        if (smoothingFactors != nullptr)
            cvReleaseMat(&smoothingFactors);
        smoothingFactors = cvCreateMat(8, 1, CV_32FC1);
        cvSet(smoothingFactors, cvScalarAll(-1.0));
    }

    if ((changeFlags & kSmoothingFactorsBit) != 0) {
        const CvMat* configured = cfg.getSmoothingFactorsMatrix();
        if (smoothingFactors != nullptr && configured != nullptr && configured->rows * configured->cols == 8 &&
            CV_MAT_TYPE(configured->type) == CV_32FC1)
            std::memcpy(smoothingFactors->data.fl, configured->data.fl, 8 * sizeof(float));
    }
    if ((changeFlags & kEnableSmoothingBit) != 0)
        smoothingEnabled = cfg.getEnableSmoothing();
    if ((changeFlags & kDenoiseBit) != 0)
        denoiseInput = cfg.getTemporallyDenoiseInput();
    if ((changeFlags & kRecoveryTimeoutBit) != 0)
        recoveryTimeout = cfg.getRecoveryTimeout();

    for (Candide3Model* model : DistinctModels(poseModel, auModel, meshModel)) {
        if ((changeFlags & kProcessEyesBit) != 0)
            model->processEyes = static_cast<int>(cfg.getProcessEyes() & 1);
        if ((changeFlags & kCameraFocusBit) != 0)
            model->focus = cfg.getCameraFocus();
    }

    const std::string fittingAlgorithm = cfg.getFittingAlgorithm();
    for (int i = 0; i < faceCount; ++i) {
        units[i]->init(detector, poseModel, auModel, meshModel, smoothingFactors, smoothingEnabled, fittingAlgorithm,
                       static_cast<int>(changeFlags));
        if ((changeFlags & kModelsBit) != 0)
            units[i]->setIPD(ipd);
        if ((changeFlags & kRecoveryTimeoutBit) != 0)
            units[i]->recoveryTimeoutMs = timeoutMilliseconds(recoveryTimeout);
    }
}

// ---------------------------------------------------------------------------
// Control

void OrvixTracker::resetLocked()
{
    frameWidth = frameHeight = pixelFormat = faceCount = 0;
    geometryReady = false;
}

void OrvixTracker::reset()
{
    pthread_mutex_lock(&frameLock);
    resetLocked();
    pthread_mutex_unlock(&frameLock);
}

void OrvixTracker::finishLocked()
{
    if (!initialised)
        return;
    active = false;
    for (int i = 0; i < faceCount; ++i) {
        if (units[i] != nullptr)
            units[i]->swapTrackingData();
    }
    initialised = false;
}

void OrvixTracker::Finish()
{
    pthread_mutex_lock(&frameLock);
    finishLocked();
    pthread_mutex_unlock(&frameLock);
}

void OrvixTracker::stop()
{
    pthread_mutex_lock(&frameLock);
    if (active) {
        active = false;
        if (geometryReady) {
            finishLocked();
            resetLocked();
        }
    }
    pthread_mutex_unlock(&frameLock);
}

void OrvixTracker::setIPD(float newIpd)
{
    pthread_mutex_lock(&frameLock);
    ipd = newIpd;
    if (active) {
        for (int i = 0; i < faceCount; ++i) {
            if (units[i] != nullptr)
                units[i]->setIPD(newIpd);
        }
        for (Candide3Model* model : DistinctModels(poseModel, auModel, meshModel))
            model->setIPD(newIpd);
        resetLocked();
    }
    pthread_mutex_unlock(&frameLock);
}

float OrvixTracker::getIPD() const
{
    pthread_mutex_lock(&frameLock);
    const float value = ipd;
    pthread_mutex_unlock(&frameLock);
    return value;
}

bool OrvixTracker::isInitializationFailed() const
{
    pthread_mutex_lock(&frameLock);
    const bool failed = initializationFailed;
    pthread_mutex_unlock(&frameLock);
    return failed;
}

std::string OrvixTracker::getLastError() const
{
    pthread_mutex_lock(&frameLock);
    const std::string message = lastError;
    pthread_mutex_unlock(&frameLock);
    return message;
}

// ---------------------------------------------------------------------------
// Configuration

void OrvixTracker::setTrackerConfiguration(const char* path, bool disableAu, bool disableMesh)
{
    // Read outside the lock: a frame may be running meanwhile.
    OrvixConfiguration fresh(path);
    pthread_mutex_lock(&configLock);
    OrvixConfiguration::swap(*pendingConfig, fresh);
    if (disableAu)
        pendingConfig->disableAuModel();
    else
        pendingConfig->enableAuModel();
    if (disableMesh)
        pendingConfig->disableMeshModel();
    else
        pendingConfig->enableMeshModel();
    pthread_mutex_unlock(&configLock);
}

void OrvixTracker::setTrackerConfiguration(OrvixConfiguration& config)
{
    OrvixConfiguration copy(config);
    pthread_mutex_lock(&configLock);
    const unsigned taken = pendingConfig->getChanges();
    OrvixConfiguration::swap(*pendingConfig, copy);
    pendingConfig->changes = taken | config.getChanges();
    pthread_mutex_unlock(&configLock);
}

OrvixConfiguration OrvixTracker::getTrackerConfiguration()
{
    pthread_mutex_lock(&configLock);
    OrvixConfiguration copy(*pendingConfig);
    pthread_mutex_unlock(&configLock);
    return copy;
}

// ---------------------------------------------------------------------------
// Static helpers

void OrvixTracker::setPose(float* pose, const float* rotation, const float* translation)
{
    if (pose == nullptr || rotation == nullptr || translation == nullptr)
        return;
    for (int k = 0; k < 3; ++k) {
        pose[k] = translation[k];
        pose[3 + k] = rotation[k];
    }
}

void OrvixTracker::processEyesClosure(const IplImage* frame, FDP* points, const float* translation,
                                      const float* rotation, float* out)
{
    if (out == nullptr)
        return;
    out[0] = out[1] = kClosedEyeUnknown;
    if (points == nullptr || frame == nullptr || translation == nullptr || rotation == nullptr)
        return;
    // Lids 3.1 to 3.4 and, as the measure, the pupils 3.5 and 3.6.
    for (int i = 1; i <= 6; ++i) {
        if (!points->FPIsDefined(3, i))
            return;
    }
    float w = static_cast<float>(frame->width);
    float h = static_cast<float>(frame->height);
    if (frame->roi != nullptr) {
        w = static_cast<float>(frame->roi->width);
        h = static_cast<float>(frame->roi->height);
    }
    float px[7];
    float py[7];
    for (int i = 1; i <= 6; ++i) {
        const float* p = points->getFPPos(3, i);
        px[i] = p[0] * w;
        py[i] = (1.0f - p[1]) * h;
    }
    const float d = std::hypot(px[5] - px[6], py[5] - py[6]);
    if (!(d > 0.0f))
        return;
    const float a = rotation[1] - std::atan2(translation[0], translation[2]);
    if (a < 1.5f * kPi)
        out[0] = std::hypot(px[1] - px[3], py[1] - py[3]) / d;
    if (a > 0.5f * kPi)
        out[1] = std::hypot(px[2] - px[4], py[2] - py[4]) / d;
}

void OrvixTracker::GetPupilCoords(FDP* points, CvMat* out, int width, int height)
{
    if (points == nullptr || out == nullptr || out->data.ptr == nullptr || CV_MAT_TYPE(out->type) != CV_32FC1 ||
        !CV_IS_MAT_CONT(out->type) || out->rows * out->cols < 4 || width <= 0 || height <= 0)
        return;
    const float ax = width > height ? static_cast<float>(width) / static_cast<float>(height) : 1.0f;
    const float ay = height > width ? static_cast<float>(height) / static_cast<float>(width) : 1.0f;
    const float* left = points->getFPPos(3, 5);
    const float* right = points->getFPPos(3, 6);
    float* o = out->data.fl;
    o[0] = (1.0f - 2.0f * left[0]) * ax;
    o[1] = (1.0f - 2.0f * left[1]) * ay;
    o[2] = (1.0f - 2.0f * right[0]) * ax;
    o[3] = (1.0f - 2.0f * right[1]) * ay;
}

}  // namespace OrvixSDK
