#include "onn/DataTransformer.h"

namespace ONN
{

namespace
{

template <typename Source>
void convertFrom(Source* src, const NNData& in, NNData& out)
{
    if (out.dataType == FP32)
        ImageUtils::TransformImage(src, static_cast<float*>(out.data), in.width, in.height, in.channels,
                                   in.layout, out.layout);
    else if (out.dataType == UINT8)
        ImageUtils::TransformImage(src, static_cast<unsigned char*>(out.data), in.width, in.height,
                                   in.channels, in.layout, out.layout);
}

} // namespace

NNData* DataTransformer::processData(const NNData* in, NNData* out)
{
    if (in == nullptr || out == nullptr)
        return out;
    if (in->dataType == FP32)
        convertFrom(static_cast<float*>(in->data), *in, *out);
    else
        convertFrom(static_cast<unsigned char*>(in->data), *in, *out);
    return out;
}

} // namespace ONN
