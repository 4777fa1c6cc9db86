#ifndef ONN_UTILITY_H
#define ONN_UTILITY_H

#include <string>

namespace ONN
{

class Library;

class Utility
{
public:
    // Opens library; on failure prints "ONNIE: Cannot load <file>. <error>".
    static bool LoadLibrary(Library& library);
    // Size of a file in bytes, -1 when it cannot be opened.
    static long fileSize(const char* path);
    static long fileSize(std::string path);
    // Reads up to size bytes of the file into buffer; returns the number of
    // bytes read (0 when the file cannot be opened).
    static unsigned long readAllFile(const std::string& path, void* buffer, unsigned long size);
};

} // namespace ONN

#endif
