// Landmark jitter of the video tracker with point smoothing on and off.
//
//   stability_bench [video] [--data PACK_DIR] [--frames N] [--factors F]
//
// Runs OrvixTracker (one face) over the video with the data pack's tracker
// configuration three times, with the video's own time stamps: as it is
// (smoothing enabled), with smoothing switched off, and with smoothing
// enabled and all eight smoothing factors set to F (--factors F, default
// 2).  The pack's factors are all -1, which leaves point positions
// unsmoothed, so the third run shows what the point smoother does.  Per
// frame it keeps the 2-D eye corners 3.7, 3.8, 3.11, 3.12 and mouth corners
// 8.3, 8.4 in pixels, and the centre of the face box.
//
// The still stretch is the window of 30 consecutive frames, tracked in all
// runs, with the smallest sum of (a) the distance between the mean of the
// six points in its first and in its last frame and (b) the path of the face
// box centre over its 29 steps, both in pixels of the run without
// smoothing.  For that window and for all tracked frames, each run and each
// point group gets the median and the 95th percentile of the frame-to-frame
// displacement of its points (pixels) and the RMS distance of its points
// from their centred 5-frame moving average.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "BenchStats.h"
#include "DetectionBench.h"
#include "OrvixSDK/FDP.h"
#include "OrvixSDK/FaceData.h"
#include "OrvixSDK/OrvixConfiguration.h"
#include "OrvixSDK/OrvixTracker.h"
#include "OrvixSDK/OxCfgArr.h"

using namespace OrvixSDK;
using OrvixBench::percentile;

namespace
{

const int WINDOW = 30;
const int POINT_COUNT = 6;
// Eye corners first (outer 3.7 and 3.12, inner 3.8 and 3.11), then the mouth
// corners.
const int POINTS[POINT_COUNT][2] = {{3, 7}, {3, 8}, {3, 11}, {3, 12}, {8, 3}, {8, 4}};
const int OUTER_LEFT = 0;   // 3.7
const int OUTER_RIGHT = 3;  // 3.12

struct Group
{
    const char* name;
    int first, count;  // indices into POINTS
};
const Group GROUPS[] = {{"eye corners", 0, 4}, {"mouth corners", 4, 2}};

struct FrameRecord
{
    bool tracked = false;
    cv::Point2d points[POINT_COUNT];
    cv::Point2d boxCentre;
};

// How a run changes the pack's configuration.
struct Run
{
    std::string label;
    bool changeSmoothing;  // false: the configuration as it is
    unsigned enable;
    bool setFactors;
    float factor;          // all eight smoothing factors
    std::vector<FrameRecord> records;
};

// One run of the tracker over the first frames of the video; false when
// the video cannot be read or the tracker does not initialise.
bool runTracker(const std::string& config, const std::string& videoPath, int frames, Run& run)
{
    OrvixTracker tracker(config.c_str());
    OrvixConfiguration settings = tracker.getTrackerConfiguration();
    if (run.changeSmoothing)
    {
        bool accepted = settings.setEnableSmoothing(run.enable);
        if (run.setFactors)
        {
            OxCfgArr<float> factors(8);
            for (int i = 0; i < factors.size; ++i)
                factors.data[i] = run.factor;
            accepted = settings.setSmoothingFactors(factors) && accepted;
        }
        if (!accepted)
        {
            std::fprintf(stderr, "stability_bench: the configuration refused the settings of run \"%s\"\n",
                         run.label.c_str());
            return false;
        }
        tracker.setTrackerConfiguration(settings);
    }
    {
        const OrvixConfiguration used = tracker.getTrackerConfiguration();
        const OxCfgArr<float> factors = used.getSmoothingFactors();
        std::string text;
        for (int i = 0; i < factors.size; ++i)
        {
            char value[16];
            std::snprintf(value, sizeof value, " %g", static_cast<double>(factors.data[i]));
            text += value;
        }
        std::printf("run %-6s enable_smoothing %u, smoothing_factors%s\n", run.label.c_str(),
                    used.getEnableSmoothing(), text.empty() ? " (none)" : text.c_str());
    }
    std::vector<FrameRecord>& records = run.records;

    OrvixBench::Video video(videoPath);
    if (!video.isOpen())
        return false;
    const double fps = video.fps();
    FaceData face;
    cv::Mat bgr;
    records.clear();
    for (int i = 0; (frames <= 0 || i < frames) && video.next(bgr); ++i)
    {
        const int* status = tracker.track(bgr.cols, bgr.rows, reinterpret_cast<const char*>(bgr.data), &face, 1, 0,
                                          static_cast<int>(bgr.step), OrvixBench::frameTimeMs(i, fps), 1);
        FrameRecord record;
        record.tracked = status[0] == 1 && face.points2D != nullptr;
        for (int k = 0; k < POINT_COUNT && record.tracked; ++k)
        {
            const int g = POINTS[k][0], p = POINTS[k][1];
            if (!face.points2D->FPIsDefined(g, p))
            {
                record.tracked = false;
                break;
            }
            // Normalised with y upwards -> pixels with y downwards.
            const float* xy = face.points2D->getFPPos(g, p);
            record.points[k] = cv::Point2d(xy[0] * bgr.cols, (1.0 - xy[1]) * bgr.rows);
        }
        if (record.tracked)
            record.boxCentre = cv::Point2d(face.faceBoundingBox[0] + 0.5 * face.faceBoundingBox[2],
                                           face.faceBoundingBox[1] + 0.5 * face.faceBoundingBox[3]);
        records.push_back(record);
    }
    if (tracker.isInitializationFailed())
    {
        std::fprintf(stderr, "stability_bench: the tracker did not initialise: %s\n", tracker.getLastError().c_str());
        return false;
    }
    return true;
}

cv::Point2d meanPoint(const FrameRecord& r)
{
    cv::Point2d sum(0.0, 0.0);
    for (const cv::Point2d& p : r.points)
        sum += p;
    return sum * (1.0 / POINT_COUNT);
}

bool allTracked(const std::vector<FrameRecord>& records, size_t first, size_t count)
{
    for (size_t i = first; i < first + count; ++i)
        if (i >= records.size() || !records[i].tracked)
            return false;
    return true;
}

struct Window
{
    int first = -1;
    double drift = 0.0, path = 0.0;
};

// The stillest window of the plain run (see the file comment), among the
// windows tracked in every run; first is -1 when there is none.
Window findStillWindow(const std::vector<FrameRecord>& plain, const std::vector<Run>& runs)
{
    Window best;
    double bestScore = 0.0;
    for (size_t s = 0; s + WINDOW <= plain.size(); ++s)
    {
        bool everywhere = true;
        for (const Run& run : runs)
            everywhere = everywhere && allTracked(run.records, s, WINDOW);
        if (!everywhere)
            continue;
        const double drift = cv::norm(meanPoint(plain[s + WINDOW - 1]) - meanPoint(plain[s]));
        double path = 0.0;
        for (size_t t = s + 1; t < s + WINDOW; ++t)
            path += cv::norm(plain[t].boxCentre - plain[t - 1].boxCentre);
        const double score = drift + path;
        if (best.first < 0 || score < bestScore)
        {
            best.first = static_cast<int>(s);
            best.drift = drift;
            best.path = path;
            bestScore = score;
        }
    }
    return best;
}

struct Jitter
{
    size_t steps = 0;
    double median = 0.0, p95 = 0.0, rms = 0.0;
};

// Jitter of one point group over frames first..last (inclusive): steps
// between consecutive tracked frames, deviation from the centred 5-frame
// mean where all five frames are tracked.
Jitter measureJitter(const std::vector<FrameRecord>& records, size_t first, size_t last, const Group& group)
{
    std::vector<double> steps;
    double sumSquares = 0.0;
    size_t deviations = 0;
    for (size_t t = first; t <= last && t < records.size(); ++t)
    {
        if (t > first && records[t].tracked && records[t - 1].tracked)
            for (int k = group.first; k < group.first + group.count; ++k)
                steps.push_back(cv::norm(records[t].points[k] - records[t - 1].points[k]));
        if (t >= first + 2 && t + 2 <= last && allTracked(records, t - 2, 5))
            for (int k = group.first; k < group.first + group.count; ++k)
            {
                cv::Point2d mean(0.0, 0.0);
                for (size_t u = t - 2; u <= t + 2; ++u)
                    mean += records[u].points[k];
                const cv::Point2d d = records[t].points[k] - mean * 0.2;
                sumSquares += d.dot(d);
                ++deviations;
            }
    }
    Jitter j;
    j.steps = steps.size();
    j.median = percentile(steps, 0.5);
    j.p95 = percentile(steps, 0.95);
    j.rms = deviations > 0 ? std::sqrt(sumSquares / static_cast<double>(deviations)) : 0.0;
    return j;
}

void printRows(const char* range, const std::vector<Run>& runs, size_t first, size_t last)
{
    for (const Run& run : runs)
    {
        std::printf("%-8s %-9s", range, run.label.c_str());
        for (const Group& group : GROUPS)
        {
            const Jitter j = measureJitter(run.records, first, last, group);
            std::printf("   %6zu %7.3f %7.3f %7.3f", j.steps, j.median, j.p95, j.rms);
        }
        std::printf("\n");
    }
}

size_t countTracked(const std::vector<FrameRecord>& records)
{
    size_t n = 0;
    for (const FrameRecord& r : records)
        n += r.tracked ? 1 : 0;
    return n;
}

}  // namespace

int main(int argc, char** argv)
{
    // --factors F is this program's own option; the rest is shared.
    float factor = 2.0f;
    std::vector<char*> shared;
    for (int i = 0; i < argc; ++i)
    {
        if (i > 0 && std::string(argv[i]) == "--factors" && i + 1 < argc)
        {
            char* end = nullptr;
            factor = std::strtof(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(factor >= 0.0f && factor <= 10.0f))
            {
                std::fprintf(stderr, "stability_bench: --factors takes a number from 0 to 10\n");
                return 2;
            }
            continue;
        }
        shared.push_back(argv[i]);
    }
    const OrvixBench::Arguments args =
        OrvixBench::parseArguments(static_cast<int>(shared.size()), shared.data(), "stability_bench");
    if (!args.ok)
    {
        std::fprintf(stderr, "       (stability_bench also takes --factors F, 0 to 10)\n");
        return 2;
    }
    if (!OrvixBench::checkInputs(args, "stability_bench"))
        return 0;
    const std::string config = args.pack + "/orvix-tracker.cfg";
    cv::Size size;
    double fps = 0.0;
    if (!OrvixBench::probeVideo(args.video, size, fps))
    {
        std::printf("stability_bench: cannot decode %s; nothing to measure\n", args.video.c_str());
        return 0;
    }

    char factorLabel[16];
    std::snprintf(factorLabel, sizeof factorLabel, "f=%g", static_cast<double>(factor));
    std::vector<Run> runs = {
        {"on", false, 1, false, 0.0f, {}},
        {"off", true, 0, false, 0.0f, {}},
        {factorLabel, true, 1, true, factor, {}},
    };
    const Run& plain = runs[1];
    for (Run& run : runs)
        if (!runTracker(config, args.video, args.frames, run))
            return 1;
    const size_t frames = plain.records.size();
    if (frames == 0)
    {
        std::printf("stability_bench: cannot decode %s; nothing to measure\n", args.video.c_str());
        return 0;
    }

    std::printf("video %s, %zu frames; data pack %s\n", args.video.c_str(), frames, args.pack.c_str());
    std::printf("frames with status 1 and all six points:");
    for (const Run& run : runs)
        std::printf(" %s %zu", run.label.c_str(), countTracked(run.records));
    std::printf("\n");

    const Window window = findStillWindow(plain.records, runs);
    if (window.first >= 0)
    {
        const size_t first = static_cast<size_t>(window.first);
        const size_t last = first + WINDOW - 1;
        std::vector<double> iod;
        for (size_t t = first; t <= last; ++t)
            iod.push_back(cv::norm(plain.records[t].points[OUTER_RIGHT] - plain.records[t].points[OUTER_LEFT]));
        std::printf("stillest %d frames: %zu..%zu (least drift of the six-point mean first to last frame plus "
                    "face-box centre path, run off): drift %.2f px, path %.2f px\n",
                    WINDOW, first, last, window.drift, window.path);
        std::printf("outer eye-corner distance 3.7-3.12 there (median): %.1f px\n", percentile(iod, 0.5));
    }
    else
    {
        std::printf("no %d consecutive frames tracked in every run: no still window\n", WINDOW);
    }

    std::printf("\npixels; step: frame-to-frame displacement of each point (median, p95 over points x steps); "
                "rms5: RMS distance from the centred 5-frame mean\n");
    std::printf("%-8s %-9s", "frames", "smoothing");
    for (const Group& group : GROUPS)
        std::printf("   %-30s", group.name);
    std::printf("\n%-8s %-9s", "", "");
    for (size_t g = 0; g < sizeof GROUPS / sizeof GROUPS[0]; ++g)
        std::printf("   %6s %7s %7s %7s", "steps", "median", "p95", "rms5");
    std::printf("\n");
    if (window.first >= 0)
        printRows("window", runs, static_cast<size_t>(window.first), static_cast<size_t>(window.first) + WINDOW - 1);
    printRows("all", runs, 0, frames - 1);
    return 0;
}
