// The built data pack (<build>/data/, made by the "datapack" target) and the
// grey demo photos the pack build leaves in its work folder, for tests that
// run the real networks.  Those tests skip when no pack has been built.
#ifndef ORVIX_TESTS_DATAPACKSUPPORT_H
#define ORVIX_TESTS_DATAPACKSUPPORT_H

#include <opencv2/core.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace OrvixTest
{

// A folder name with a trailing separator whether or not the build gives one.
inline std::string packFolder(const std::string& path)
{
    return path.empty() || path.back() == '/' ? path : path + "/";
}

inline std::string packDir()
{
    return packFolder(ORVIX_DATAPACK_DIR);
}

inline std::string packWorkDir()
{
    return packFolder(ORVIX_DATAPACK_WORK_DIR);
}

inline bool packPresent()
{
    static const char* const files[] = {"NeuralNet.cfg",          "orvix-tracker.cfg",        "nn/face-detector/ff.vino",
                                        "nn/alignment/d1qy.vino", "nn/alignment/aux_file.bin", "nn/pupils/pr.vino"};
    for (const char* name : files)
        if (!std::filesystem::is_regular_file(packDir() + name))
            return false;
    return true;
}

// Binary grey PGM ("P5", maxval 255) as written by the pack build; empty on
// any format problem.
inline cv::Mat readPgm(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    long width = 0, height = 0, maxval = 0;
    if (!(in >> magic >> width >> height >> maxval) || magic != "P5" || maxval != 255 || width <= 0 || height <= 0 ||
        width > 20000 || height > 20000)
        return cv::Mat();
    in.get();
    cv::Mat image(static_cast<int>(height), static_cast<int>(width), CV_8UC1);
    in.read(reinterpret_cast<char*>(image.data), static_cast<std::streamsize>(image.total()));
    return in.gcount() == static_cast<std::streamsize>(image.total()) ? image : cv::Mat();
}

// The demo photos (several faces each), sorted by name.
inline std::vector<std::string> demoPhotos()
{
    std::vector<std::string> paths;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(packWorkDir() + "demo", error))
        if (entry.path().extension() == ".pgm")
            paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

}  // namespace OrvixTest

#endif
