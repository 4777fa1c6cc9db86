#include "onn/Plugin.h"

#include "onn/Crypto.h"
#include "onn/Library.h"
#include "onn/Utility.h"

#include <climits>
#include <cstdio>
#include <new>
#include <vector>

namespace ONN
{

namespace
{

// Checks each dependency's file against its size and SHA-256 digest.
//
// The file of a dependency is found this way: when a library of that name is
// open (the plug-in's own library, opened just before the check), the file the
// dynamic loader actually mapped, as its link map reports it; otherwise
// folder + name, then folder + "lib" + name.
class Sha256HashChecker : public IHashChecker
{
public:
    int Check(const Repository<Dependency>& dependencies, std::string folder) const override
    {
        for (const Dependency& dependency : dependencies)
        {
            const int status = CheckOne(dependency, folder);
            if (status != INTEGRITY_OK)
                return status;
        }
        return INTEGRITY_OK;
    }

private:
    static std::string Locate(const Dependency& dependency, const std::string& folder)
    {
        const std::string mapped = library_manager::instance().open_file_name(dependency.name);
        if (!mapped.empty())
            return mapped;
        const std::string candidates[] = {folder + dependency.name, folder + "lib" + dependency.name};
        for (const std::string& candidate : candidates)
        {
            if (Utility::fileSize(candidate) >= 0)
                return candidate;
        }
        return std::string();
    }

    static int CheckOne(const Dependency& dependency, const std::string& folder)
    {
        if (dependency.sha256.size() != 32)
        {
            std::fprintf(stderr, "ONNIE: No valid integrity data for %s.\n", dependency.name.c_str());
            return INTEGRITY_FILE_UNREADABLE;
        }
        const std::string path = Locate(dependency, folder);
        const long size = path.empty() ? -1 : Utility::fileSize(path);
        if (size < 0)
        {
            std::fprintf(stderr, "ONNIE: Cannot find %s for its integrity check.\n", dependency.name.c_str());
            return INTEGRITY_FILE_MISSING;
        }
        if (dependency.size >= 0 && size != dependency.size)
            return INTEGRITY_MISMATCH;
        if (size > INT_MAX)
        {
            std::fprintf(stderr, "ONNIE: Cannot read %s for its integrity check.\n", path.c_str());
            return INTEGRITY_FILE_UNREADABLE;
        }

        std::vector<unsigned char> content;
        try
        {
            content.resize(static_cast<size_t>(size));
        }
        catch (const std::bad_alloc&)
        {
            std::fprintf(stderr, "ONNIE: Cannot read %s for its integrity check.\n", path.c_str());
            return INTEGRITY_FILE_UNREADABLE;
        }
        if (size > 0 && Utility::readAllFile(path, content.data(), static_cast<unsigned long>(size)) !=
                            static_cast<unsigned long>(size))
        {
            std::fprintf(stderr, "ONNIE: Cannot read %s for its integrity check.\n", path.c_str());
            return INTEGRITY_FILE_UNREADABLE;
        }
        if (Crypto::hashBuffer(content.data(), static_cast<int>(size)) != dependency.sha256)
            return INTEGRITY_MISMATCH;
        return INTEGRITY_OK;
    }
};

} // namespace

std::unique_ptr<IHashChecker> HashCheckerFactory::Create()
{
    return std::unique_ptr<IHashChecker>(new Sha256HashChecker());
}

// ---------------------------------------------------------------------------

Plugin::Plugin(const char* name_, const char* modelSuffix_, Repository<Dependency> dependencies_)
    : name(name_ != nullptr ? name_ : ""), modelSuffix(modelSuffix_ != nullptr ? modelSuffix_ : ""),
      hashChecker(HashCheckerFactory::Create()), dependencies(std::move(dependencies_))
{
}

Plugin::~Plugin() = default;

int Plugin::CheckHashes(std::string folder) const
{
    if (dependencies.Empty())
        return INTEGRITY_OK;
    const int status = hashChecker->Check(dependencies, folder);
    if (status == INTEGRITY_MISMATCH)
        std::fprintf(stderr, "ONNIE: Cannot load %s. Integrity check failed.\n", name.c_str());
    return status;
}

int Plugin::CheckAndInitialize(const std::string& folder)
{
    const int status = CheckHashes(folder);
    if (status != 0)
        return status;
    InitializeMethod initialize = GetInitializeMethod();
    if (initialize == nullptr)
        return -4;
    initialize();
    return 0;
}

// ---------------------------------------------------------------------------

StaticPlugin::StaticPlugin(const char* name_, InitializeMethod initializeMethod_, CreateMethod createMethod_,
                           const char* modelSuffix_, Repository<Dependency> dependencies_)
    : Plugin(name_, modelSuffix_, std::move(dependencies_)), initializeMethod(initializeMethod_),
      createMethod(createMethod_)
{
}

int StaticPlugin::Load(std::string folder)
{
    return CheckAndInitialize(folder);
}

Plugin* StaticPlugin::Clone() const
{
    return new StaticPlugin(name.c_str(), initializeMethod, createMethod, modelSuffix.c_str(), dependencies);
}

// ---------------------------------------------------------------------------

DynamicPlugin::DynamicPlugin(const char* name_, const char* initializeMethodName_,
                             const char* createMethodName_, const char* modelSuffix_,
                             Repository<Dependency> dependencies_)
    : Plugin(name_, modelSuffix_, std::move(dependencies_)), loaderName(name),
      createMethodName(createMethodName_ != nullptr ? createMethodName_ : ""),
      initializeMethodName(initializeMethodName_ != nullptr ? initializeMethodName_ : "")
{
}

void* DynamicPlugin::GetMethod(const char* symbol) const
{
    if (symbol == nullptr)
        return nullptr;
    // A further handle on the library, which is open already once the
    // plug-in was loaded: this only counts its users up.
    Library library(loaderName);
    if (!Utility::LoadLibrary(library))
        return nullptr;
    return library.get_method(symbol);
}

CreateMethod DynamicPlugin::GetCreateMethod() const
{
    return reinterpret_cast<CreateMethod>(GetMethod(createMethodName.c_str()));
}

InitializeMethod DynamicPlugin::GetInitializeMethod() const
{
    return reinterpret_cast<InitializeMethod>(GetMethod(initializeMethodName.c_str()));
}

int DynamicPlugin::Load(std::string folder)
{
    Library library(loaderName);
    if (!Utility::LoadLibrary(library))
    {
        std::printf("ONNIE: %s\n", library.get_error_string().c_str());
        return -1;
    }
    return CheckAndInitialize(folder);
}

Plugin* DynamicPlugin::Clone() const
{
    return new DynamicPlugin(loaderName.c_str(), initializeMethodName.c_str(), createMethodName.c_str(),
                             modelSuffix.c_str(), dependencies);
}

} // namespace ONN
