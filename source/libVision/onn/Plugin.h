#ifndef ONN_PLUGIN_H
#define ONN_PLUGIN_H

#include "onn/NNInterfaces.h"

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace ONN
{

// A small ordered collection of values (the dependencies of a plug-in).
template <typename T>
class Repository
{
public:
    Repository() = default;
    Repository(std::initializer_list<T> values) : items(values) {}

    void Add(const T& value) { items.push_back(value); }
    std::size_t Size() const { return items.size(); }
    bool Empty() const { return items.empty(); }
    const T& operator[](std::size_t index) const { return items[index]; }

    typename std::vector<T>::const_iterator begin() const { return items.begin(); }
    typename std::vector<T>::const_iterator end() const { return items.end(); }

private:
    std::vector<T> items;
};

// A library a plug-in relies on, with the integrity data of its file.
//   name    the library's name as the dynamic loader is given it ("OVPlugin.so");
//           an open library of that name is checked at the path the loader
//           reports for it, any other at folder + name or folder + "lib" + name
//   size    the file's size in bytes, or -1 to check the digest only
//   sha256  the file's SHA-256 digest (32 bytes)
struct Dependency
{
    Dependency() = default;
    Dependency(std::string name_, long size_, std::vector<unsigned char> sha256_)
        : name(std::move(name_)), size(size_), sha256(std::move(sha256_))
    {
    }

    std::string name;
    long size = -1;
    std::vector<unsigned char> sha256;
};

// Integrity status codes of IHashChecker::Check.
enum EIntegrityStatus
{
    INTEGRITY_OK = 0,
    INTEGRITY_FILE_MISSING = -2,   // a dependency's file cannot be found or opened
    INTEGRITY_FILE_UNREADABLE = -3, // a dependency's file cannot be read whole, or its data is malformed
    INTEGRITY_MISMATCH = -7         // a file's size or digest differs from its data
};

class IHashChecker
{
public:
    virtual ~IHashChecker() {}
    // 0 when every dependency's file matches its data, otherwise a negative
    // EIntegrityStatus. folder is the plug-ins folder (may be empty).
    virtual int Check(const Repository<Dependency>& dependencies, std::string folder) const = 0;
};

class HashCheckerFactory
{
public:
    static std::unique_ptr<IHashChecker> Create();
};

// A backend: a named object that is loaded once per process and then hands
// out the function that creates models.
class Plugin
{
public:
    Plugin(const char* name, const char* modelSuffix, Repository<Dependency> dependencies);
    virtual ~Plugin();

    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    const char* GetName() const { return name.c_str(); }
    const char* GetModelSuffix() const { return modelSuffix.c_str(); }
    const Repository<Dependency>& GetDependencies() const { return dependencies; }

    // Integrity check over the dependencies: 0, -2, -3 or -7.
    int CheckHashes(std::string folder) const;

    virtual CreateMethod GetCreateMethod() const = 0;
    virtual InitializeMethod GetInitializeMethod() const = 0;
    // Opens the plug-in, checks its integrity and calls its initialise entry
    // point once. 0 on success, otherwise a negative status.
    virtual int Load(std::string folder) = 0;
    virtual Plugin* Clone() const = 0;

protected:
    // Integrity check and initialisation, shared by both kinds.
    int CheckAndInitialize(const std::string& folder);

    std::string name;
    std::string modelSuffix;
    std::unique_ptr<IHashChecker> hashChecker;
    Repository<Dependency> dependencies;
};

// A plug-in made of two functions inside the program.
class StaticPlugin : public Plugin
{
public:
    StaticPlugin(const char* name, InitializeMethod initializeMethod, CreateMethod createMethod,
                 const char* modelSuffix, Repository<Dependency> dependencies = {});

    CreateMethod GetCreateMethod() const override { return createMethod; }
    InitializeMethod GetInitializeMethod() const override { return initializeMethod; }
    int Load(std::string folder) override;
    Plugin* Clone() const override;

private:
    InitializeMethod initializeMethod;
    CreateMethod createMethod;
};

// A plug-in in a shared library opened at run time by name.
class DynamicPlugin : public Plugin
{
public:
    DynamicPlugin(const char* name, const char* initializeMethodName, const char* createMethodName,
                  const char* modelSuffix, Repository<Dependency> dependencies = {});

    const char* GetLoaderName() const { return loaderName.c_str(); }
    // Address of an exported symbol of the plug-in's library, or null.
    void* GetMethod(const char* symbol) const;

    CreateMethod GetCreateMethod() const override;
    InitializeMethod GetInitializeMethod() const override;
    int Load(std::string folder) override;
    Plugin* Clone() const override;

private:
    std::string loaderName;
    std::string createMethodName;
    std::string initializeMethodName;
};

} // namespace ONN

#endif
