// Annotated output of the command-line tracker: each frame with the feature
// points of its tracked faces as dots, the face boxes, and the slot numbers
// with their statuses, written to a video file and/or as PNG frames.

#ifndef ORVIX_TRACK_ANNOTATOR_H
#define ORVIX_TRACK_ANNOTATOR_H

#include <string>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "OrvixSDK/FaceData.h"

namespace OrvixTrack {

// Draws the slots' results onto a BGR frame.
void drawFaces(cv::Mat& frame, const int* statuses, const OrvixSDK::FaceData* faces, int slotCount);

class Annotator
{
public:
    // Either path may be empty.  fps is the frame rate of the video.
    Annotator(std::string videoPath, std::string pngDir, double fps);

    bool enabled() const { return !videoPath.empty() || !pngDir.empty(); }
    // Creates the PNG folder and opens the video for frames of this size;
    // false with error() set when an output cannot be created.
    bool prepare(const cv::Size& frameSize);
    // Draws and writes one frame (the frame's pixels are not changed); false
    // with error() set when an output cannot be written.
    bool write(const cv::Mat& frame, long long index, const int* statuses, const OrvixSDK::FaceData* faces,
               int slotCount);
    // Finishes the video file.
    void close();

    const std::string& error() const { return lastError; }

private:
    bool openVideo(const cv::Size& size);

    std::string videoPath;
    std::string pngDir;
    double fps;
    cv::VideoWriter video;
    cv::Size videoSize;
    cv::Mat canvas;
    std::string lastError;
};

}  // namespace OrvixTrack

#endif
