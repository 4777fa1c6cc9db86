#include "JsonLinesWriter.h"

#include <cmath>

namespace OrvixTrack {

namespace {

// A number with a fixed number of decimals; null for NaN and infinities,
// which JSON cannot hold.
void appendNumber(std::string& out, double value, int decimals)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    // "-0.00" reads as a negative zero; write it as 0.
    std::string text(buffer);
    if (text.find_first_not_of("-0.") == std::string::npos)
        text = decimals > 0 ? "0." + std::string(static_cast<size_t>(decimals), '0') : "0";
    out += text;
}

void appendInt(std::string& out, long long value)
{
    out += std::to_string(value);
}

void appendPoints(std::string& out, const OrvixSDK::FDP* points, int width, int height)
{
    out += '{';
    bool first = true;
    if (points != nullptr) {
        for (int g = OrvixSDK::FDP::firstGroup; g <= OrvixSDK::FDP::lastGroup; ++g) {
            for (int i = 1; i <= OrvixSDK::FDP::groupSize(g); ++i) {
                float x = 0.0f;
                float y = 0.0f;
                if (!pointInPixels(*points, g, i, width, height, x, y))
                    continue;
                if (!first)
                    out += ',';
                first = false;
                out += '"';
                out += OrvixSDK::FDP::getFPName(g, i);
                out += "\":[";
                appendNumber(out, x, 2);
                out += ',';
                appendNumber(out, y, 2);
                out += ']';
            }
        }
    }
    out += '}';
}

}  // namespace

const char* statusName(int status)
{
    switch (status) {
    case STATUS_OFF:
        return "off";
    case STATUS_TRACKING:
        return "tracking";
    case STATUS_RECOVERING:
        return "recovering";
    case STATUS_SEARCHING:
        return "searching";
    default:
        return "unknown";
    }
}

bool pointInPixels(const OrvixSDK::FDP& points, int group, int index, int width, int height, float& x, float& y)
{
    if (!points.FPIsDefined(group, index))
        return false;
    const OrvixSDK::FeaturePoint& fp = points.getFP(group, index);
    const float px = fp.position[0] * static_cast<float>(width);
    const float py = (1.0f - fp.position[1]) * static_cast<float>(height);
    if (!std::isfinite(px) || !std::isfinite(py))
        return false;
    x = px;
    y = py;
    return true;
}

std::string JsonLinesWriter::frameJson(long long frame, long long timeMs, int width, int height,
                                       const int* statuses, const OrvixSDK::FaceData* faces, int slotCount)
{
    std::string out;
    out.reserve(4096);
    out += "{\"frame\":";
    appendInt(out, frame);
    out += ",\"time_ms\":";
    appendInt(out, timeMs);
    out += ",\"faces\":[";
    for (int s = 0; s < slotCount; ++s) {
        if (s > 0)
            out += ',';
        out += "{\"slot\":";
        appendInt(out, s);
        out += ",\"status\":";
        appendInt(out, statuses[s]);
        // A slot that does not track holds the values of an earlier frame:
        // only its status is written.
        if (statuses[s] == STATUS_TRACKING) {
            const OrvixSDK::FaceData& face = faces[s];
            out += ",\"box\":[";
            for (int k = 0; k < 4; ++k) {
                if (k > 0)
                    out += ',';
                appendInt(out, face.faceBoundingBox[k]);
            }
            out += "],\"scale\":";
            appendInt(out, face.faceScale);
            out += ",\"quality\":";
            appendNumber(out, face.trackingQuality, 3);
            out += ",\"iris\":[";
            for (int k = 0; k < 2; ++k) {
                if (k > 0)
                    out += ',';
                // Negative radii mean "not known" (eye closed or not measured).
                if (face.irisRadius[k] < 0.0f)
                    out += "null";
                else
                    appendNumber(out, face.irisRadius[k], 2);
            }
            out += "],\"points\":";
            appendPoints(out, face.points2D, width, height);
        }
        out += '}';
    }
    out += "]}";
    return out;
}

JsonLinesWriter::~JsonLinesWriter()
{
    close();
}

bool JsonLinesWriter::open(const std::string& path)
{
    close();
    failed = false;
    if (path == "-") {
        file = stdout;
        ownsFile = false;
        return true;
    }
    file = std::fopen(path.c_str(), "w");
    ownsFile = file != nullptr;
    return file != nullptr;
}

void JsonLinesWriter::writeFrame(long long frame, long long timeMs, int width, int height, const int* statuses,
                                 const OrvixSDK::FaceData* faces, int slotCount)
{
    if (file == nullptr)
        return;
    const std::string line = frameJson(frame, timeMs, width, height, statuses, faces, slotCount) + "\n";
    if (std::fwrite(line.data(), 1, line.size(), file) != line.size())
        failed = true;
}

bool JsonLinesWriter::close()
{
    if (file == nullptr)
        return !failed;
    if (std::fflush(file) != 0 || std::ferror(file))
        failed = true;
    if (ownsFile && std::fclose(file) != 0)
        failed = true;
    file = nullptr;
    ownsFile = false;
    return !failed;
}

}  // namespace OrvixTrack
