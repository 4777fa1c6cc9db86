// Per-frame cost of tracking faces in the sample video with the data pack's
// networks.
//
//   tracking_bench [video] [--data PACK_DIR] [--frames N]
//
// 1. The tracking core alone (ONNTrackerCore::getTrackingPoints on grey
//    frames, one face), split by stage (face finder, deep alignment, pupil
//    refinement, the rest), with 1 and 2 network threads.  Search frames are
//    forced by resetting the core before every frame of a second pass;
//    tracking frames are those of the normal pass that start in the
//    tracking state.
// 2. The public call OrvixTracker::track on the BGR frames (conversion,
//    denoising, smoothing and bookkeeping included), one face, 1 and 2
//    threads, with the share of frames that report status 1.
// 3. OrvixTracker::track on montages of the video (1x1, 2x2, 3x3 copies of
//    each frame, at the frame's own size) with one slot per tile: time per
//    frame, tracking slots and time per tracked face.  The slots run on the
//    OpenMP threads (OMP_NUM_THREADS); the networks on one thread each.
//
// Medians and 95th percentiles in milliseconds; the first frames of every
// pass (network start-up, first search) are left out.  Without the data
// pack or the video the program says what is missing and exits with 0.

#include <omp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/types_c.h>
#include <opencv2/imgproc.hpp>

#include "BenchStats.h"
#include "DetectionBench.h"
#include "OrvixSDK/FDP.h"
#include "OrvixSDK/FaceData.h"
#include "OrvixSDK/OrvixConfiguration.h"
#include "OrvixSDK/OrvixTracker.h"
#include "detection/ONNTrackerCore.h"
#include "detection/OrvixDetector.h"
#include "onn/Config.h"
#include "onn/ONNInit.h"

using namespace OrvixSDK;
using OrvixBench::percentile;

namespace
{

const int DEFAULT_FRAMES = 300;
// Frames at the start of each pass that are not measured.
const int WARMUP_FRAMES = 5;
// Frames a montage run gets to pick up all its faces (one slot searches per
// frame) before it is measured.
const int MONTAGE_WARMUP_FRAMES = 30;

struct Inputs
{
    std::string pack;        // without trailing separator
    std::string config;      // tracker configuration of the pack
    std::string video;
    std::string faceFinder;  // folders as the tracker configuration names them
    std::string alignment;
    std::string pupils;
    float minFaceScale = 0.15f;
    float maxFaceScale = 1.0f;
    float sensitivity = 0.5f;
    int frames = DEFAULT_FRAMES;
    cv::Size size;
    double fps = 25.0;
};

void setThreads(int threads)
{
    // The plug-in applies the configured count when a model loads, so this
    // comes before the networks are built.
    ONN::globalConfig.SetThreadCount(threads);
    cv::setNumThreads(threads);
}

// Samples of one kind of frame.
struct StageSamples
{
    std::vector<double> finder, alignment, pupils, rest, total;
    int found = 0;

    void add(const ONNTrackerCore::StageTimes& t, bool ok)
    {
        finder.push_back(t.finderMs);
        alignment.push_back(t.alignmentMs);
        pupils.push_back(t.pupilMs);
        rest.push_back(std::max(0.0, t.totalMs - t.finderMs - t.alignmentMs - t.pupilMs));
        total.push_back(t.totalMs);
        if (ok)
            ++found;
    }
    size_t count() const { return total.size(); }
};

// One pass of the core over the video.  With forceSearch the core is reset
// before every frame, so that every frame is a full search; otherwise the
// frames that start in the tracking state are collected, and startStates
// counts the states frames started in.
bool runCorePass(const Inputs& in, ONNTrackerCore& core, bool forceSearch, StageSamples& samples,
                 int startStates[3])
{
    OrvixBench::Video video(in.video);
    if (!video.isOpen())
        return false;
    core.resetTrackerState();
    cv::Mat bgr, grey;
    FDP points;
    const std::vector<CvRect> otherFaces;
    for (int i = 0; i < in.frames && video.next(bgr); ++i)
    {
        cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
        IplImage frame = cvIplImage(grey);
        if (forceSearch)
            core.resetTrackerState();
        float quality = 0.0f;
        const bool ok = core.getTrackingPoints(&frame, &points, quality, otherFaces);
        const ONNTrackerCore::StageTimes& t = core.getLastStageTimes();
        if (i < WARMUP_FRAMES)
            continue;
        if (t.startState >= 0 && t.startState < 3)
            ++startStates[t.startState];
        if (forceSearch ? t.startState == ONNTrackerCore::SEARCHING : t.startState == ONNTrackerCore::TRACKING)
            samples.add(t, ok);
    }
    return true;
}

std::string cell(const std::vector<double>& v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%6.2f /%6.2f", percentile(v, 0.5), percentile(v, 0.95));
    return text;
}

void printStageRow(const char* kind, int threads, const StageSamples& s)
{
    std::printf("%-9s %7d %5zu %5d   %s   %s   %s   %s   %s\n", kind, threads, s.count(), s.found,
                cell(s.finder).c_str(), cell(s.alignment).c_str(), cell(s.pupils).c_str(), cell(s.rest).c_str(),
                cell(s.total).c_str());
}

bool measureCore(const Inputs& in)
{
    ONNTrackerCore::setFaceScaleSearchRange(in.minFaceScale, in.maxFaceScale);
    ONNTrackerCore::setFaceDetectorSensitivity(in.sensitivity);

    std::printf("\nTracking core, one face: ms per frame, median / p95 (frames %d..%d of the video)\n",
                WARMUP_FRAMES, in.frames - 1);
    std::printf("%-9s %7s %5s %5s   %-14s   %-14s   %-14s   %-14s   %-14s\n", "frames", "threads", "n", "found",
                "finder", "alignment", "pupils", "rest", "total");
    for (int threads = 1; threads <= 2; ++threads)
    {
        setThreads(threads);
        OrvixDetector detector(in.faceFinder.c_str());
        detector.setUseONN(1);
        detector.setRefinePupils(true);
        detector.loadFaceDetectorData(in.faceFinder.c_str());
        detector.loadAlignData(in.alignment.c_str());
        detector.loadPupilNNModel(in.pupils.c_str());
        if (detector.isInitialized() != 0)
        {
            std::fprintf(stderr, "tracking_bench: the detector data did not load (mask %d)\n",
                         detector.isInitialized());
            return false;
        }
        std::unique_ptr<OrvixTrackerCore> base(detector.createTrackerCore());
        ONNTrackerCore* core = dynamic_cast<ONNTrackerCore*>(base.get());
        if (core == nullptr)
        {
            std::fprintf(stderr, "tracking_bench: the detector built no tracking core\n");
            return false;
        }
        StageSamples tracking, search;
        int normalStates[3] = {0, 0, 0};
        int searchStates[3] = {0, 0, 0};
        if (!runCorePass(in, *core, false, tracking, normalStates) ||
            !runCorePass(in, *core, true, search, searchStates))
        {
            std::fprintf(stderr, "tracking_bench: cannot read %s\n", in.video.c_str());
            return false;
        }
        printStageRow("search", threads, search);
        printStageRow("tracking", threads, tracking);
        std::printf("%-9s %7s normal pass started %d frames searching, %d re-detecting, %d tracking\n", "", "",
                    normalStates[ONNTrackerCore::SEARCHING], normalStates[ONNTrackerCore::REDETECTING],
                    normalStates[ONNTrackerCore::TRACKING]);
    }
    std::printf("(n: frames of that kind; found: calls that returned a face; rest: total minus the three "
                "stages: working frame, quality, face box, point copies)\n");
    return true;
}

bool measurePublicCall(const Inputs& in)
{
    std::printf("\nOrvixTracker::track, one face, BGR %dx%d: ms per call (frames %d..%d)\n", in.size.width,
                in.size.height, WARMUP_FRAMES, in.frames - 1);
    std::printf("%7s %5s %8s %8s %10s\n", "threads", "n", "median", "p95", "status 1");
    for (int threads = 1; threads <= 2; ++threads)
    {
        setThreads(threads);
        OrvixTracker tracker(in.config.c_str());
        FaceData face;
        OrvixBench::Video video(in.video);
        if (!video.isOpen())
            return false;
        std::vector<double> times;
        int tracked = 0;
        cv::Mat bgr;
        for (int i = 0; i < in.frames && video.next(bgr); ++i)
        {
            const OrvixBench::Clock::time_point start = OrvixBench::Clock::now();
            const int* status = tracker.track(bgr.cols, bgr.rows, reinterpret_cast<const char*>(bgr.data), &face, 1,
                                              0, static_cast<int>(bgr.step), OrvixBench::frameTimeMs(i, in.fps), 1);
            const double ms = OrvixBench::millisecondsSince(start);
            if (i < WARMUP_FRAMES)
                continue;
            times.push_back(ms);
            if (status[0] == 1)
                ++tracked;
        }
        if (tracker.isInitializationFailed())
        {
            std::fprintf(stderr, "tracking_bench: the tracker did not initialise: %s\n",
                         tracker.getLastError().c_str());
            return false;
        }
        const double share = times.empty() ? 0.0 : 100.0 * tracked / static_cast<double>(times.size());
        std::printf("%7d %5zu %8.2f %8.2f %9.1f%%\n", threads, times.size(), percentile(times, 0.5),
                    percentile(times, 0.95), share);
    }
    return true;
}

bool measureMontages(const Inputs& in)
{
    setThreads(1);
    const char* ompEnv = std::getenv("OMP_NUM_THREADS");
    std::printf("\nOrvixTracker::track on montages of the video, one slot per tile: ms per frame (frames %d..%d)\n",
                MONTAGE_WARMUP_FRAMES, in.frames - 1);
    // The pack's smallest face (min_face_scale, a fraction of the shorter
    // side) still admits the faces of the 3x3 montage, which are about 15 %
    // of its height, so the configuration is used as it is.
    std::printf("OMP_NUM_THREADS=%s (omp_get_max_threads %d), network threads 1, min_face_scale %.2f\n",
                ompEnv != nullptr ? ompEnv : "(unset)", omp_get_max_threads(), in.minFaceScale);
    std::printf("%-6s %-10s %5s %5s %8s %8s %16s %12s\n", "layout", "size", "slots", "n", "median", "p95",
                "status 1 med/min", "ms per face");
    if (in.frames <= MONTAGE_WARMUP_FRAMES)
    {
        std::printf("(needs more than %d frames)\n", MONTAGE_WARMUP_FRAMES);
        return true;
    }
    for (int grid = 1; grid <= 3; ++grid)
    {
        const int slots = grid * grid;
        OrvixTracker tracker(in.config.c_str());
        std::vector<FaceData> faces(static_cast<size_t>(slots));
        OrvixBench::Video video(in.video);
        if (!video.isOpen())
            return false;
        std::vector<double> times, trackingSlots;
        cv::Mat bgr, montage;
        for (int i = 0; i < in.frames && video.next(bgr); ++i)
        {
            cv::repeat(bgr, grid, grid, montage);
            const OrvixBench::Clock::time_point start = OrvixBench::Clock::now();
            const int* status = tracker.track(montage.cols, montage.rows,
                                              reinterpret_cast<const char*>(montage.data), faces.data(), 1, 0,
                                              static_cast<int>(montage.step), OrvixBench::frameTimeMs(i, in.fps),
                                              slots);
            const double ms = OrvixBench::millisecondsSince(start);
            if (i < MONTAGE_WARMUP_FRAMES)
                continue;
            times.push_back(ms);
            trackingSlots.push_back(static_cast<double>(std::count(status, status + slots, 1)));
        }
        const double median = percentile(times, 0.5);
        const double tracked = percentile(trackingSlots, 0.5);
        const double fewest =
            trackingSlots.empty() ? 0.0 : *std::min_element(trackingSlots.begin(), trackingSlots.end());
        char size[24], slotText[24];
        std::snprintf(size, sizeof size, "%dx%d", grid * in.size.width, grid * in.size.height);
        std::snprintf(slotText, sizeof slotText, "%.0f/%.0f", tracked, fewest);
        std::printf("%dx%-4d %-10s %5d %5zu %8.2f %8.2f %16s", grid, grid, size, slots, times.size(), median,
                    percentile(times, 0.95), slotText);
        if (tracked > 0.0)
            std::printf(" %12.2f\n", median / tracked);
        else
            std::printf(" %12s\n", "-");
    }
    std::printf("(status 1 med/min: slots tracking per measured frame, median and fewest; ms per face: median ms "
                "over the median of tracking slots)\n");
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const OrvixBench::Arguments args = OrvixBench::parseArguments(argc, argv, "tracking_bench");
    if (!args.ok)
        return 2;
    if (!OrvixBench::checkInputs(args, "tracking_bench"))
        return 0;

    Inputs in;
    in.pack = args.pack;
    in.config = args.pack + "/orvix-tracker.cfg";
    in.video = args.video;
    in.frames = args.frames > 0 ? args.frames : DEFAULT_FRAMES;
    if (!OrvixBench::probeVideo(in.video, in.size, in.fps))
    {
        std::printf("tracking_bench: cannot decode %s; nothing to measure\n", in.video.c_str());
        return 0;
    }
    {
        const OrvixConfiguration config(in.config.c_str());
        in.faceFinder = config.getOfdDataPath();
        in.alignment = config.getOftDataPath();
        in.pupils = config.getPrDataPath();
        in.minFaceScale = config.getMinFaceScale();
        in.maxFaceScale = config.getMaxFaceScale();
        in.sensitivity = config.getFaceDetectorSensitivity();
    }
    std::printf("video %s: %dx%d at %.2f frames/s, first %d frames; data pack %s\n", in.video.c_str(),
                in.size.width, in.size.height, in.fps, in.frames, in.pack.c_str());

    // Reads the pack's network configuration once for the process; the
    // thread count is then changed in it before each set of networks loads.
    ONNInit(in.pack + "/");

    if (!measureCore(in) || !measurePublicCall(in) || !measureMontages(in))
        return 1;
    return 0;
}
