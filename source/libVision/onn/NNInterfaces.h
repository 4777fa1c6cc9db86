#ifndef ONN_NN_INTERFACES_H
#define ONN_NN_INTERFACES_H

// The interfaces through which all network code runs models, and which every
// backend plug-in implements. Pure interfaces with inline destructors, so a
// plug-in needs these headers but no symbol of the library.

#include "onn/Config.h"
#include "onn/ImageTransformation.h"

namespace ONN
{

// Model-decryption key; the caller owns the bytes.
struct ModelKey
{
    unsigned char* keyData = nullptr;
    int keyLength = 0;
};

struct ModelParams
{
    const char* modelPath = nullptr; // plug-in suffix included
    ModelKey key;
    Config config;
};

class INNRunner
{
public:
    virtual ~INNRunner() {}
    // Runs the network on input (already in the model's type and layout when
    // it reaches a plug-in). The returned floats stay owned by the runner.
    virtual float* Forward(const NNData& input) = 0;
    virtual bool IsInitialized() const = 0;
    // The backend's own input memory, or null when it reads the NNData given
    // to Forward.
    virtual void* GetInputBuffer() = 0;
};

class INNModel
{
public:
    virtual ~INNModel() {}
    // A new runner that the caller owns.
    virtual INNRunner* CreateRunner() = 0;
    virtual bool IsLoaded() const = 0;
    virtual int GetOutputSize() = 0;
    virtual EDataType GetDataType() = 0;
    virtual ImageUtils::ELayoutType GetLayoutType() = 0;
};

class INNFrontend
{
public:
    virtual ~INNFrontend() {}
    virtual INNModel* GetModel() = 0;
    // A new runner that the frontend owns.
    virtual INNRunner* CreateRunner() = 0;
};

// Entry points a backend plug-in library exports unmangled as "Initialize"
// and "Create".
typedef void (*InitializeMethod)();
typedef INNModel* (*CreateMethod)(ModelParams params);

} // namespace ONN

#endif
