#ifndef ORVIXSDK_ORVIXCONFIGURATION_H
#define ORVIXSDK_ORVIXCONFIGURATION_H

#include <string>

#include <opencv2/core/types_c.h>

#include "OrvixSDK/Export.h"
#include "OrvixSDK/OxCfgArr.h"

namespace OrvixSDK {

class ModelConfiguration;

// Every setting of the video tracker: its data folders, the face models it
// fits, smoothing, refinements and the camera's focal length.  It is read
// from a tracker configuration file and can be changed through setters.
//
// A flag word records which settings changed since the tracker last asked
// (getChanges), so that the tracker rebuilds only what a change concerns:
//   bit 0  (0x1)    AU / mesh model switches, the three fitting-model files
//   bit 1  (0x2)    refine ears            bit 2  (0x4)    process eyes
//   bit 3  (0x8)    camera focus           bit 4  (0x10)   recovery time-out
//   bit 5  (0x20)   smoothing factors      bit 6  (0x40)   face scales, sensitivity
//   bit 7  (0x80)   refine landmarks       bit 8  (0x100)  face-detector folder
//   bit 9  (0x200)  alignment folder       bit 10 (0x400)  ears folder
//   bit 11 (0x800)  pupil folder           bit 13 (0x2000) enable smoothing
//   bit 14 (0x4000) temporal denoising     bit 15 (0x8000) fitting algorithm
// (bit 12 is the tracker's own: frame geometry.)  A new configuration has
// every bit set.
//
// Setters return true when they accept the value, store it and raise their
// bit; a refused value changes nothing.  Values read from a file are stored
// without the setters' range tests.
class ORVIX_API OrvixConfiguration {
public:
    // Every default; no smoothing factors; every change bit set.
    OrvixConfiguration();
    // Defaults, then setConfigurationFile(path).
    explicit OrvixConfiguration(const char* path);
    // Copies every field, the change flags included; the smoothing factors
    // and the fitting-model configurations are copied deeply.
    OrvixConfiguration(const OrvixConfiguration& other);
    OrvixConfiguration& operator=(OrvixConfiguration other);
    ~OrvixConfiguration();

    static void swap(OrvixConfiguration& a, OrvixConfiguration& b);

    // Resets every setting to its default and reads the tracker
    // configuration file at path.  Paths in the file are relative to the
    // file's folder.  A file that cannot be opened prints a message and
    // leaves the defaults.  Always returns true.
    bool setConfigurationFile(const char* path);

    // Change flags raised since the last call; clears them.
    unsigned getChanges();

    float getCameraFocus() const { return cameraFocus; }
    float getRecoveryTimeout() const { return recoveryTimeout; }
    // The eight smoothing factors; empty when there are none (a
    // configuration that was not read from a file).
    OxCfgArr<float> getSmoothingFactors() const;
    unsigned getEnableSmoothing() const { return enableSmoothing; }
    unsigned getTemporallyDenoiseInput() const { return temporallyDenoiseInput; }
    std::string getOftDataPath() const { return oftDataPath; }
    std::string getOfdDataPath() const { return ofdDataPath; }
    std::string getPrDataPath() const { return prDataPath; }
    std::string getErDataPath() const { return erDataPath; }
    unsigned getProcessEyes() const { return processEyes; }
    unsigned getRefineLandmarks() const { return refineLandmarks; }
    unsigned getRefineEars() const { return refineEars; }
    float getMinFaceScale() const { return minFaceScale; }
    float getMaxFaceScale() const { return maxFaceScale; }
    float getFaceDetectorSensitivity() const { return faceDetectorSensitivity; }
    std::string getFittingAlgorithm() const { return fittingAlgorithm; }
    // Paths of the three fitting-model configuration files.
    std::string getPoseFittingModelConfiguration() const { return poseModelConfig; }
    std::string getAuFittingModelConfiguration() const { return auModelConfig; }
    std::string getMeshFittingModelConfiguration() const { return meshModelConfig; }

    // Read-only views for the tracker and the face models.
    const std::string& getConfigDir() const { return configDir; }
    const std::string& getLogFileName() const { return logFileName; }
    bool isAuModelDisabled() const { return auModelDisabled; }
    bool isMeshModelDisabled() const { return meshModelDisabled; }
    // 8 x 1 float matrix, or null when there are no smoothing factors.
    const CvMat* getSmoothingFactorsMatrix() const { return smoothingFactors; }
    // The loaded fitting-model configurations, or null.
    const ModelConfiguration* getPoseModelConfiguration() const { return poseModelConfiguration; }
    const ModelConfiguration* getAuModelConfiguration() const { return auModelConfiguration; }
    const ModelConfiguration* getMeshModelConfiguration() const { return meshModelConfiguration; }
    // By model type: 1 pose, 2 action units, 3 mesh; null for other types.
    const ModelConfiguration* getModelConfiguration(int type) const;

    bool setCameraFocus(float focus);                  // > 0
    bool setRecoveryTimeout(float timeout);            // >= 0, milliseconds
    bool setSmoothingFactors(const OxCfgArr<float>& factors);  // exactly 8, factors must exist
    bool setMinFaceScale(float scale);                 // 0 .. 1
    bool setMaxFaceScale(float scale);                 // 0 .. 1
    bool setFaceDetectorSensitivity(float sensitivity);  // 0 .. 1
    bool setRefineLandmarks(unsigned refine);          // 0 or 1
    bool setRefineEars(unsigned refine);               // 0 or 1
    bool setProcessEyes(unsigned process);             // 0 .. 3
    bool setEnableSmoothing(unsigned enable);          // 0 or 1
    bool setTemporallyDenoiseInput(unsigned denoise);  // 0 or 1
    // "", "none" (both stored as "": no fitting) or "eif_pose_su_au".
    bool setFittingAlgorithm(std::string algorithm);
    // Non-empty; stored with the configuration folder in front, also when
    // the value is an absolute path.
    bool setOfdDataPath(std::string path);
    bool setOftDataPath(std::string path);
    bool setErDataPath(std::string path);
    bool setPrDataPath(std::string path);
    // "" or "none" removes the model; any other value is a file relative to
    // the configuration folder, which must load, else false and no change.
    bool setPoseFittingModelConfiguration(std::string path);
    bool setAuFittingModelConfiguration(std::string path);
    bool setMeshFittingModelConfiguration(std::string path);

    // Model switches; each raises bit 0 only when it changes the switch.
    void enableAuModel();
    void disableAuModel();
    void enableMeshModel();
    void disableMeshModel();

    // Change flags (bit list above).  Public so that the tracker can carry
    // flags from one configuration over to another.
    unsigned changes;

private:
    void resetToDefaults();
    // Frees the smoothing factors and the three fitting-model configurations.
    void clean();
    bool setModelConfiguration(const std::string& value, std::string& pathField, ModelConfiguration*& owned);
    // Sets a model's disabled switch; raises bit 0 only when it changes.
    void setModelSwitch(bool& disabled, bool disable);

    std::string oftDataPath;
    std::string ofdDataPath;
    std::string prDataPath;
    std::string erDataPath;
    std::string fittingAlgorithm;
    std::string poseModelConfig;
    std::string auModelConfig;
    std::string meshModelConfig;
    CvMat* smoothingFactors;
    float cameraFocus;
    float recoveryTimeout;
    float minFaceScale;
    float maxFaceScale;
    float faceDetectorSensitivity;
    unsigned enableSmoothing;
    unsigned temporallyDenoiseInput;
    unsigned processEyes;
    unsigned refineLandmarks;
    unsigned refineEars;
    bool auModelDisabled;
    bool meshModelDisabled;
    ModelConfiguration* poseModelConfiguration;
    ModelConfiguration* auModelConfiguration;
    ModelConfiguration* meshModelConfiguration;
    std::string logFileName;
    std::string configDir;
};

}  // namespace OrvixSDK

#endif
