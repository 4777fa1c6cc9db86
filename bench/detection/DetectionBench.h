#ifndef ORVIX_BENCH_DETECTIONBENCH_H
#define ORVIX_BENCH_DETECTIONBENCH_H

// Helpers shared by the tracking benchmarks: where the data pack and the
// sample video are, the command line, reading the video frame by frame and
// timing.

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

namespace OrvixBench
{

inline bool isFile(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Folder of the running program (no trailing separator), "." when unknown.
inline std::string executableDir()
{
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0)
        return ".";
    std::string path(buffer.data(), static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Command line shared by the benchmarks:
//   [video] [--data DIR] [--frames N]
// The video defaults to <exe dir>/../../samples/franck.mp4 and the data pack
// to <exe dir>/../../data (benchmarks land in <build>/bench/<group>/).
struct Arguments
{
    std::string video;
    std::string pack;   // without trailing separator
    int frames = 0;     // 0: the caller's default
    bool ok = true;
};

inline Arguments parseArguments(int argc, char** argv, const char* program)
{
    Arguments args;
    const std::string base = executableDir() + "/../..";
    args.video = base + "/samples/franck.mp4";
    args.pack = base + "/data";
    bool videoGiven = false;
    for (int i = 1; i < argc && args.ok; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--frames" && i + 1 < argc)
        {
            const long value = std::strtol(argv[++i], nullptr, 10);
            if (value > 0 && value < 10000000)
                args.frames = static_cast<int>(value);
            else
                args.ok = false;
        }
        else if (arg == "--data" && i + 1 < argc)
        {
            args.pack = argv[++i];
            while (args.pack.size() > 1 && args.pack.back() == '/')
                args.pack.pop_back();
        }
        else if (!arg.empty() && arg[0] != '-' && !videoGiven)
        {
            args.video = arg;
            videoGiven = true;
        }
        else
        {
            args.ok = false;
        }
    }
    if (!args.ok)
        std::fprintf(stderr, "usage: %s [video] [--data PACK_DIR] [--frames N]\n", program);
    return args;
}

// The pack files the tracking pipeline reads.  Returns the missing ones.
inline std::vector<std::string> missingPackFiles(const std::string& pack)
{
    static const char* const FILES[] = {
        "NeuralNet.cfg",          "orvix-tracker.cfg",         "nn/face-detector/ff.vino",
        "nn/alignment/d1qy.vino", "nn/alignment/aux_file.bin", "nn/pupils/pr.vino",
    };
    std::vector<std::string> missing;
    for (const char* file : FILES)
        if (!isFile(pack + "/" + file))
            missing.push_back(pack + "/" + file);
    return missing;
}

// Prints what is missing for a run; true when everything is there.
inline bool checkInputs(const Arguments& args, const char* program)
{
    const std::vector<std::string> missing = missingPackFiles(args.pack);
    const bool videoThere = isFile(args.video);
    if (missing.empty() && videoThere)
        return true;
    std::printf("%s: nothing to measure, inputs are missing:\n", program);
    for (const std::string& file : missing)
        std::printf("  data pack file %s (build the datapack target or pass --data)\n", file.c_str());
    if (!videoThere)
        std::printf("  sample video %s (build the sample_video target or pass the video)\n", args.video.c_str());
    return false;
}

// Sequential reader of the video's frames (BGR, 8 bits per channel).
class Video
{
public:
    // FFmpeg first: the other back ends only add noise on files they cannot
    // read.
    explicit Video(const std::string& path) : capture(path, cv::CAP_FFMPEG)
    {
        if (!capture.isOpened())
            capture.open(path, cv::CAP_ANY);
    }

    bool isOpen() const { return capture.isOpened(); }
    // Frames per second as the container states it; 25 when it does not.
    double fps()
    {
        const double value = capture.get(cv::CAP_PROP_FPS);
        return value > 1.0 && value < 1000.0 ? value : 25.0;
    }
    // The next frame into frame; false at the end.
    bool next(cv::Mat& frame) { return capture.read(frame) && !frame.empty(); }

private:
    cv::VideoCapture capture;
};

// Size of the first frame; false when the video cannot be read.
inline bool probeVideo(const std::string& path, cv::Size& size, double& fps)
{
    Video video(path);
    cv::Mat frame;
    if (!video.isOpen() || !video.next(frame))
        return false;
    size = frame.size();
    fps = video.fps();
    return true;
}

// Time stamp of frame index in milliseconds at the given frame rate.
inline long frameTimeMs(int index, double fps)
{
    return static_cast<long>(static_cast<double>(index) * 1000.0 / fps + 0.5);
}

using Clock = std::chrono::steady_clock;

inline double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace OrvixBench

#endif
