#include "onn/Config.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace ONN
{

Config globalConfig;

namespace
{

// Folder part of a configuration path: backslashes turned into slashes, up to
// and including the last slash; "" without any slash.
std::string folderOf(const char* path)
{
    std::string folder(path);
    for (char& c : folder)
    {
        if (c == '\\')
            c = '/';
    }
    const std::string::size_type slash = folder.rfind('/');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

// Base-10 integer at the start of text; 0 when it does not start with one.
// Values beyond the int range are clamped to it.
int parseInt(const std::string& text)
{
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

} // namespace

bool Config::Read(const char* path)
{
    if (path == nullptr)
        path = "";
    std::ifstream in(path);
    if (!in.is_open())
    {
        std::printf("ONNIE: Missing config file named %s\n", path);
        return false;
    }
    const std::string folder = folderOf(path);

    std::string key;
    std::string value;
    while (in >> key && in >> value)
    {
        if (key == "ThreadCount")
            threadCount = parseInt(value); // stored as given, not clamped
        else if (key == "EBackend")
            backend = ParseBackend(value);
        else if (key == "DataPath")
            dataPath = folder + ParseDataPath(value);
        else
            std::printf("ONNIE: Unsupported config key named: %s\n", key.c_str());
    }
    return true;
}

EBackend ParseBackend(const std::string& name)
{
    if (name == "OV_CPU")
        return OV_CPU;
    if (name == "TF_CPU")
        return TF_CPU;
    if (name == "TF_GPU")
        return TF_GPU;
    if (name == "AUTO" || name == "UNDEFINED")
        return AUTO;
    std::printf("ONNIE: Unsupported backend name: %s\n", name.c_str());
    return AUTO;
}

std::string ParseDataPath(const std::string& path)
{
    return path == "." ? std::string() : path;
}

} // namespace ONN

const char* GetBackendName(ONN::EBackend backend)
{
    switch (backend)
    {
    case ONN::OV_CPU:
        return "OV_CPU";
    case ONN::TF_CPU:
        return "TF_CPU";
    case ONN::TF_GPU:
        return "TF_GPU";
    case ONN::AUTO:
        return "AUTO";
    case ONN::UNDEFINED:
        return "UNDEFINED";
    }
    return nullptr;
}
