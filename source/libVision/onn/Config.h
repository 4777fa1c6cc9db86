#ifndef ONN_CONFIG_H
#define ONN_CONFIG_H

#include "OrvixSDK/Export.h"

#include <string>

namespace ONN
{

// Inference backends. Stored in one byte; the enumerator names double as the
// names used in "NeuralNet.cfg" and in messages.
enum EBackend : char
{
    OV_CPU = 1,
    TF_CPU = 2,
    TF_GPU = 3,
    AUTO = 4,
    UNDEFINED = 5
};

// Network configuration: which backend runs the models, how many threads it
// may use and where it finds its own data. Copied by value wherever it goes.
// The accessors are inline so that backend plug-ins can read a configuration
// without linking against the library.
class ORVIX_API Config
{
public:
    void SetBackend(EBackend value) { backend = value; }
    void SetThreadCount(int value) { threadCount = value > 0 ? value : 1; }
    void SetDataPath(const std::string& value) { dataPath = value; }

    EBackend GetBackend() const { return backend; }
    int GetThreadCount() const { return threadCount; }
    const std::string& GetDataPath() const { return dataPath; }

    // Reads a "NeuralNet.cfg" file into this record. Keys the file does not
    // name keep their values. Returns false only when the file cannot be
    // opened.
    bool Read(const char* path);

private:
    EBackend backend = AUTO;
    int threadCount = 1;
    std::string dataPath;
};

ORVIX_API EBackend ParseBackend(const std::string& name);
ORVIX_API std::string ParseDataPath(const std::string& path);

// Process-wide configuration, settled by the first ONNInit.
extern ORVIX_API Config globalConfig;

} // namespace ONN

// Name of a backend ("OV_CPU", ...), or null for a value outside the enumeration.
ORVIX_API const char* GetBackendName(ONN::EBackend backend);

#endif
