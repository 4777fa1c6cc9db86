// orvix-track: tracks the faces of a video file or a folder of images and
// writes the results as JSON Lines, optionally with an annotated video or
// annotated PNG frames.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>

#include "Annotator.h"
#include "FrameSource.h"
#include "JsonLinesWriter.h"
#include "OrvixSDK/FaceData.h"
#include "OrvixSDK/OrvixTracker.h"
#include "ProgressReporter.h"

namespace fs = std::filesystem;
using namespace OrvixTrack;

namespace {

const int kExitRuntime = 1;
const int kExitUsage = 2;
const int kBgrFormat = 1;   // pixel format code of 8-bit BGR for OrvixTracker::track

const char* const kUsage =
    "usage: orvix-track INPUT [options]\n"
    "\n"
    "Tracks the faces in INPUT, a video file or a folder of images (png, jpg,\n"
    "jpeg, bmp, pgm, ppm; taken in name order), and writes one JSON object per\n"
    "frame to a JSON Lines file.  Prints a summary on standard output.\n"
    "\n"
    "options:\n"
    "  --config FILE     tracker configuration (default: the data pack's\n"
    "                    orvix-tracker.cfg, found at ../data/ next to this program)\n"
    "  --max-faces N     faces to follow at once, 1 to 20 (default 1)\n"
    "  --jsonl FILE      JSON Lines output (default: <input name>.jsonl in the\n"
    "                    current folder; '-' writes to standard output and moves\n"
    "                    the summary to standard error)\n"
    "  --video-out FILE  annotated video (.avi: Motion JPEG, otherwise MPEG-4)\n"
    "  --png-dir DIR     annotated frames as DIR/frame_NNNNNN.png\n"
    "  --frames N        stop after N frames\n"
    "  --fps F           frame rate of an image folder's time stamps (default 25)\n"
    "  --repeat K        feed each image of a folder K times in a row (default 1)\n"
    "  --quiet           no progress on standard error\n"
    "  --help            this text\n"
    "\n"
    "exit status: 0 done, 1 run-time failure (unreadable input, unwritable\n"
    "output, tracker that cannot initialise), 2 usage error.\n";

struct Options
{
    std::string input;
    std::string config;
    std::string jsonl;
    std::string videoOut;
    std::string pngDir;
    int maxFaces = 1;
    long long frames = -1;
    double fps = 25.0;
    int repeat = 1;
    bool quiet = false;
    bool help = false;
};

void printError(const std::string& message)
{
    std::fprintf(stderr, "orvix-track: error: %s\n", message.c_str());
}

// Whole-string integer in [lo, hi].
bool parseInt(const std::string& text, long long lo, long long hi, long long& value)
{
    if (text.empty() || text.size() > 30)
        return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < lo || v > hi)
        return false;
    value = v;
    return true;
}

// Whole-string finite number in (lo, hi].
bool parseNumber(const std::string& text, double lo, double hi, double& value)
{
    if (text.empty() || text.size() > 30)
        return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(v) || v <= lo || v > hi)
        return false;
    value = v;
    return true;
}

// Returns 0, or kExitUsage with the message printed.
int parseOptions(int argc, char** argv, Options& options)
{
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (endOfOptions || arg.empty() || arg[0] != '-' || arg == "-") {
            if (!options.input.empty()) {
                printError("more than one input given: " + options.input + " and " + arg);
                return kExitUsage;
            }
            options.input = arg;
            continue;
        }
        if (arg == "--") {
            endOfOptions = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
            continue;
        }
        static const char* const withValue[] = {"--config", "--max-faces", "--jsonl", "--video-out",
                                                "--png-dir", "--frames",    "--fps",   "--repeat"};
        bool known = false;
        for (const char* name : withValue)
            known = known || arg == name;
        if (!known) {
            printError("unknown option " + arg + " (see --help)");
            return kExitUsage;
        }
        if (i + 1 >= argc) {
            printError("option " + arg + " needs a value");
            return kExitUsage;
        }
        const std::string value = argv[++i];
        long long number = 0;
        if (arg == "--config") {
            options.config = value;
        } else if (arg == "--jsonl") {
            options.jsonl = value;
        } else if (arg == "--video-out") {
            options.videoOut = value;
        } else if (arg == "--png-dir") {
            options.pngDir = value;
        } else if (arg == "--max-faces") {
            if (!parseInt(value, 1, OrvixSDK::OrvixTracker::MAX_FACES, number)) {
                printError("--max-faces takes a whole number from 1 to 20, not '" + value + "'");
                return kExitUsage;
            }
            options.maxFaces = static_cast<int>(number);
        } else if (arg == "--frames") {
            if (!parseInt(value, 1, LLONG_MAX, number)) {
                printError("--frames takes a whole number of at least 1, not '" + value + "'");
                return kExitUsage;
            }
            options.frames = number;
        } else if (arg == "--repeat") {
            if (!parseInt(value, 1, 100000, number)) {
                printError("--repeat takes a whole number from 1 to 100000, not '" + value + "'");
                return kExitUsage;
            }
            options.repeat = static_cast<int>(number);
        } else if (arg == "--fps") {
            if (!parseNumber(value, 0.0, 1000.0, options.fps)) {
                printError("--fps takes a number above 0 and at most 1000, not '" + value + "'");
                return kExitUsage;
            }
        }
        if (value.empty()) {
            printError("option " + arg + " needs a non-empty value");
            return kExitUsage;
        }
    }
    if (!options.help && options.input.empty()) {
        printError("no input given (a video file or a folder of images; see --help)");
        return kExitUsage;
    }
    return 0;
}

std::string executableDir()
{
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return std::string();
    return exe.parent_path().string();
}

// The data pack's configuration in the build tree: <bin>/apps/orvix-track
// and <bin>/data/orvix-tracker.cfg.
std::string defaultConfig()
{
    const std::string dir = executableDir();
    if (dir.empty())
        return std::string();
    return (fs::path(dir) / ".." / "data" / "orvix-tracker.cfg").lexically_normal().string();
}

// "<input name>.jsonl" in the current folder.
std::string defaultJsonl(const std::string& input)
{
    fs::path p(input);
    if (!p.has_filename())
        p = p.parent_path();   // "folder/" names the folder
    std::string stem = p.stem().string();
    if (stem.empty() || stem == "." || stem == "..")
        stem = "orvix-track";
    return stem + ".jsonl";
}

bool isReadableFile(const std::string& path)
{
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return false;
    std::ifstream in(path, std::ios::binary);
    return in.good();
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    const size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid), values.end());
    const double upper = values[mid];
    if (values.size() % 2 == 1)
        return upper;
    const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid));
    return 0.5 * (lower + upper);
}

// The lines of a message joined by blanks.
std::string oneLine(const std::string& text)
{
    std::string out;
    bool blank = false;
    for (char ch : text) {
        if (ch == '\n' || ch == '\r' || ch == '\t' || ch == ' ') {
            blank = !out.empty();
            continue;
        }
        if (blank)
            out += ' ';
        blank = false;
        out += ch;
    }
    return out;
}

// OpenCV and FFmpeg write their own warnings about unreadable files to
// standard error; the tool reports such failures itself in one line.  The
// user's own settings of the two variables win.
void quietLibraryLogs()
{
    if (std::getenv("OPENCV_LOG_LEVEL") == nullptr)
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    // Read by OpenCV's FFmpeg backend when it starts: fatal messages only.
    setenv("OPENCV_FFMPEG_LOGLEVEL", "8", 0);
}

int run(const Options& options)
{
    quietLibraryLogs();

    std::string error;
    std::unique_ptr<FrameSource> source = FrameSource::open(options.input, options.fps, options.repeat, error);
    if (!source) {
        printError(error);
        return kExitRuntime;
    }

    const std::string config = options.config.empty() ? defaultConfig() : options.config;
    if (config.empty() || !isReadableFile(config)) {
        printError("cannot read the tracker configuration " + (config.empty() ? std::string("(none found)") : config) +
                   (options.config.empty() ? " (build the data pack or give --config)" : ""));
        return kExitRuntime;
    }

    const std::string jsonlPath = options.jsonl.empty() ? defaultJsonl(options.input) : options.jsonl;
    JsonLinesWriter jsonl;
    if (!jsonl.open(jsonlPath)) {
        printError("cannot write " + jsonlPath);
        return kExitRuntime;
    }
    // With the records on standard output, the summary goes to standard error.
    std::FILE* summaryOut = jsonlPath == "-" ? stderr : stdout;

    long long total = source->frameCount();
    if (options.frames > 0 && (total < 0 || total > options.frames))
        total = options.frames;
    ProgressReporter progress(stderr, total, !options.quiet, isatty(STDERR_FILENO) == 1);
    Annotator annotator(options.videoOut, options.pngDir, source->framesPerSecond());

    OrvixSDK::OrvixTracker tracker(config.c_str());
    std::vector<OrvixSDK::FaceData> faces(static_cast<size_t>(options.maxFaces));
    std::vector<double> trackMs;
    long long tracked = 0;
    long long frameIndex = 0;
    cv::Mat frame;
    long long timeMs = 0;

    while (options.frames < 0 || frameIndex < options.frames) {
        if (!source->next(frame, timeMs)) {
            if (!source->error().empty()) {
                progress.finish(frameIndex);
                printError(source->error());
                return kExitRuntime;
            }
            break;
        }
        if (frameIndex == 0 && !annotator.prepare(frame.size())) {
            printError(annotator.error());
            return kExitRuntime;
        }
        if (frame.step[0] > static_cast<size_t>(INT_MAX)) {
            printError("the frame rows of " + options.input + " are too long");
            return kExitRuntime;
        }

        const auto start = std::chrono::steady_clock::now();
        const int* statuses = tracker.track(frame.cols, frame.rows, reinterpret_cast<const char*>(frame.data),
                                            faces.data(), kBgrFormat, 0, static_cast<int>(frame.step[0]),
                                            static_cast<long>(timeMs), options.maxFaces);
        const auto stop = std::chrono::steady_clock::now();
        trackMs.push_back(std::chrono::duration<double, std::milli>(stop - start).count());

        if (tracker.isInitializationFailed()) {
            progress.finish(frameIndex);
            // The library has written the message to standard error already,
            // without a line end; the tool's own line repeats it in one line.
            const std::string message = oneLine(tracker.getLastError());
            std::fputc('\n', stderr);
            printError("the tracker could not be initialised with " + config +
                       (message.empty() ? std::string() : ": " + message));
            return kExitRuntime;
        }

        bool anyTracked = false;
        for (int s = 0; s < options.maxFaces; ++s)
            anyTracked = anyTracked || statuses[s] == STATUS_TRACKING;
        if (anyTracked)
            ++tracked;

        jsonl.writeFrame(frameIndex, timeMs, frame.cols, frame.rows, statuses, faces.data(), options.maxFaces);
        if (!annotator.write(frame, frameIndex, statuses, faces.data(), options.maxFaces)) {
            progress.finish(frameIndex);
            printError(annotator.error());
            return kExitRuntime;
        }
        ++frameIndex;
        progress.update(frameIndex);
    }
    progress.finish(frameIndex);
    annotator.close();
    if (!jsonl.close()) {
        printError("cannot write " + jsonlPath);
        return kExitRuntime;
    }
    if (frameIndex == 0) {
        printError("no frame could be read from " + options.input);
        return kExitRuntime;
    }

    double sum = 0.0;
    for (double ms : trackMs)
        sum += ms;
    const double mean = trackMs.empty() ? 0.0 : sum / static_cast<double>(trackMs.size());
    std::fprintf(summaryOut, "frames:          %lld\n", frameIndex);
    std::fprintf(summaryOut, "tracked frames:  %lld (%.1f %%)\n", tracked,
                 100.0 * static_cast<double>(tracked) / static_cast<double>(frameIndex));
    std::fprintf(summaryOut, "track call:      %.2f ms mean, %.2f ms median\n", mean, median(trackMs));
    std::fprintf(summaryOut, "json lines:      %s\n", jsonlPath == "-" ? "(standard output)" : jsonlPath.c_str());
    if (!options.videoOut.empty())
        std::fprintf(summaryOut, "annotated video: %s\n", options.videoOut.c_str());
    if (!options.pngDir.empty())
        std::fprintf(summaryOut, "annotated PNGs:  %s\n", options.pngDir.c_str());
    std::fflush(summaryOut);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    const int parsed = parseOptions(argc, argv, options);
    if (parsed != 0)
        return parsed;
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    try {
        return run(options);
    } catch (const cv::Exception& e) {
        printError(std::string("OpenCV: ") + e.what());
    } catch (const std::exception& e) {
        printError(e.what());
    }
    return kExitRuntime;
}
