#include "onn/ONNIEChooser.h"

#include "onn/ONNIE.h"

#include <cstdio>
#include <string>

namespace ONN
{

ONNIEChooser::ONNIEChooser() : config(globalConfig)
{
}

ONNIEChooser::ONNIEChooser(Config config_) : config(std::move(config_))
{
}

void ONNIEChooser::ApplyConfig(Config config_)
{
    config = std::move(config_);
}

bool ONNIEChooser::ReadConfig(const char* path)
{
    Config fresh;
    const bool read = fresh.Read(path);
    if (read)
        config = fresh;
    return read;
}

bool ONNIEChooser::ReadGlobalConfig(const char* path)
{
    return globalConfig.Read(path);
}

void ONNIEChooser::SetGlobalConfig(Config config_)
{
    globalConfig = std::move(config_);
}

Config ONNIEChooser::GetGlobalConfig()
{
    return globalConfig;
}

Plugin* ONNIEChooser::GetPredefinedPlugin(EBackend backend) const
{
    auto found = predefinedPluginDefinitions.find(backend);
    return found != predefinedPluginDefinitions.end() ? found->second.get() : nullptr;
}

NNFrontend* ONNIEChooser::Create(const char* modelPath, unsigned char* keyData, int keyLength)
{
    ModelParams params;
    params.modelPath = modelPath;
    params.key.keyData = keyData;
    params.key.keyLength = keyLength;
    params.config = config;
    return Create(params);
}

NNFrontend* ONNIEChooser::Create(ModelParams params)
{
    const EBackend backend = params.config.GetBackend();
    if (backend == UNDEFINED)
    {
        std::fprintf(stderr, "ONNIE: Failed to create runner. Backend name undefined.\n");
        return nullptr;
    }
    if (backend == AUTO)
        return CreateOptimalBackend(params);
    return CreateForBackend(backend, params);
}

NNFrontend* ONNIEChooser::CreateOptimalBackend(ModelParams params)
{
    for (EBackend backend : optimalPlugins)
    {
        // The configuration goes on unchanged: its backend still reads AUTO.
        NNFrontend* frontend = CreateForBackend(backend, params);
        if (frontend != nullptr)
            return frontend;
    }
    return nullptr;
}

NNFrontend* ONNIEChooser::CreateForBackend(EBackend backend, const ModelParams& params)
{
    chosenBackend = backend;
    Plugin* plugin = GetPredefinedPlugin(backend);
    if (plugin == nullptr)
    {
        const char* name = GetBackendName(backend);
        std::printf("ONNIE: No plug-in is defined for the backend %s.\n", name != nullptr ? name : "?");
        codeStatus = CREATE_NO_LIBRARY;
        return nullptr;
    }
    return CreateFrontend(params.modelPath, *plugin, codeStatus, params.key, params.config);
}

NNFrontend* CreateFrontend(const char* path, Plugin& plugin, int& status, ModelKey key, Config config)
{
    const std::string modelPath = std::string(path != nullptr ? path : "") + plugin.GetModelSuffix();
    ModelParams params;
    params.modelPath = modelPath.c_str();
    params.key = key;
    params.config = std::move(config);
    return CreateFrontend(params, plugin, status);
}

NNFrontend* CreateFrontend(ModelParams& params, Plugin& plugin, int& status)
{
    status = CREATE_OK;
    if (!manager.IsLoaded(plugin))
    {
        status = manager.Load(plugin);
        if (status != 0)
            return nullptr;
    }

    CreateMethod create = plugin.GetCreateMethod();
    if (create == nullptr)
    {
        status = CREATE_NO_CREATE;
        return nullptr;
    }

    INNModel* model = nullptr;
    try
    {
        model = create(params);
    }
    catch (...)
    {
        // No exception of a plug-in crosses the library.
        std::fprintf(stderr, "ONNIE: The plug-in %s failed to create a model.\n", plugin.GetName());
        model = nullptr;
    }
    if (model == nullptr)
    {
        // Plug-ins report an unusable model through IsLoaded; a null model
        // counts the same.
        status = CREATE_MODEL_NOT_LOADED;
        return nullptr;
    }
    NNFrontend* frontend = new NNFrontend(std::unique_ptr<INNModel>(model));
    if (frontend->GetModel()->IsLoaded())
        return frontend;

    status = CREATE_MODEL_NOT_LOADED;
    delete frontend;
    return nullptr;
}

} // namespace ONN
