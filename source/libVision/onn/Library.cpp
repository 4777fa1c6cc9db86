#include "onn/Library.h"

#include <cstdio>
#include <vector>

#include <dlfcn.h>
#include <link.h>

namespace ONN
{

namespace
{

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool fileExists(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    std::fclose(file);
    return true;
}

} // namespace

// Tries "lib" + name + ".so" and the variants without prefix or suffix; a
// name that already carries the prefix or the suffix is not given it twice.
// An absolute name is tried as given first and ends the search at the first
// variant that exists as a file, even when the loader refuses it.
bool library_private::load_native()
{
    std::vector<std::string> prefixes{"lib"};
    std::vector<std::string> suffixes{version.empty() ? std::string(".so") : ".so." + version};

    std::string folder;
    std::string base = name;
    const bool absolute = !name.empty() && name[0] == '/';
    if (absolute)
    {
        const std::string::size_type slash = name.rfind('/');
        folder = name.substr(0, slash + 1);
        base = name.substr(slash + 1);
        prefixes.insert(prefixes.begin(), std::string());
        suffixes.insert(suffixes.begin(), std::string());
    }
    else
    {
        prefixes.push_back(std::string());
        suffixes.push_back(std::string());
    }

    // The prefix is looked for at the start of the whole name, the way the
    // loader's own name variants are formed.
    std::string attempt;
    bool found = false;
    for (const std::string& prefix : prefixes)
    {
        for (const std::string& suffix : suffixes)
        {
            if ((!prefix.empty() && startsWith(name, prefix)) || (!suffix.empty() && endsWith(name, suffix)))
                continue;
            attempt = folder + prefix + base + suffix;
            dlerror();
            handle = dlopen(attempt.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle != nullptr || (absolute && fileExists(attempt)))
            {
                found = true;
                break;
            }
        }
        if (found)
            break;
    }

    if (handle == nullptr)
    {
        const char* error = dlerror();
        errorString = "Cannot load library " + name + " " + (error != nullptr ? error : "");
        return false;
    }

    fileName = attempt;
    errorString.clear();
    struct link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr &&
        map->l_name[0] != '\0')
        fileName = map->l_name;
    return true;
}

bool library_private::unload_native()
{
    if (handle == nullptr)
        return true;
    if (dlclose(handle) == 0)
        return true;
    const char* error = dlerror();
    errorString = "Cannot unload library: '" + name + "'" + (error != nullptr ? error : "");
    return false;
}

void* library_private::get_method(const std::string& symbol)
{
    std::lock_guard<std::mutex> guard(mutex);
    if (handle == nullptr)
        return nullptr;
    return dlsym(handle, symbol.c_str());
}

// ---------------------------------------------------------------------------

Library::Library(std::string name) : impl(library_manager::instance().acquire(name))
{
}

Library::~Library()
{
    library_manager::instance().release(impl);
}

bool Library::load()
{
    std::lock_guard<std::mutex> guard(impl->mutex);
    if (loaded)
        return impl->handle != nullptr;
    loaded = true;
    if (impl->handle != nullptr)
    {
        ++impl->loadCount;
        return true;
    }
    if (!impl->load_native())
        return false;
    ++impl->loadCount;
    return true;
}

bool Library::unload()
{
    std::lock_guard<std::mutex> guard(impl->mutex);
    if (!loaded)
        return false;
    loaded = false;
    if (impl->handle != nullptr)
    {
        if (--impl->loadCount == 0 && impl->unload_native())
        {
            impl->errorString.clear();
            impl->handle = nullptr;
        }
    }
    return impl->handle == nullptr;
}

bool Library::is_loaded() const
{
    std::lock_guard<std::mutex> guard(impl->mutex);
    return impl->handle != nullptr;
}

std::string Library::get_file_name() const
{
    std::lock_guard<std::mutex> guard(impl->mutex);
    return impl->fileName.empty() ? impl->name : impl->fileName;
}

std::string Library::get_error_string() const
{
    std::lock_guard<std::mutex> guard(impl->mutex);
    return impl->errorString;
}

void* Library::get_method(std::string symbol)
{
    return impl->get_method(symbol);
}

// ---------------------------------------------------------------------------

library_manager& library_manager::instance()
{
    static library_manager registry;
    return registry;
}

// Libraries still open at exit are left to the loader: objects made by a
// plug-in may still be alive in static objects destroyed after this registry,
// and their code must stay mapped until then.
library_manager::~library_manager()
{
    std::lock_guard<std::mutex> guard(lock);
    libraries.clear();
}

std::shared_ptr<library_private> library_manager::acquire(const std::string& name)
{
    std::lock_guard<std::mutex> guard(lock);
    std::shared_ptr<library_private>& entry = libraries[name];
    if (!entry)
        entry = std::make_shared<library_private>(name);
    return entry;
}

void library_manager::release(std::shared_ptr<library_private>& entry)
{
    std::lock_guard<std::mutex> guard(lock);
    // Only this handle and the registry share an entry that was never opened
    // (or was closed again): forget it.
    if (entry && entry.use_count() == 2 && entry->loadCount == 0)
    {
        auto found = libraries.find(entry->name);
        if (found != libraries.end() && found->second == entry)
            libraries.erase(found);
    }
    entry.reset();
}

std::string library_manager::open_file_name(const std::string& name)
{
    std::shared_ptr<library_private> entry;
    {
        std::lock_guard<std::mutex> guard(lock);
        auto found = libraries.find(name);
        if (found == libraries.end())
            return std::string();
        entry = found->second;
    }
    std::lock_guard<std::mutex> guard(entry->mutex);
    return entry->handle != nullptr ? entry->fileName : std::string();
}

} // namespace ONN
