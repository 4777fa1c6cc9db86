#include "OrvixSDK/OrvixConfiguration.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include <opencv2/core/core_c.h>

#include "config/FileIO.h"
#include "config/ModelConfiguration.h"
#include "support/Common.h"

namespace OrvixSDK {

namespace {

const unsigned kAllChanges = ~0u;

const unsigned kModelsChanged = 0x1;
const unsigned kRefineEarsChanged = 0x2;
const unsigned kProcessEyesChanged = 0x4;
const unsigned kCameraFocusChanged = 0x8;
const unsigned kRecoveryTimeoutChanged = 0x10;
const unsigned kSmoothingFactorsChanged = 0x20;
const unsigned kFaceSearchChanged = 0x40;
const unsigned kRefineLandmarksChanged = 0x80;
const unsigned kOfdDataPathChanged = 0x100;
const unsigned kOftDataPathChanged = 0x200;
const unsigned kErDataPathChanged = 0x400;
const unsigned kPrDataPathChanged = 0x800;
const unsigned kEnableSmoothingChanged = 0x2000;
const unsigned kDenoiseChanged = 0x4000;
const unsigned kFittingAlgorithmChanged = 0x8000;

const int kSmoothingFactorCount = 8;

const char* const kFittingAlgorithmName = "eif_pose_su_au";

bool isUnitInterval(float value)
{
    // Written so that NaN fails.
    return value >= 0.0f && value <= 1.0f;
}

bool isNone(const std::string& value)
{
    return value.empty() || value == "none";
}

// Stores value in field and raises bit when accepted; a refused value
// changes nothing.
template <typename T>
bool acceptSetting(bool accepted, T& field, const T& value, unsigned bit, unsigned& changes)
{
    if (!accepted)
        return false;
    field = value;
    changes |= bit;
    return true;
}

}  // namespace

OrvixConfiguration::OrvixConfiguration()
    : changes(kAllChanges),
      smoothingFactors(nullptr),
      poseModelConfiguration(nullptr),
      auModelConfiguration(nullptr),
      meshModelConfiguration(nullptr)
{
    resetToDefaults();
}

OrvixConfiguration::OrvixConfiguration(const char* path)
    : OrvixConfiguration()
{
    setConfigurationFile(path);
}

OrvixConfiguration::OrvixConfiguration(const OrvixConfiguration& other)
    : changes(other.changes),
      oftDataPath(other.oftDataPath),
      ofdDataPath(other.ofdDataPath),
      prDataPath(other.prDataPath),
      erDataPath(other.erDataPath),
      fittingAlgorithm(other.fittingAlgorithm),
      poseModelConfig(other.poseModelConfig),
      auModelConfig(other.auModelConfig),
      meshModelConfig(other.meshModelConfig),
      smoothingFactors(other.smoothingFactors != nullptr ? cvCloneMat(other.smoothingFactors) : nullptr),
      cameraFocus(other.cameraFocus),
      recoveryTimeout(other.recoveryTimeout),
      minFaceScale(other.minFaceScale),
      maxFaceScale(other.maxFaceScale),
      faceDetectorSensitivity(other.faceDetectorSensitivity),
      enableSmoothing(other.enableSmoothing),
      temporallyDenoiseInput(other.temporallyDenoiseInput),
      processEyes(other.processEyes),
      refineLandmarks(other.refineLandmarks),
      refineEars(other.refineEars),
      auModelDisabled(other.auModelDisabled),
      meshModelDisabled(other.meshModelDisabled),
      poseModelConfiguration(nullptr),
      auModelConfiguration(nullptr),
      meshModelConfiguration(nullptr),
      logFileName(other.logFileName),
      configDir(other.configDir)
{
    if (other.poseModelConfiguration != nullptr)
        poseModelConfiguration = new ModelConfiguration(*other.poseModelConfiguration);
    if (other.auModelConfiguration != nullptr)
        auModelConfiguration = new ModelConfiguration(*other.auModelConfiguration);
    if (other.meshModelConfiguration != nullptr)
        meshModelConfiguration = new ModelConfiguration(*other.meshModelConfiguration);
}

OrvixConfiguration& OrvixConfiguration::operator=(OrvixConfiguration other)
{
    swap(*this, other);
    return *this;
}

OrvixConfiguration::~OrvixConfiguration()
{
    clean();
}

void OrvixConfiguration::swap(OrvixConfiguration& a, OrvixConfiguration& b)
{
    using std::swap;
    swap(a.changes, b.changes);
    swap(a.oftDataPath, b.oftDataPath);
    swap(a.ofdDataPath, b.ofdDataPath);
    swap(a.prDataPath, b.prDataPath);
    swap(a.erDataPath, b.erDataPath);
    swap(a.fittingAlgorithm, b.fittingAlgorithm);
    swap(a.poseModelConfig, b.poseModelConfig);
    swap(a.auModelConfig, b.auModelConfig);
    swap(a.meshModelConfig, b.meshModelConfig);
    swap(a.smoothingFactors, b.smoothingFactors);
    swap(a.cameraFocus, b.cameraFocus);
    swap(a.recoveryTimeout, b.recoveryTimeout);
    swap(a.minFaceScale, b.minFaceScale);
    swap(a.maxFaceScale, b.maxFaceScale);
    swap(a.faceDetectorSensitivity, b.faceDetectorSensitivity);
    swap(a.enableSmoothing, b.enableSmoothing);
    swap(a.temporallyDenoiseInput, b.temporallyDenoiseInput);
    swap(a.processEyes, b.processEyes);
    swap(a.refineLandmarks, b.refineLandmarks);
    swap(a.refineEars, b.refineEars);
    swap(a.auModelDisabled, b.auModelDisabled);
    swap(a.meshModelDisabled, b.meshModelDisabled);
    swap(a.poseModelConfiguration, b.poseModelConfiguration);
    swap(a.auModelConfiguration, b.auModelConfiguration);
    swap(a.meshModelConfiguration, b.meshModelConfiguration);
    swap(a.logFileName, b.logFileName);
    swap(a.configDir, b.configDir);
}

void OrvixConfiguration::clean()
{
    if (smoothingFactors != nullptr)
        cvReleaseMat(&smoothingFactors);
    smoothingFactors = nullptr;
    delete poseModelConfiguration;
    delete auModelConfiguration;
    delete meshModelConfiguration;
    poseModelConfiguration = nullptr;
    auModelConfiguration = nullptr;
    meshModelConfiguration = nullptr;
}

// Every field except the owned objects, which clean() releases.
void OrvixConfiguration::resetToDefaults()
{
    changes = kAllChanges;
    oftDataPath.clear();
    ofdDataPath.clear();
    prDataPath.clear();
    erDataPath.clear();
    fittingAlgorithm = kFittingAlgorithmName;
    poseModelConfig.clear();
    auModelConfig.clear();
    meshModelConfig.clear();
    cameraFocus = 0.0f;
    recoveryTimeout = 0.0f;
    minFaceScale = 0.15f;
    maxFaceScale = 1.0f;
    faceDetectorSensitivity = 0.5f;
    enableSmoothing = 1;
    temporallyDenoiseInput = 1;
    processEyes = 3;
    refineLandmarks = 0;
    refineEars = 0;
    auModelDisabled = false;
    meshModelDisabled = false;
    logFileName.clear();
    configDir.clear();
}

bool OrvixConfiguration::setConfigurationFile(const char* path)
{
    clean();
    resetToDefaults();

    char directory[Common::kPathBufferSize];
    Common::setCfgDirPath(path, directory);
    configDir = directory;
    // The folder is a prefix of path; the file name is the rest.
    const std::string fileName = path != nullptr ? std::string(path + std::strlen(directory)) : std::string();

    // A file that cannot be opened gives an empty text: every key is then
    // missing and keeps its default.
    const std::string text = FileIO::read_file(fileName, directory, false);

    FileIO::read_setting(text, "camera_focus", cameraFocus);
    FileIO::read_setting(text, "recovery_timeout", recoveryTimeout);
    FileIO::read_setting(text, "log_filename", logFileName);

    // The start-up log is relative to the working directory.
    FILE* log = nullptr;
    if (logFileName.size() > 1) {
        log = std::fopen(logFileName.c_str(), "w");
        if (log != nullptr)
            std::fprintf(log, "orvix|SDK version: %s.%s\n", "9.1", "0");
    }

    smoothingFactors = cvCreateMat(kSmoothingFactorCount, 1, CV_32FC1);
    cvSet(smoothingFactors, cvScalarAll(-1.0));
    FileIO::read_settings_list_f32(text, "smoothing_factors", smoothingFactors);

    FileIO::read_setting(text, "enable_smoothing", enableSmoothing);
    FileIO::read_setting(text, "temporally_denoise_input", temporallyDenoiseInput);
    FileIO::read_setting(text, "oft_data_path", oftDataPath);
    FileIO::read_setting(text, "ofd_data_path", ofdDataPath);
    FileIO::read_setting(text, "pr_data_path", prDataPath);
    FileIO::read_setting(text, "er_data_path", erDataPath);
    FileIO::read_setting(text, "process_eyes", processEyes);
    FileIO::read_setting(text, "refine_ears", refineEars);
    FileIO::read_setting(text, "min_face_scale", minFaceScale);
    FileIO::read_setting(text, "max_face_scale", maxFaceScale);
    FileIO::read_setting(text, "refine_landmarks", refineLandmarks);
    FileIO::read_setting(text, "face_detector_sensitivity", faceDetectorSensitivity);

    // Folders are always prefixed, so a missing folder key gives the
    // configuration folder itself.
    oftDataPath = configDir + oftDataPath;
    ofdDataPath = configDir + ofdDataPath;
    prDataPath = configDir + prDataPath;
    erDataPath = configDir + erDataPath;

    if (log != nullptr) {
        std::fprintf(log, "Initialising the detector\n");
        std::fclose(log);
    }

    // Stored as read: the file may name an algorithm the setter refuses.
    FileIO::read_setting(text, "fitting_algorithm", fittingAlgorithm);

    // A fitting-model file that fails to load leaves its word unprefixed in
    // the path field and no configuration object; the model loader of the
    // tracker then reports the model as failed.
    FileIO::read_setting(text, "pose_fitting_model_configuration", poseModelConfig);
    setPoseFittingModelConfiguration(poseModelConfig);
    FileIO::read_setting(text, "au_fitting_model_configuration", auModelConfig);
    setAuFittingModelConfiguration(auModelConfig);
    FileIO::read_setting(text, "mesh_fitting_model_configuration", meshModelConfig);
    setMeshFittingModelConfiguration(meshModelConfig);

    changes = kAllChanges;
    return true;
}

unsigned OrvixConfiguration::getChanges()
{
    const unsigned taken = changes;
    changes = 0;
    return taken;
}

OxCfgArr<float> OrvixConfiguration::getSmoothingFactors() const
{
    if (smoothingFactors == nullptr)
        return OxCfgArr<float>();
    OxCfgArr<float> factors(smoothingFactors->rows);
    for (int i = 0; i < smoothingFactors->rows; ++i)
        factors[i] = CV_MAT_ELEM(*smoothingFactors, float, i, 0);
    return factors;
}

const ModelConfiguration* OrvixConfiguration::getModelConfiguration(int type) const
{
    switch (type) {
    case 1:
        return poseModelConfiguration;
    case 2:
        return auModelConfiguration;
    case 3:
        return meshModelConfiguration;
    default:
        return nullptr;
    }
}

bool OrvixConfiguration::setCameraFocus(float focus)
{
    return acceptSetting(focus > 0.0f, cameraFocus, focus, kCameraFocusChanged, changes);
}

bool OrvixConfiguration::setRecoveryTimeout(float timeout)
{
    return acceptSetting(timeout >= 0.0f, recoveryTimeout, timeout, kRecoveryTimeoutChanged, changes);
}

bool OrvixConfiguration::setSmoothingFactors(const OxCfgArr<float>& factors)
{
    if (smoothingFactors == nullptr || factors.size != kSmoothingFactorCount || factors.data == nullptr)
        return false;
    for (int i = 0; i < kSmoothingFactorCount; ++i) {
        if (std::isnan(factors[i]))
            return false;
    }
    for (int i = 0; i < kSmoothingFactorCount; ++i)
        CV_MAT_ELEM(*smoothingFactors, float, i, 0) = factors[i];
    changes |= kSmoothingFactorsChanged;
    return true;
}

bool OrvixConfiguration::setMinFaceScale(float scale)
{
    return acceptSetting(isUnitInterval(scale), minFaceScale, scale, kFaceSearchChanged, changes);
}

bool OrvixConfiguration::setMaxFaceScale(float scale)
{
    return acceptSetting(isUnitInterval(scale), maxFaceScale, scale, kFaceSearchChanged, changes);
}

bool OrvixConfiguration::setFaceDetectorSensitivity(float sensitivity)
{
    return acceptSetting(isUnitInterval(sensitivity), faceDetectorSensitivity, sensitivity, kFaceSearchChanged,
                         changes);
}

bool OrvixConfiguration::setRefineLandmarks(unsigned refine)
{
    return acceptSetting(refine <= 1, refineLandmarks, refine, kRefineLandmarksChanged, changes);
}

bool OrvixConfiguration::setRefineEars(unsigned refine)
{
    return acceptSetting(refine <= 1, refineEars, refine, kRefineEarsChanged, changes);
}

bool OrvixConfiguration::setProcessEyes(unsigned process)
{
    return acceptSetting(process <= 3, processEyes, process, kProcessEyesChanged, changes);
}

bool OrvixConfiguration::setEnableSmoothing(unsigned enable)
{
    return acceptSetting(enable <= 1, enableSmoothing, enable, kEnableSmoothingChanged, changes);
}

bool OrvixConfiguration::setTemporallyDenoiseInput(unsigned denoise)
{
    return acceptSetting(denoise <= 1, temporallyDenoiseInput, denoise, kDenoiseChanged, changes);
}

bool OrvixConfiguration::setFittingAlgorithm(std::string algorithm)
{
    if (isNone(algorithm))
        fittingAlgorithm.clear();
    else if (algorithm == kFittingAlgorithmName)
        fittingAlgorithm = algorithm;
    else
        return false;
    changes |= kFittingAlgorithmChanged;
    return true;
}

bool OrvixConfiguration::setOfdDataPath(std::string path)
{
    return acceptSetting(!path.empty(), ofdDataPath, configDir + path, kOfdDataPathChanged, changes);
}

bool OrvixConfiguration::setOftDataPath(std::string path)
{
    return acceptSetting(!path.empty(), oftDataPath, configDir + path, kOftDataPathChanged, changes);
}

bool OrvixConfiguration::setErDataPath(std::string path)
{
    return acceptSetting(!path.empty(), erDataPath, configDir + path, kErDataPathChanged, changes);
}

bool OrvixConfiguration::setPrDataPath(std::string path)
{
    return acceptSetting(!path.empty(), prDataPath, configDir + path, kPrDataPathChanged, changes);
}

bool OrvixConfiguration::setModelConfiguration(const std::string& value, std::string& pathField,
                                               ModelConfiguration*& owned)
{
    if (isNone(value)) {
        pathField.clear();
        delete owned;
        owned = nullptr;
        changes |= kModelsChanged;
        return true;
    }

    const std::string path = configDir + value;
    ModelConfiguration* loaded = new ModelConfiguration();
    if (!loaded->loadConfigurationFile(path.c_str())) {
        delete loaded;
        return false;
    }
    pathField = path;
    delete owned;
    owned = loaded;
    changes |= kModelsChanged;
    return true;
}

bool OrvixConfiguration::setPoseFittingModelConfiguration(std::string path)
{
    return setModelConfiguration(path, poseModelConfig, poseModelConfiguration);
}

bool OrvixConfiguration::setAuFittingModelConfiguration(std::string path)
{
    return setModelConfiguration(path, auModelConfig, auModelConfiguration);
}

bool OrvixConfiguration::setMeshFittingModelConfiguration(std::string path)
{
    return setModelConfiguration(path, meshModelConfig, meshModelConfiguration);
}

void OrvixConfiguration::enableAuModel()
{
    setModelSwitch(auModelDisabled, false);
}

void OrvixConfiguration::disableAuModel()
{
    setModelSwitch(auModelDisabled, true);
}

void OrvixConfiguration::enableMeshModel()
{
    setModelSwitch(meshModelDisabled, false);
}

void OrvixConfiguration::disableMeshModel()
{
    setModelSwitch(meshModelDisabled, true);
}

void OrvixConfiguration::setModelSwitch(bool& disabled, bool disable)
{
    if (disabled != disable) {
        disabled = disable;
        changes |= kModelsChanged;
    }
}

}  // namespace OrvixSDK
