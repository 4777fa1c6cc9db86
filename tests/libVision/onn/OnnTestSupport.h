#ifndef ORVIX_TESTS_ONN_TESTSUPPORT_H
#define ORVIX_TESTS_ONN_TESTSUPPORT_H

// Helpers shared by the tests of the inference layer: copies of the test
// plug-ins under names of their own, access to what a loaded test plug-in
// recorded, and guards that restore the process-wide tables.

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <dlfcn.h>

#include "TestSupport.h"
#include "onn/Config.h"
#include "onn/ONNIE.h"

namespace OnnTest {

// Built test plug-ins (see tests/testplugins).
inline std::string builtPlugin(const std::string& fileName)
{
    return std::string(ORVIX_TEST_PLUGIN_DIR) + fileName;
}

const char* const kPlugin = "libonn_test_plugin.so";
const char* const kPluginWithoutInitialize = "libonn_test_plugin_noinit.so";
const char* const kPluginWithoutCreate = "libonn_test_plugin_nocreate.so";

// Copies a built test plug-in into dir as newName and returns the copy's
// absolute path. Every copy is a library of its own for the loader, with its
// own counters, and its path is a plug-in name no other test uses.
inline std::string copyPlugin(const OrvixTest::TempDir& dir, const std::string& builtName,
                              const std::string& newName)
{
    const std::string content = OrvixTest::TempDir::read(builtPlugin(builtName));
    return dir.write(newName, content);
}

// A function of an already opened test plug-in file, or null.
template <typename Function>
Function pluginFunction(const std::string& path, const char* symbol)
{
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr)
        return nullptr;
    void* address = dlsym(handle, symbol);
    dlclose(handle); // the library stays open: the code under test holds it
    return reinterpret_cast<Function>(address);
}

inline int initializeCount(const std::string& path)
{
    auto count = pluginFunction<int (*)()>(path, "TestInitializeCount");
    return count != nullptr ? count() : -1;
}

inline int liveModels(const std::string& path)
{
    auto count = pluginFunction<int (*)()>(path, "TestLiveModels");
    return count != nullptr ? count() : -1;
}

inline std::string lastModelPath(const std::string& path)
{
    auto last = pluginFunction<const char* (*)()>(path, "TestLastModelPath");
    return last != nullptr ? last() : "<not loaded>";
}

// Restores ONN::globalConfig when it goes out of scope.
class GlobalConfigGuard {
public:
    GlobalConfigGuard() : saved(ONN::globalConfig) {}
    ~GlobalConfigGuard() { ONN::globalConfig = saved; }

private:
    ONN::Config saved;
};

// Restores the table of predefined plug-ins and the list tried for AUTO.
class PluginTableGuard {
public:
    PluginTableGuard() : plugins(ONN::predefinedPluginDefinitions), optimal(ONN::optimalPlugins) {}
    ~PluginTableGuard()
    {
        ONN::predefinedPluginDefinitions = plugins;
        ONN::optimalPlugins = optimal;
    }

private:
    std::map<ONN::EBackend, std::shared_ptr<ONN::Plugin>> plugins;
    std::vector<ONN::EBackend> optimal;
};

}  // namespace OnnTest

#endif
