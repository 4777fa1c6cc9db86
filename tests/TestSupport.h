#ifndef ORVIX_TESTS_TESTSUPPORT_H
#define ORVIX_TESTS_TESTSUPPORT_H

#include <cstdlib>
#include <fstream>
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

}  // namespace OrvixTest

#endif
