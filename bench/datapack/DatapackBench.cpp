// Runs each network of the data pack (face finder "ff", alignment "d1qy",
// pupils "pr") through the ONN layer with the OV_CPU plug-in (chooser,
// frontend, runner, Forward), as the SDK does, and prints the median time of
// one forward pass with 1 and with 2 threads. Without a built pack it says so
// and exits with 0.
//
//   datapack_bench [iterations]      (default 200)

#include "BenchStats.h"
#include "detection/ModelKey.h"
#include "onn/ONNIEChooser.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{

struct Network
{
    const char* name;
    const char* stem;
    int side;
};

const Network NETWORKS[] = {
    {"ff", "nn/face-detector/ff", 256},
    {"d1qy", "nn/alignment/d1qy", 96},
    {"pr", "nn/pupils/pr", 32},
};

bool IsFile(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

using OrvixBench::Summary;

// Forward-pass times of one network with the given thread count; empty when
// the network cannot be loaded or run.
std::vector<double> Measure(const std::string& pack, const Network& net, int threads, int iterations,
                            int& outputs)
{
    ONN::Config config;
    config.SetBackend(ONN::OV_CPU);
    config.SetThreadCount(threads);
    ONN::ONNIEChooser chooser(config);
    std::vector<unsigned char> key = OrvixSDK::Key::buildModelKey();
    const std::string stem = pack + net.stem;
    std::unique_ptr<ONN::NNFrontend> frontend(
        chooser.Create(stem.c_str(), key.data(), static_cast<int>(key.size())));
    if (!frontend || !frontend->GetModel()->IsLoaded())
    {
        std::fprintf(stderr, "datapack_bench: cannot load %s (status %d)\n", stem.c_str(), chooser.GetCodeStatus());
        return {};
    }
    // The plug-in applies the thread count when a model loads; the same call
    // keeps it for this process.
    cv::setNumThreads(threads);
    outputs = frontend->GetModel()->GetOutputSize();
    ONN::INNRunner* runner = frontend->CreateRunner();
    cv::Mat image(net.side, net.side, CV_8UC1);
    cv::randu(image, 0, 256);
    ONN::NNData data(image.data, 1, net.side, net.side, ONN::ImageUtils::NHWC, ONN::UINT8, true);
    if (runner == nullptr || runner->Forward(data) == nullptr)
    {
        std::fprintf(stderr, "datapack_bench: cannot run %s\n", stem.c_str());
        return {};
    }
    for (int i = 0; i < 10; ++i)
        runner->Forward(data);
    std::vector<double> times;
    for (int i = 0; i < iterations; ++i)
    {
        const auto start = std::chrono::steady_clock::now();
        runner->Forward(data);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return times;
}

} // namespace

int main(int argc, char** argv)
{
    int iterations = 200;
    if (argc > 1)
    {
        const long value = std::strtol(argv[1], nullptr, 10);
        if (value > 0 && value < 1000000)
            iterations = static_cast<int>(value);
    }
    const std::string pack = ORVIX_DATAPACK_DIR;
    for (const Network& net : NETWORKS)
        if (!IsFile(pack + net.stem + ".vino"))
        {
            std::printf("datapack_bench: no data pack in %s (build the datapack target); nothing to measure\n",
                        pack.c_str());
            return 0;
        }

    std::printf("%d forward passes per network and thread count, times in ms (median, p10, p90)\n", iterations);
    int status = 0;
    for (const Network& net : NETWORKS)
    {
        for (int threads = 1; threads <= 2; ++threads)
        {
            int outputs = 0;
            const std::vector<double> times = Measure(pack, net, threads, iterations, outputs);
            if (times.empty())
            {
                status = 1;
                continue;
            }
            const Summary s = OrvixBench::summarise(times);
            std::printf("%-5s 1x%dx%d uint8 -> %6d floats, %d thread(s): median %8.3f   p10 %8.3f   p90 %8.3f\n",
                        net.name, net.side, net.side, outputs, threads, s.median, s.low, s.high);
        }
    }
    return status;
}
