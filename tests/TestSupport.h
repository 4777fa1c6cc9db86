#ifndef ORVIX_TESTS_TESTSUPPORT_H
#define ORVIX_TESTS_TESTSUPPORT_H

#include <cstdlib>
#include <fstream>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>

#include <unistd.h>

namespace OrvixTest {

// A fresh folder under the system's temporary directory, removed with its
// contents when the object goes out of scope.  path() ends in '/'.
class TempDir {
public:
    TempDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/orvix-test-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern + "/";
    }
    ~TempDir()
    {
        const std::string command = "rm -rf '" + path_ + "'";
        if (std::system(command.c_str()) != 0) {
            // Leftover temporary files are harmless; nothing more to do.
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }

    // Writes content (bytes as given) to path()/name and returns the full path.
    std::string write(const std::string& name, const std::string& content) const
    {
        const std::string full = path_ + name;
        std::ofstream out(full, std::ios::binary | std::ios::trunc);
        out << content;
        return full;
    }

    static std::string read(const std::string& fullPath)
    {
        std::ifstream in(fullPath, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string path_;
};

// Pseudo-random bytes over the whole range, NUL and 0xFF included.
inline std::string randomBytes(size_t length, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(length, '\0');
    for (char& c : bytes)
        c = static_cast<char>(byte(generator));
    return bytes;
}

// A file content with a short name, for tables of damaged inputs.
struct NamedContent {
    const char* label;
    std::string content;
};

// Shows only the label: contents may hold megabytes of bytes.
inline void PrintTo(const NamedContent& c, std::ostream* out)
{
    *out << c.label;
}

}  // namespace OrvixTest

#endif
