#include "OVRunner.h"

#include <cstdio>
#include <exception>

namespace OVPlugin
{

namespace
{

// Copies C x H x W elements of type Source in the given layout into a
// planar float buffer, without scaling.
template <typename Source>
void ToPlanarFloat(const Source* src, float* dst, int channels, int height, int width,
                   ONN::ImageUtils::ELayoutType layout)
{
    const long plane = static_cast<long>(height) * width;
    if (layout == ONN::ImageUtils::NCHW || channels == 1)
    {
        const long count = plane * channels;
        for (long i = 0; i < count; ++i)
            dst[i] = static_cast<float>(src[i]);
        return;
    }
    for (long pixel = 0; pixel < plane; ++pixel)
        for (int c = 0; c < channels; ++c)
            dst[c * plane + pixel] = static_cast<float>(src[pixel * channels + c]);
}

} // namespace

OVRunner::OVRunner(const std::vector<unsigned char>& onnx, const InputDeclaration& input_, long outputSize_)
    : input(input_), outputSize(outputSize_)
{
    if (onnx.empty() || !input.IsValid())
        return;
    try
    {
        net = cv::dnn::readNetFromONNX(reinterpret_cast<const char*>(onnx.data()), onnx.size());
        if (net.empty())
            return;
        net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
        net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
        const int shape[4] = {1, input.channels, input.height, input.width};
        blob.create(4, shape, CV_32F);
        initialized = true;
    }
    catch (const std::exception& error)
    {
        std::printf("OVPlugin: cannot build the network: %s\n", error.what());
    }
    catch (...)
    {
        std::printf("OVPlugin: cannot build the network\n");
    }
}

OVRunner::~OVRunner() = default;

bool OVRunner::FillBlob(const ONN::NNData& data)
{
    if (data.data == nullptr || data.channels != input.channels || data.height != input.height
        || data.width != input.width)
    {
        if (!mismatchReported)
        {
            std::printf("OVPlugin: input %dx%dx%d does not match the model's %dx%dx%d (channels x height x width)\n",
                        data.channels, data.height, data.width, input.channels, input.height, input.width);
            mismatchReported = true;
        }
        return false;
    }
    float* dst = blob.ptr<float>();
    if (data.dataType == ONN::FP32)
        ToPlanarFloat(static_cast<const float*>(data.data), dst, input.channels, input.height, input.width,
                      data.layout);
    else
        ToPlanarFloat(static_cast<const unsigned char*>(data.data), dst, input.channels, input.height,
                      input.width, data.layout);
    return true;
}

float* OVRunner::Forward(const ONN::NNData& data)
{
    if (!initialized || !FillBlob(data))
        return nullptr;
    try
    {
        net.setInput(blob);
        cv::Mat result = net.forward();
        if (result.empty())
            return nullptr;
        if (result.type() != CV_32F)
        {
            cv::Mat converted;
            result.convertTo(converted, CV_32F);
            result = converted;
        }
        else if (!result.isContinuous())
        {
            result = result.clone();
        }
        if (outputSize > 0 && static_cast<long>(result.total()) != outputSize)
        {
            std::printf("OVPlugin: network produced %ld values instead of %ld\n",
                        static_cast<long>(result.total()), outputSize);
            return nullptr;
        }
        output = result;
        return output.ptr<float>();
    }
    catch (const std::exception& error)
    {
        std::printf("OVPlugin: inference failed: %s\n", error.what());
    }
    catch (...)
    {
        std::printf("OVPlugin: inference failed\n");
    }
    return nullptr;
}

bool OVRunner::IsInitialized() const
{
    return initialized;
}

void* OVRunner::GetInputBuffer()
{
    return nullptr;
}

long OVRunner::GetLastOutputCount() const
{
    return static_cast<long>(output.total());
}

} // namespace OVPlugin
