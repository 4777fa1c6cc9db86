#include "OVModel.h"

#include "OVRunner.h"

#include <opencv2/core/utility.hpp>

#include <climits>
#include <cstdio>
#include <exception>
#include <mutex>
#include <new>

namespace OVPlugin
{

namespace
{

// OpenCV's thread count is process-wide and re-creating its thread pool while
// another thread runs a parallel loop is unsafe, so it is set only when it
// differs: every model reads the same configuration, so after the first model
// the call is skipped. Values below 1 leave OpenCV's setting alone.
void ApplyThreadCount(int threads)
{
    static std::mutex lock;
    if (threads < 1)
        return;
    std::lock_guard<std::mutex> guard(lock);
    if (cv::getNumThreads() != threads)
        cv::setNumThreads(threads);
}

} // namespace

OVModel::OVModel(const ONN::ModelParams& params)
{
    try
    {
        loaded = Load(params);
    }
    catch (const std::exception& error)
    {
        std::printf("OVPlugin: cannot load model: %s\n", error.what());
        loaded = false;
    }
    catch (...)
    {
        std::printf("OVPlugin: cannot load model\n");
        loaded = false;
    }
    if (!loaded)
        WipeBuffer(onnx);
}

OVModel::~OVModel()
{
    WipeBuffer(onnx);
}

bool OVModel::Load(const ONN::ModelParams& params)
{
    const char* path = params.modelPath ? params.modelPath : "(null)";
    VinoHeader header;
    const VinoStatus status = ReadModelFile(params.modelPath, params.key.keyData, params.key.keyLength, header, onnx);
    if (status != VinoStatus::OK)
    {
        std::printf("OVPlugin: cannot load model %s: %s\n", path, VinoStatusText(status));
        return false;
    }
    input = header.input;

    // Run the network once on zeros of the declared shape: this proves that
    // OpenCV reads it and accepts that shape, and yields the output size.
    OVRunner probe(onnx, input, 0);
    if (!probe.IsInitialized())
    {
        std::printf("OVPlugin: cannot load model %s: the network cannot be read\n", path);
        return false;
    }
    ONN::NNData zeros(nullptr, input.channels, input.width, input.height, input.layout, input.dataType, false);
    if (probe.Forward(zeros) == nullptr || probe.GetLastOutputCount() <= 0 || probe.GetLastOutputCount() > INT_MAX)
    {
        std::printf("OVPlugin: cannot load model %s: the network does not run on the declared input\n", path);
        return false;
    }
    outputSize = probe.GetLastOutputCount();

    ApplyThreadCount(params.config.GetThreadCount());
    return true;
}

ONN::INNRunner* OVModel::CreateRunner()
{
    static const std::vector<unsigned char> none;
    try
    {
        return new OVRunner(loaded ? onnx : none, input, outputSize);
    }
    catch (const std::bad_alloc&)
    {
        std::printf("OVPlugin: out of memory while creating a runner\n");
    }
    return nullptr;
}

bool OVModel::IsLoaded() const
{
    return loaded;
}

int OVModel::GetOutputSize()
{
    return static_cast<int>(outputSize);
}

ONN::EDataType OVModel::GetDataType()
{
    return input.dataType;
}

ONN::ImageUtils::ELayoutType OVModel::GetLayoutType()
{
    return input.layout;
}

} // namespace OVPlugin
