#include "Annotator.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "JsonLinesWriter.h"

namespace fs = std::filesystem;

namespace OrvixTrack {

namespace {

cv::Scalar slotColour(int slot)
{
    static const cv::Scalar colours[] = {
        cv::Scalar(0, 255, 0),   cv::Scalar(255, 128, 0), cv::Scalar(0, 128, 255), cv::Scalar(255, 0, 255),
        cv::Scalar(0, 255, 255), cv::Scalar(255, 255, 0), cv::Scalar(128, 0, 255), cv::Scalar(0, 0, 255),
    };
    return colours[slot % 8];
}

std::string lowerExtension(const std::string& path)
{
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

}  // namespace

void drawFaces(cv::Mat& frame, const int* statuses, const OrvixSDK::FaceData* faces, int slotCount)
{
    const int shortSide = std::min(frame.cols, frame.rows);
    const int radius = std::max(1, shortSide / 300);
    const int thickness = std::max(1, shortSide / 400);
    const double fontScale = std::max(0.4, shortSide / 1000.0);
    const int lineHeight = static_cast<int>(22 * fontScale / 0.5);

    for (int s = 0; s < slotCount; ++s) {
        const cv::Scalar colour = slotColour(s);
        const std::string label = "slot " + std::to_string(s) + ": " + statusName(statuses[s]);
        // Status list in the top left corner, one line per slot.
        cv::putText(frame, label, cv::Point(8, lineHeight * (s + 1)), cv::FONT_HERSHEY_SIMPLEX, fontScale,
                    cv::Scalar(0, 0, 0), thickness + 2, cv::LINE_AA);
        cv::putText(frame, label, cv::Point(8, lineHeight * (s + 1)), cv::FONT_HERSHEY_SIMPLEX, fontScale,
                    colour, thickness, cv::LINE_AA);
        if (statuses[s] != STATUS_TRACKING)
            continue;

        const OrvixSDK::FaceData& face = faces[s];
        const int* box = face.faceBoundingBox;
        if (box[2] > 0 && box[3] > 0) {
            cv::rectangle(frame, cv::Rect(box[0], box[1], box[2], box[3]), colour, thickness, cv::LINE_AA);
            cv::putText(frame, std::to_string(s), cv::Point(box[0], std::max(lineHeight, box[1] - 4)),
                        cv::FONT_HERSHEY_SIMPLEX, fontScale, colour, thickness, cv::LINE_AA);
        }
        if (face.points2D == nullptr)
            continue;
        for (int g = OrvixSDK::FDP::firstGroup; g <= OrvixSDK::FDP::lastGroup; ++g) {
            for (int i = 1; i <= OrvixSDK::FDP::groupSize(g); ++i) {
                float x = 0.0f;
                float y = 0.0f;
                if (!pointInPixels(*face.points2D, g, i, frame.cols, frame.rows, x, y))
                    continue;
                if (x < -1e6f || x > 1e6f || y < -1e6f || y > 1e6f)
                    continue;
                cv::circle(frame, cv::Point(cvRound(x), cvRound(y)), radius, colour, cv::FILLED, cv::LINE_AA);
            }
        }
    }
}

Annotator::Annotator(std::string videoPath, std::string pngDir, double fps)
    : videoPath(std::move(videoPath)), pngDir(std::move(pngDir)), fps(fps)
{
}

bool Annotator::prepare(const cv::Size& frameSize)
{
    if (!pngDir.empty()) {
        std::error_code ec;
        fs::create_directories(pngDir, ec);
        if (ec || !fs::is_directory(pngDir, ec)) {
            lastError = "cannot create the folder " + pngDir;
            return false;
        }
    }
    if (!videoPath.empty() && !video.isOpened())
        return openVideo(frameSize);
    return true;
}

bool Annotator::openVideo(const cv::Size& size)
{
    // Motion JPEG for .avi, MPEG-4 (mp4v) otherwise (both come with the
    // FFmpeg backend).
    const std::string ext = lowerExtension(videoPath);
    const int fourcc = ext == ".avi" ? cv::VideoWriter::fourcc('M', 'J', 'P', 'G')
                                     : cv::VideoWriter::fourcc('m', 'p', '4', 'v');
    try {
        video.open(videoPath, cv::CAP_FFMPEG, fourcc, fps, size, true);
    } catch (const cv::Exception&) {
        video.release();
    }
    if (!video.isOpened()) {
        lastError = "cannot write the video " + videoPath;
        return false;
    }
    videoSize = size;
    return true;
}

bool Annotator::write(const cv::Mat& frame, long long index, const int* statuses, const OrvixSDK::FaceData* faces,
                      int slotCount)
{
    if (!enabled())
        return true;
    frame.copyTo(canvas);
    drawFaces(canvas, statuses, faces, slotCount);

    if (!videoPath.empty()) {
        if (!video.isOpened() && !openVideo(canvas.size()))
            return false;
        // A video keeps the size of its first frame.
        if (canvas.size() != videoSize) {
            cv::Mat resized;
            cv::resize(canvas, resized, videoSize);
            video.write(resized);
        } else {
            video.write(canvas);
        }
    }
    if (!pngDir.empty()) {
        char name[64];
        std::snprintf(name, sizeof name, "frame_%06lld.png", index);
        const std::string path = (fs::path(pngDir) / name).string();
        bool written = false;
        try {
            written = cv::imwrite(path, canvas);
        } catch (const cv::Exception&) {
            written = false;
        }
        if (!written) {
            lastError = "cannot write " + path;
            return false;
        }
    }
    return true;
}

void Annotator::close()
{
    if (video.isOpened())
        video.release();
}

}  // namespace OrvixTrack
