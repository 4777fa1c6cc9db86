#include "onn/ImageTransformation.h"

#include <cmath>
#include <new>

namespace ONN
{
namespace ImageUtils
{

namespace
{

const float kByteToFloat = 0.003921569f;

// Stores a converted value: floats as they are, bytes truncated toward zero
// and kept modulo 256 (what an integer conversion to 8 bits does).
inline void store(float value, float* dst)
{
    *dst = value;
}

inline void store(float value, unsigned char* dst)
{
    // Within the int range the cast truncates toward zero and the 8-bit
    // conversion keeps the value modulo 256; outside it (and for values that
    // are not numbers) the result is reduced first.
    if (value > -2147483520.0f && value < 2147483520.0f)
    {
        *dst = static_cast<unsigned char>(static_cast<int>(value));
        return;
    }
    if (!std::isfinite(value))
    {
        *dst = 0;
        return;
    }
    double reduced = std::fmod(std::trunc(static_cast<double>(value)), 256.0);
    if (reduced < 0)
        reduced += 256.0;
    *dst = static_cast<unsigned char>(static_cast<int>(reduced));
}

} // namespace

float getConversionConstant(float*, float*)
{
    return 1.0f;
}

float getConversionConstant(unsigned char*, unsigned char*)
{
    return 1.0f;
}

float getConversionConstant(float*, unsigned char*)
{
    return 255.0f;
}

float getConversionConstant(unsigned char*, float*)
{
    return kByteToFloat;
}

template <typename Source, typename Destination>
bool TransformImage(Source* src, Destination* dst, int width, int height, int channels, ELayoutType from,
                    ELayoutType to)
{
    if (src == nullptr || dst == nullptr || width < 1 || height < 1 || channels < 1)
        return false;
    const float k = getConversionConstant(src, dst);
    const long plane = static_cast<long>(width) * height;
    const long count = plane * channels;

    if (from == to || channels == 1)
    {
        for (long i = 0; i < count; ++i)
            store(static_cast<float>(src[i]) * k, dst + i);
    }
    else if (from == NCHW && to == NHWC)
    {
        for (long p = 0; p < plane; ++p)
        {
            for (int c = 0; c < channels; ++c)
                store(static_cast<float>(src[c * plane + p]) * k, dst + p * channels + c);
        }
    }
    else
    {
        for (long p = 0; p < plane; ++p)
        {
            for (int c = 0; c < channels; ++c)
                store(static_cast<float>(src[p * channels + c]) * k, dst + c * plane + p);
        }
    }
    return true;
}

template ORVIX_API bool TransformImage<float, float>(float*, float*, int, int, int, ELayoutType, ELayoutType);
template ORVIX_API bool TransformImage<float, unsigned char>(float*, unsigned char*, int, int, int, ELayoutType,
                                                             ELayoutType);
template ORVIX_API bool TransformImage<unsigned char, float>(unsigned char*, float*, int, int, int, ELayoutType,
                                                             ELayoutType);
template ORVIX_API bool TransformImage<unsigned char, unsigned char>(unsigned char*, unsigned char*, int, int,
                                                                     int, ELayoutType, ELayoutType);

float* TransformImage(void* data, int width, int height, int channels, EFormat format)
{
    if (width < 1 || height < 1 || channels < 1)
        return new (std::nothrow) float[0];
    const long count = static_cast<long>(width) * height * channels;
    float* result = new (std::nothrow) float[count]();
    if (result == nullptr || data == nullptr)
        return result;
    if (format == FP32)
        TransformImage(static_cast<float*>(data), result, width, height, channels, NHWC, NCHW);
    else
        TransformImage(static_cast<unsigned char*>(data), result, width, height, channels, NHWC, NCHW);
    return result;
}

} // namespace ImageUtils
} // namespace ONN
