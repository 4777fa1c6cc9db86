// Frames for the command-line tracker: the frames of a video file, or the
// images of a folder (sorted by name, each fed a number of times in a row).

#ifndef ORVIX_TRACK_FRAMESOURCE_H
#define ORVIX_TRACK_FRAMESOURCE_H

#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

namespace OrvixTrack {

class FrameSource
{
public:
    virtual ~FrameSource() = default;

    // Reads the next frame as 8-bit BGR pixels with its time stamp in
    // milliseconds.  Returns false at the end; error() is then non-empty if
    // the end was a failure.
    virtual bool next(cv::Mat& frame, long long& timeMs) = 0;
    // Number of frames the source will deliver, -1 when not known (a
    // video's count is the container's estimate).
    virtual long long frameCount() const = 0;
    // Frame rate for an annotated video.
    virtual double framesPerSecond() const = 0;

    const std::string& error() const { return lastError; }

    // Opens a video file or a folder of images.  Returns null and sets
    // error to one line when the input cannot be used.
    static std::unique_ptr<FrameSource> open(const std::string& path, double folderFps, int repeat,
                                             std::string& error);

protected:
    std::string lastError;
};

// The image files of a folder that the tracker reads, sorted by name.
std::vector<std::string> listImages(const std::string& folder);

}  // namespace OrvixTrack

#endif
