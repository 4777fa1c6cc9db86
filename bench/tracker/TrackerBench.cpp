// Front-end cost of OrvixTracker::track per frame, without the networks.
//
//   cmake --build <build> --target tracker_bench && <build>/bench/tracker/tracker_bench [frames]
//
// The tracker runs on a stand-in detector whose core finds no face, so a
// frame costs the conversion to grey, the temporal denoising, the
// bookkeeping and the slot loop with one searching slot.  Everything runs
// on one thread (OpenMP and OpenCV).  For each frame size and pixel format
// the median, the 10th and the 90th percentile of the time per track call
// are printed, with denoising on and off.

#include "BenchStats.h"
#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "OrvixSDK/OrvixTracker.h"
#include "detection/OrvixDetector.h"
#include "detection/OrvixTrackerCore.h"

using namespace OrvixSDK;

namespace {

class NoFaceCore : public OrvixTrackerCore
{
public:
    bool getTrackingPoints(const IplImage*, FDP*, float&, const std::vector<CvRect>&) override { return false; }
    void resetTrackerState() override {}
    void resetEarsRefiner(Candide3Model*, Candide3Model*, Candide3Model*, std::string) override {}
    int getFaceScale() const override { return -1; }
    CvRect getFaceBoundingBox() const override { return {-1, -1, -1, -1}; }
    void setFaceBoundingBox(CvRect) override {}
    bool refineEars() const override { return false; }
};

class ReadyDetector : public OrvixDetector
{
public:
    explicit ReadyDetector(const char* path) : OrvixDetector(path) {}
    // No network data is read: the core below needs none.
    void loadPupilNNModel(const char*) override {}
    int isInitialized() override { return 0; }
    OrvixTrackerCore* createTrackerCore() override { return new NoFaceCore(); }
};

class BenchTracker : public OrvixTracker
{
public:
    explicit BenchTracker(const std::string& path) : OrvixTracker(path.c_str()) {}

protected:
    OrvixDetector* createDetector(const char* path) override { return new ReadyDetector(path); }
};

std::string writeConfig(const std::string& folder, int denoise)
{
    const std::string path = folder + "/tracker" + std::to_string(denoise) + ".cfg";
    std::ofstream out(path);
    out << "recovery_timeout 1000\n"
           "smoothing_factors -1 -1 -1 -1 -1 -1 -1 -1\n"
           "enable_smoothing 1\n"
           "temporally_denoise_input "
        << denoise
        << "\n"
           "ofd_data_path ofd/\noft_data_path oft/\npr_data_path pr/\ner_data_path er/\n"
           "process_eyes 3\nrefine_ears 0\nfitting_algorithm eif_pose_su_au\n"
           "pose_fitting_model_configuration none\nau_fitting_model_configuration none\n"
           "mesh_fitting_model_configuration none\n";
    return path;
}

}  // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
    omp_set_num_threads(1);
    cv::setNumThreads(1);

    char folderPattern[] = "/tmp/orvix-tracker-bench-XXXXXX";
    const char* folder = mkdtemp(folderPattern);
    if (folder == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }

    struct Size
    {
        int width;
        int height;
    };
    const Size sizes[] = {{640, 480}, {1920, 1080}};
    const char* formatNames[] = {"RGB", "BGR", "grey", "RGBA", "BGRA"};
    const int channels[] = {3, 3, 1, 4, 4};

    std::printf("tracker front end, %d frames per case, 1 thread; times per track call in ms\n", frames);
    std::printf("%-10s %-5s %-8s %8s %8s %8s\n", "size", "fmt", "denoise", "p10", "median", "p90");
    std::mt19937 random(12345);
    for (const Size& size : sizes) {
        for (int format = 0; format < 5; ++format) {
            // Two noisy frames in turn, so that the denoising sees changes.
            const size_t bytes = static_cast<size_t>(size.width) * size.height * channels[format];
            std::vector<std::vector<char>> pixels(2, std::vector<char>(bytes));
            for (auto& frame : pixels) {
                for (char& c : frame)
                    c = static_cast<char>(random() & 0xFF);
            }
            for (int denoise = 1; denoise >= 0; --denoise) {
                BenchTracker tracker(writeConfig(folder, denoise));
                FaceData faces[1];
                for (int k = 0; k < 10; ++k)
                    tracker.track(size.width, size.height, pixels[k % 2].data(), faces, format, 0, 0, -1, 1);
                std::vector<double> times;
                times.reserve(static_cast<size_t>(frames));
                for (int k = 0; k < frames; ++k) {
                    const auto start = std::chrono::steady_clock::now();
                    tracker.track(size.width, size.height, pixels[k % 2].data(), faces, format, 0, 0, -1, 1);
                    const auto stop = std::chrono::steady_clock::now();
                    times.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
                }
                const OrvixBench::Summary s = OrvixBench::summarise(times);
                std::printf("%4dx%-5d %-5s %-8s %8.3f %8.3f %8.3f\n", size.width, size.height, formatNames[format],
                            denoise ? "on" : "off", s.low, s.median, s.high);
            }
        }
    }
    const std::string cleanup = std::string("rm -rf '") + folder + "'";
    if (std::system(cleanup.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", folder);
    return 0;
}
