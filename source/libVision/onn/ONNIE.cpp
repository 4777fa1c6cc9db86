#include "onn/ONNIE.h"

namespace ONN
{

// The backends' plug-ins, built when the library is loaded. Defined before
// the manager in this file so that both exist before either is used.
std::map<EBackend, std::shared_ptr<Plugin>> predefinedPluginDefinitions = {
    {OV_CPU, std::make_shared<DynamicPlugin>("OVPlugin.so", "Initialize", "Create", ".vino",
                                             GetOVPluginDependencies())},
    {TF_CPU, std::make_shared<DynamicPlugin>("TFPlugin.so", "Initialize", "Create", ".tflite")},
};

std::vector<EBackend> optimalPlugins = {OV_CPU};

PluginManager manager;

PluginManager::PluginManager() : pluginsDirectory("./")
{
}

PluginManager::~PluginManager()
{
    for (auto& entry : plugins)
        delete entry.second;
    plugins.clear();
}

std::string PluginManager::GetPluginsDirectory()
{
    std::lock_guard<std::mutex> guard(directoryLock);
    return pluginsDirectory;
}

void PluginManager::SetPluginsDirectory(const char* folder)
{
    std::lock_guard<std::mutex> guard(directoryLock);
    pluginsDirectory = folder != nullptr ? folder : "";
}

bool PluginManager::IsLoaded(Plugin& plugin)
{
    std::lock_guard<std::mutex> guard(pluginsLock);
    return plugins.find(plugin.GetName()) != plugins.end();
}

int PluginManager::Load(Plugin& plugin)
{
    const std::string folder = GetPluginsDirectory();
    std::lock_guard<std::mutex> guard(pluginsLock);
    if (plugins.find(plugin.GetName()) != plugins.end())
        return 0;
    const int status = plugin.Load(folder);
    if (status == 0)
        plugins.emplace(plugin.GetName(), plugin.Clone());
    return status;
}

void Initialize(const char* folder)
{
    manager.SetPluginsDirectory(folder);
}

} // namespace ONN
