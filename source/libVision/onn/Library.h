#ifndef ONN_LIBRARY_H
#define ONN_LIBRARY_H

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace ONN
{

// State shared by every Library handle on one library name.
class library_private
{
public:
    explicit library_private(std::string name_) : name(std::move(name_)) {}

    library_private(const library_private&) = delete;
    library_private& operator=(const library_private&) = delete;

    // Opens the library, trying the usual name variants (see Library.cpp).
    bool load_native();
    bool unload_native();
    void* get_method(const std::string& symbol);

    std::string name;
    std::string version;
    std::string fileName;
    std::string errorString;
    std::atomic<int> loadCount{0};
    void* handle = nullptr;
    // Serialises opening and closing of this library between handles.
    std::mutex mutex;
};

// A handle on one shared library. Handles on the same name share one loader
// handle; a library that was loaded stays open after its handles are gone.
class Library
{
public:
    explicit Library(std::string name);
    ~Library();

    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool load();
    bool unload();
    bool is_loaded() const;
    // The path the loader reports for the open library, or the name as given.
    std::string get_file_name() const;
    std::string get_error_string() const;
    void* get_method(std::string symbol);

private:
    std::shared_ptr<library_private> impl;
    bool loaded = false;
};

// Process-wide registry of library_private entries by name.
class library_manager
{
public:
    static library_manager& instance();
    ~library_manager();

    // The entry registered under name, made and registered when there is none.
    std::shared_ptr<library_private> acquire(const std::string& name);
    // Drops the entry of a handle that goes away when nothing else uses it.
    void release(std::shared_ptr<library_private>& entry);
    // The path of the open library registered under name, or "" when there is
    // no such open library.
    std::string open_file_name(const std::string& name);

private:
    library_manager() = default;

    std::map<std::string, std::shared_ptr<library_private>> libraries;
    std::mutex lock;
};

} // namespace ONN

#endif
