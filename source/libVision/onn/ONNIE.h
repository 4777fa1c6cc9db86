#ifndef ONN_ONNIE_H
#define ONN_ONNIE_H

#include "onn/Config.h"
#include "onn/Plugin.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ONN
{

// Loads each plug-in once per process and keeps a clone of it under its name.
class PluginManager
{
public:
    PluginManager();
    ~PluginManager();

    PluginManager(const PluginManager&) = delete;
    PluginManager& operator=(const PluginManager&) = delete;

    std::string GetPluginsDirectory();
    void SetPluginsDirectory(const char* folder);

    // Whether a plug-in of this name has been loaded.
    bool IsLoaded(Plugin& plugin);
    // Loads the plug-in unless one of its name is loaded already (0 then,
    // without calling anything in it). The check, the load and the
    // registration form one critical section, so concurrent callers load a
    // plug-in once. Returns the plug-in's load status; a failed plug-in is not
    // registered and is tried again by the next call.
    int Load(Plugin& plugin);

private:
    std::map<std::string, Plugin*> plugins;
    std::mutex pluginsLock;
    std::string pluginsDirectory;
    std::mutex directoryLock;
};

extern PluginManager manager;

// Sets the plug-ins folder of the manager.
void Initialize(const char* folder);

// The backends' plug-ins. TF_GPU, AUTO and UNDEFINED have no entry.
extern std::map<EBackend, std::shared_ptr<Plugin>> predefinedPluginDefinitions;
// Backends tried in order for AUTO.
extern std::vector<EBackend> optimalPlugins;

// Integrity data of the OV_CPU plug-in's library, generated at build time
// from the built plug-in file (empty when the plug-in is not built).
Repository<Dependency> GetOVPluginDependencies();

} // namespace ONN

#endif
