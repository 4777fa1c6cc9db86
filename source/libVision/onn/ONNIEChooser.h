#ifndef ONN_ONNIE_CHOOSER_H
#define ONN_ONNIE_CHOOSER_H

#include "onn/Config.h"
#include "onn/NNFrontend.h"
#include "onn/NNInterfaces.h"
#include "onn/Plugin.h"

namespace ONN
{

// Status codes of a frontend creation (ONNIEChooser::GetCodeStatus).
enum ECreateStatus
{
    CREATE_OK = 0,
    CREATE_NO_LIBRARY = -1,     // the plug-in library cannot be loaded, or the backend has no plug-in
    CREATE_NO_INITIALIZE = -4,  // the plug-in has no initialise entry point
    CREATE_NO_CREATE = -5,      // the plug-in has no create entry point
    CREATE_MODEL_NOT_LOADED = -6, // the plug-in's model is not loaded
    CREATE_INTEGRITY_FAILED = -7  // the plug-in library's size or digest differs (-2, -3: cannot be checked)
};

// Picks the backend for a model, has its plug-in loaded and makes a frontend
// for the model. Cheap and short-lived: one per model file.
class ONNIEChooser
{
public:
    // Copies the process-wide configuration (settled by ONNInit).
    ONNIEChooser();
    explicit ONNIEChooser(Config config);

    void ApplyConfig(Config config);
    const Config& GetConfig() const { return config; }
    // Reads a "NeuralNet.cfg" file into a fresh record of defaults, which
    // replaces the configuration when the file was read.
    bool ReadConfig(const char* path);

    static bool ReadGlobalConfig(const char* path);
    static void SetGlobalConfig(Config config);
    static Config GetGlobalConfig();

    // Backend of the last creation attempt (UNDEFINED before the first).
    EBackend GetBackend() const { return chosenBackend; }
    // The plug-in of a backend, or null for a backend without one (TF_GPU,
    // AUTO, UNDEFINED).
    Plugin* GetPredefinedPlugin(EBackend backend) const;
    // Status of the last creation attempt (ECreateStatus, -2 and -3 too).
    int GetCodeStatus() const { return codeStatus; }

    // A frontend for modelPath (without the backend's suffix) decrypted with
    // the key; the caller owns it. Null on failure, with the reason in
    // GetCodeStatus(). The key bytes are only used during the call.
    NNFrontend* Create(const char* modelPath, unsigned char* keyData, int keyLength);
    NNFrontend* Create(ModelParams params);
    // Tries the backends of optimalPlugins in order; the first frontend made
    // is returned.
    NNFrontend* CreateOptimalBackend(ModelParams params);

private:
    // CreateFrontend for one backend; a backend without a plug-in is
    // reported like a missing library.
    NNFrontend* CreateForBackend(EBackend backend, const ModelParams& params);

    int codeStatus = 0;
    EBackend chosenBackend = UNDEFINED;
    Config config;
};

// Model path = path + the plug-in's model suffix; then the overload below.
NNFrontend* CreateFrontend(const char* path, Plugin& plugin, int& status, ModelKey key, Config config);
// Loads the plug-in once per process, calls its create entry point and wraps
// the model. status: 0, or the negative reason; null on failure.
NNFrontend* CreateFrontend(ModelParams& params, Plugin& plugin, int& status);

} // namespace ONN

#endif
