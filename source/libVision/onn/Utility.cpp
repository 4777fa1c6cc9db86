#include "onn/Utility.h"

#include "onn/Library.h"

#include <cstdio>
#include <fstream>

namespace ONN
{

bool Utility::LoadLibrary(Library& library)
{
    const bool loaded = library.load();
    if (!loaded)
    {
        std::printf("ONNIE: Cannot load %s. %s\n", library.get_file_name().c_str(),
                    library.get_error_string().c_str());
    }
    return loaded;
}

long Utility::fileSize(const char* path)
{
    if (path == nullptr)
        return -1;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in.is_open())
        return -1;
    const std::streamoff size = in.tellg();
    return size < 0 ? -1 : static_cast<long>(size);
}

long Utility::fileSize(std::string path)
{
    return fileSize(path.c_str());
}

unsigned long Utility::readAllFile(const std::string& path, void* buffer, unsigned long size)
{
    if (buffer == nullptr || size == 0)
        return 0;
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open())
        return 0;
    in.read(static_cast<char*>(buffer), static_cast<std::streamsize>(size));
    const std::streamsize got = in.gcount();
    return got > 0 ? static_cast<unsigned long>(got) : 0;
}

} // namespace ONN
