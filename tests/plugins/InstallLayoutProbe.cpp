// Checks an installed SDK: the dynamic loader, searching on behalf of the
// installed libOrvixSDK.so (its own run path, no LD_LIBRARY_PATH), finds the
// OV_CPU plug-in next to it, the plug-in exports its two entry points, and it
// is byte for byte the built file (the library checks its digest).
//
//   ovplugin_install_probe <prefix>/lib/libOrvixSDK.so <built libOVPlugin.so>
//
// Built without a run path of its own, so only the library's counts.

#include <dlfcn.h>
#include <link.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace
{

int Fail(const std::string& message)
{
    std::fprintf(stderr, "install probe: %s\n", message.c_str());
    return 1;
}

std::string Folder(const std::string& path)
{
    return path.substr(0, path.rfind('/'));
}

std::string Content(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return Fail("usage: ovplugin_install_probe LIBORVIXSDK BUILT_PLUGIN");
    if (std::getenv("LD_LIBRARY_PATH") != nullptr)
        return Fail("LD_LIBRARY_PATH is set; the check needs the run path alone");

    void* sdk = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (sdk == nullptr)
        return Fail(std::string("cannot open the installed library: ") + dlerror());
    link_map* map = nullptr;
    if (dlinfo(sdk, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr)
        return Fail("no link map for the installed library");
    const std::string sdkFolder = Folder(map->l_name);

    // The folders the loader searches for a bare name opened by the library,
    // in order, with its run path expanded.
    Dl_serinfo size;
    if (dlinfo(sdk, RTLD_DI_SERINFOSIZE, &size) != 0)
        return Fail("cannot query the library's search path");
    std::vector<char> storage(size.dls_size);
    Dl_serinfo* info = reinterpret_cast<Dl_serinfo*>(storage.data());
    if (dlinfo(sdk, RTLD_DI_SERINFOSIZE, info) != 0 || dlinfo(sdk, RTLD_DI_SERINFO, info) != 0)
        return Fail("cannot read the library's search path");

    std::string found;
    for (unsigned i = 0; i < info->dls_cnt && found.empty(); ++i)
    {
        const std::string candidate = std::string(info->dls_serpath[i].dls_name) + "/libOVPlugin.so";
        if (std::ifstream(candidate).good())
            found = candidate;
    }
    if (found.empty())
        return Fail("libOVPlugin.so is not on the installed library's search path");
    if (Folder(found) != sdkFolder)
        return Fail("the loader would take " + found + ", not the plug-in next to " + map->l_name);

    void* plugin = dlopen(found.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (plugin == nullptr)
        return Fail(std::string("cannot open the installed plug-in: ") + dlerror());
    if (dlsym(plugin, "Initialize") == nullptr || dlsym(plugin, "Create") == nullptr)
        return Fail("the installed plug-in lacks Initialize or Create");

    const std::string installed = Content(found);
    if (installed.empty() || installed != Content(argv[2]))
        return Fail("the installed plug-in differs from the built file");

    std::printf("install probe: %s finds %s\n", map->l_name, found.c_str());
    return 0;
}
