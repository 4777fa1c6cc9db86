#include "FrameSource.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <system_error>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace fs = std::filesystem;

namespace OrvixTrack {

namespace {

bool hasImageExtension(const fs::path& path)
{
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const char* const known[] = {".png", ".jpg", ".jpeg", ".bmp", ".pgm", ".ppm"};
    for (const char* k : known)
        if (ext == k)
            return true;
    return false;
}

// Brings any decoded picture to 8-bit BGR, the layout handed to the tracker.
bool toBgr(const cv::Mat& in, cv::Mat& out)
{
    if (in.empty())
        return false;
    cv::Mat eight = in;
    if (in.depth() != CV_8U)
        in.convertTo(eight, CV_8U, in.depth() == CV_16U ? 1.0 / 257.0 : 1.0);
    switch (eight.channels()) {
    case 1:
        cv::cvtColor(eight, out, cv::COLOR_GRAY2BGR);
        return true;
    case 3:
        out = eight;
        return true;
    case 4:
        cv::cvtColor(eight, out, cv::COLOR_BGRA2BGR);
        return true;
    default:
        return false;
    }
}

class VideoSource : public FrameSource
{
public:
    explicit VideoSource(const std::string& path) : path(path)
    {
        // FFmpeg only: the other backends guess at any file and print their
        // own diagnostics when it is no video.
        capture.open(path, cv::CAP_FFMPEG);
        if (!capture.isOpened())
            return;
        fps = capture.get(cv::CAP_PROP_FPS);
        if (!std::isfinite(fps) || fps <= 0.0 || fps > 1000.0)
            fps = 25.0;
        const double count = capture.get(cv::CAP_PROP_FRAME_COUNT);
        if (std::isfinite(count) && count >= 1.0 && count < 1e12)
            total = static_cast<long long>(count);
    }

    bool isOpened() const { return capture.isOpened(); }

    bool next(cv::Mat& frame, long long& timeMs) override
    {
        cv::Mat raw;
        if (!capture.read(raw) || raw.empty())
            return false;
        if (!toBgr(raw, frame)) {
            lastError = "cannot convert a frame of " + path + " to BGR";
            return false;
        }
        // The position of the frame just decoded; frame index over the frame
        // rate when the container gives none or it would run backwards.
        const double pos = capture.get(cv::CAP_PROP_POS_MSEC);
        long long t = static_cast<long long>(std::llround(static_cast<double>(index) * 1000.0 / fps));
        if (std::isfinite(pos) && pos >= 0.0 && pos < 1e15)
            t = std::llround(pos);
        if (t < lastTime)
            t = lastTime;
        lastTime = t;
        timeMs = t;
        ++index;
        return true;
    }

    long long frameCount() const override { return total; }
    double framesPerSecond() const override { return fps; }

private:
    std::string path;
    cv::VideoCapture capture;
    double fps = 25.0;
    long long total = -1;
    long long index = 0;
    long long lastTime = 0;
};

class FolderSource : public FrameSource
{
public:
    FolderSource(std::vector<std::string> files, double fps, int repeat)
        : files(std::move(files)), fps(fps), repeat(repeat)
    {
    }

    bool next(cv::Mat& frame, long long& timeMs) override
    {
        const long long fileIndex = index / repeat;
        if (fileIndex >= static_cast<long long>(files.size()))
            return false;
        const std::string& file = files[static_cast<size_t>(fileIndex)];
        if (index % repeat == 0) {
            cv::Mat raw = cv::imread(file, cv::IMREAD_UNCHANGED);
            current.release();
            if (!toBgr(raw, current)) {
                lastError = "cannot read the image " + file;
                return false;
            }
        }
        frame = current;
        timeMs = std::llround(static_cast<double>(index) * 1000.0 / fps);
        ++index;
        return true;
    }

    long long frameCount() const override { return static_cast<long long>(files.size()) * repeat; }
    double framesPerSecond() const override { return fps; }

private:
    std::vector<std::string> files;
    double fps;
    int repeat;
    long long index = 0;
    cv::Mat current;
};

}  // namespace

std::vector<std::string> listImages(const std::string& folder)
{
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError) && hasImageExtension(it->path()))
            files.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::unique_ptr<FrameSource> FrameSource::open(const std::string& path, double folderFps, int repeat,
                                               std::string& error)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        error = "the input " + path + " does not exist";
        return nullptr;
    }
    if (fs::is_directory(status)) {
        std::vector<std::string> files = listImages(path);
        if (files.empty()) {
            error = "the folder " + path + " holds no images (png, jpg, jpeg, bmp, pgm, ppm)";
            return nullptr;
        }
        return std::make_unique<FolderSource>(std::move(files), folderFps, repeat);
    }
    auto video = std::make_unique<VideoSource>(path);
    if (!video->isOpened()) {
        error = "cannot open the video " + path;
        return nullptr;
    }
    return video;
}

}  // namespace OrvixTrack
