// Writes one JSON object per frame (JSON Lines): the frame's index and time
// stamp and, per face slot, its status and, while it tracks, its box, scale,
// quality, iris radii and the defined 2-D feature points in image pixels.

#ifndef ORVIX_TRACK_JSONLINESWRITER_H
#define ORVIX_TRACK_JSONLINESWRITER_H

#include <cstdio>
#include <string>

#include "OrvixSDK/FaceData.h"

namespace OrvixTrack {

// Status codes of the tracker's face slots.
enum SlotStatus
{
    STATUS_OFF = 0,
    STATUS_TRACKING = 1,
    STATUS_RECOVERING = 2,
    STATUS_SEARCHING = 3
};

const char* statusName(int status);

// Position of a 2-D feature point in pixels of a width x height image, y
// downward.  The record holds fractions of the image size with y upward.
// Returns false for a point that is not defined or not finite.
bool pointInPixels(const OrvixSDK::FDP& points, int group, int index, int width, int height, float& x, float& y);

class JsonLinesWriter
{
public:
    JsonLinesWriter() = default;
    ~JsonLinesWriter();
    JsonLinesWriter(const JsonLinesWriter&) = delete;
    JsonLinesWriter& operator=(const JsonLinesWriter&) = delete;

    // "-" is standard output.  Returns false when the file cannot be
    // created.
    bool open(const std::string& path);
    // One line for one frame; statuses and faces hold slotCount entries.
    void writeFrame(long long frame, long long timeMs, int width, int height, const int* statuses,
                    const OrvixSDK::FaceData* faces, int slotCount);
    // Flushes and closes; false when anything could not be written.
    bool close();

    // The object text of one frame, without the line end.
    static std::string frameJson(long long frame, long long timeMs, int width, int height, const int* statuses,
                                 const OrvixSDK::FaceData* faces, int slotCount);

private:
    std::FILE* file = nullptr;
    bool ownsFile = false;
    bool failed = false;
};

}  // namespace OrvixTrack

#endif
