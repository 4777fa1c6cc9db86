// Runs one small convolutional network (1x1x96x96 grey input, four
// convolutions) through the ONN layer with the OV_CPU plug-in (chooser,
// frontend, prepared runner, Forward) and directly through OpenCV's dnn
// module, and prints the median time of each so that the layer's overhead
// shows. Both paths include turning the 8-bit image into the network's float
// input.
//
//   onn_bench [iterations] [threads]      (defaults: 500, 1)

#include "BenchStats.h"
#include "VinoContainer.h"
#include "detection/ModelKey.h"
#include "onn/ONNIEChooser.h"

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace
{

const int SIZE = 96;

double MicrosecondsOf(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}

using OrvixBench::Summary;

void Print(const char* label, const Summary& s)
{
    std::printf("%-34s median %9.1f us   p10 %9.1f   p90 %9.1f\n", label, s.median, s.low, s.high);
}

int ParsePositive(const char* text, int fallback)
{
    if (text == nullptr)
        return fallback;
    const long value = std::strtol(text, nullptr, 10);
    return value > 0 && value < 1000000 ? static_cast<int>(value) : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    const int iterations = ParsePositive(argc > 1 ? argv[1] : nullptr, 500);
    const int threads = ParsePositive(argc > 2 ? argv[2] : nullptr, 1);

    // Pack the network into a temporary folder, as the data build does.
    const std::string onnxPath = std::string(ORVIX_BENCH_DIR) + "bench_net.onnx";
    std::vector<unsigned char> onnx;
    if (OVPlugin::ReadWholeFile(onnxPath.c_str(), onnx, OVPlugin::VINO_MAX_FILE_SIZE) != OVPlugin::VinoStatus::OK)
    {
        std::fprintf(stderr, "onn_bench: cannot read %s\n", onnxPath.c_str());
        return 1;
    }
    std::vector<unsigned char> key = OrvixSDK::Key::buildModelKey();
    OVPlugin::InputDeclaration input;
    input.dataType = ONN::UINT8;
    input.layout = ONN::ImageUtils::NHWC;
    input.channels = 1;
    input.height = SIZE;
    input.width = SIZE;
    std::vector<unsigned char> container;
    char folder[] = "/tmp/onn-bench-XXXXXX";
    if (OVPlugin::PackModel(onnx.data(), onnx.size(), input, key.data(), 16, container) != OVPlugin::VinoStatus::OK
        || mkdtemp(folder) == nullptr)
    {
        std::fprintf(stderr, "onn_bench: cannot pack the network\n");
        return 1;
    }
    const std::string stem = std::string(folder) + "/bench";
    const std::string vinoPath = stem + ".vino";
    if (OVPlugin::WriteWholeFile(vinoPath.c_str(), container) != OVPlugin::VinoStatus::OK)
    {
        std::fprintf(stderr, "onn_bench: cannot write %s\n", vinoPath.c_str());
        return 1;
    }

    cv::Mat image(SIZE, SIZE, CV_8UC1);
    cv::randu(image, 0, 256);

    // ONN layer.
    ONN::Config config;
    config.SetBackend(ONN::OV_CPU);
    config.SetThreadCount(threads);
    ONN::ONNIEChooser chooser(config);
    std::vector<double> onnLoad;
    std::unique_ptr<ONN::NNFrontend> frontend;
    for (int i = 0; i < 5; ++i)
    {
        onnLoad.push_back(MicrosecondsOf([&] {
            frontend.reset(chooser.Create(stem.c_str(), key.data(), static_cast<int>(key.size())));
        }));
        if (!frontend || !frontend->GetModel()->IsLoaded())
        {
            std::fprintf(stderr, "onn_bench: the ONN layer cannot load %s (status %d)\n", vinoPath.c_str(),
                         chooser.GetCodeStatus());
            return 1;
        }
    }
    ONN::INNRunner* runner = frontend->CreateRunner();
    ONN::NNData data(image.data, 1, SIZE, SIZE, ONN::ImageUtils::NHWC, ONN::UINT8, true);
    const int outputSize = frontend->GetModel()->GetOutputSize();

    // OpenCV dnn directly, same thread count.
    cv::setNumThreads(threads);
    std::vector<double> directLoad;
    cv::dnn::Net net;
    for (int i = 0; i < 5; ++i)
        directLoad.push_back(MicrosecondsOf([&] {
            net = cv::dnn::readNetFromONNX(reinterpret_cast<const char*>(onnx.data()), onnx.size());
            net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
            net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
        }));
    const int shape[4] = {1, 1, SIZE, SIZE};
    cv::Mat blob(4, shape, CV_32F);
    cv::Mat plane(SIZE, SIZE, CV_32F, blob.ptr<float>());
    cv::Mat direct;
    auto directForward = [&] {
        image.convertTo(plane, CV_32F);
        net.setInput(blob);
        direct = net.forward();
    };
    const float* layered = nullptr;
    auto onnForward = [&] { layered = runner->Forward(data); };

    // Warm up, then alternate blocks of both so that drifts hit both alike.
    for (int i = 0; i < 20; ++i)
    {
        onnForward();
        directForward();
    }
    if (layered == nullptr || static_cast<int>(direct.total()) != outputSize)
    {
        std::fprintf(stderr, "onn_bench: the two paths disagree on the output\n");
        return 1;
    }
    double largestDifference = 0;
    for (int i = 0; i < outputSize; ++i)
        largestDifference = std::max(largestDifference, std::fabs(double(layered[i]) - direct.ptr<float>()[i]));

    std::vector<double> onnTimes, directTimes;
    const int block = 50;
    for (int done = 0; done < iterations; done += block)
    {
        const int count = std::min(block, iterations - done);
        for (int i = 0; i < count; ++i)
            onnTimes.push_back(MicrosecondsOf(onnForward));
        for (int i = 0; i < count; ++i)
            directTimes.push_back(MicrosecondsOf(directForward));
    }

    std::printf("network 1x1x%dx%d uint8 -> %d floats, %d iterations, %d thread(s), largest output difference %g\n",
                SIZE, SIZE, outputSize, iterations, threads, largestDifference);
    Print("load: ONN chooser (decrypt, trial)", OrvixBench::summarise(onnLoad));
    Print("load: OpenCV readNetFromONNX", OrvixBench::summarise(directLoad));
    const Summary onn = OrvixBench::summarise(onnTimes);
    const Summary plain = OrvixBench::summarise(directTimes);
    Print("forward: ONN layer + OVPlugin", onn);
    Print("forward: OpenCV dnn directly", plain);
    std::printf("overhead of the ONN layer: %.1f us per forward (%.1f%%)\n", onn.median - plain.median,
                100.0 * (onn.median - plain.median) / plain.median);

    frontend.reset();
    std::remove(vinoPath.c_str());
    rmdir(folder);
    return 0;
}
