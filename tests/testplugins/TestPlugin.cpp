// A backend plug-in for the tests of the plug-in layer. The same source is
// built three times: with both entry points, without "Initialize" and
// without "Create" (see CMakeLists.txt).
//
// Models whose path contains "notloaded" report IsLoaded() false. The
// "Test..." functions let a test see what the plug-in was given and how
// often it was initialised.

#include "onn/NNInterfaces.h"

#include <cstring>
#include <string>
#include <vector>

#define TEST_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace
{

int initializeCount = 0;
int liveModels = 0;
std::string lastModelPath;
std::vector<unsigned char> lastKey;
int lastThreadCount = 0;
int lastBackend = 0;

class TestRunner : public ONN::INNRunner
{
public:
    float* Forward(const ONN::NNData& input) override
    {
        output[0] = input.data != nullptr ? static_cast<float>(input.ElementCount()) : -1.0f;
        return output;
    }
    bool IsInitialized() const override { return true; }
    void* GetInputBuffer() override { return nullptr; }

private:
    float output[1] = {0.0f};
};

class TestModel : public ONN::INNModel
{
public:
    explicit TestModel(bool loaded_) : loaded(loaded_) { ++liveModels; }
    ~TestModel() override { --liveModels; }

    ONN::INNRunner* CreateRunner() override { return new TestRunner(); }
    bool IsLoaded() const override { return loaded; }
    int GetOutputSize() override { return 1; }
    ONN::EDataType GetDataType() override { return ONN::FP32; }
    ONN::ImageUtils::ELayoutType GetLayoutType() override { return ONN::ImageUtils::NCHW; }

private:
    bool loaded;
};

} // namespace

#ifndef TEST_PLUGIN_WITHOUT_INITIALIZE
TEST_PLUGIN_EXPORT void Initialize()
{
    ++initializeCount;
}
#endif

#ifndef TEST_PLUGIN_WITHOUT_CREATE
TEST_PLUGIN_EXPORT ONN::INNModel* Create(ONN::ModelParams params)
{
    lastModelPath = params.modelPath != nullptr ? params.modelPath : "";
    lastKey.assign(params.key.keyData, params.key.keyData + (params.key.keyData ? params.key.keyLength : 0));
    lastThreadCount = params.config.GetThreadCount();
    lastBackend = params.config.GetBackend();
    return new TestModel(lastModelPath.find("notloaded") == std::string::npos);
}
#endif

TEST_PLUGIN_EXPORT int TestInitializeCount()
{
    return initializeCount;
}

TEST_PLUGIN_EXPORT int TestLiveModels()
{
    return liveModels;
}

TEST_PLUGIN_EXPORT const char* TestLastModelPath()
{
    return lastModelPath.c_str();
}

TEST_PLUGIN_EXPORT int TestLastKey(unsigned char* out, int capacity)
{
    const int count = static_cast<int>(lastKey.size());
    if (out != nullptr)
        std::memcpy(out, lastKey.data(), static_cast<size_t>(count < capacity ? count : capacity));
    return count;
}

TEST_PLUGIN_EXPORT int TestLastThreadCount()
{
    return lastThreadCount;
}

TEST_PLUGIN_EXPORT int TestLastBackend()
{
    return lastBackend;
}
