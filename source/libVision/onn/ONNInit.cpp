#include "onn/ONNInit.h"

#include "onn/Config.h"
#include "onn/ONNIE.h"

#include <cstdio>
#include <fstream>
#include <mutex>

namespace OrvixSDK
{

namespace
{

std::mutex ONNInitLock;
bool isConfigRead = false;

} // namespace

bool isONNConfigRead()
{
    std::lock_guard<std::mutex> guard(ONNInitLock);
    return isConfigRead;
}

void ONNInitOnce(const std::string& folder, bool& configRead, ONN::Config& config)
{
    if (configRead)
        return;

    const std::string path = folder + "NeuralNet.cfg";
    bool readable = false;
    {
        std::ifstream probe(path);
        readable = probe.is_open();
    }
    if (readable)
    {
        config.Read(path.c_str());
    }
    else
    {
        std::printf("Missing NeuralNet.cfg file which should be located in: %s.\n", path.c_str());
        std::printf("Continuing to work with the preset values for backend and thread count.\n");
    }

    ONN::Initialize(getVisionPath().c_str());
    configRead = true;
}

void ONNInit(std::string folder)
{
    std::lock_guard<std::mutex> guard(ONNInitLock);
    ONNInitOnce(folder, isConfigRead, ONN::globalConfig);
}

std::string getVisionPath()
{
    // Plug-ins are opened by bare name through the loader's search (the run
    // path), so the manager's folder is left empty.
    return std::string();
}

} // namespace OrvixSDK
