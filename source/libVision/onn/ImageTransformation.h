#ifndef ONN_IMAGE_TRANSFORMATION_H
#define ONN_IMAGE_TRANSFORMATION_H

#include "OrvixSDK/Export.h"

namespace ONN
{

enum EDataType
{
    UINT8 = 0,
    FP32 = 1
};

namespace ImageUtils
{

// Memory layout of an image tensor of C channels, H rows and W columns.
enum ELayoutType
{
    NCHW = 0, // planar: (c, y, x) at c*H*W + y*W + x
    NHWC = 1  // interleaved: (c, y, x) at (y*W + x)*C + c (OpenCV images)
};

// Element type of the source of the stand-alone TransformImage. Inside
// ImageUtils these names hide ONN::UINT8 and ONN::FP32; qualify those there.
enum EFormat
{
    UINT8 = 0,
    FP32 = 1
};

} // namespace ImageUtils

// A tensor buffer: C x H x W elements of one type in one layout, owned or
// borrowed. Everything is inline so that backend plug-ins can use the record
// without linking against the library.
class NNData
{
public:
    NNData(void* source, int channels, int width, int height, ImageUtils::ELayoutType layout,
           EDataType dataType, bool shared);
    virtual ~NNData()
    {
        if (!shared)
            delete[] static_cast<unsigned char*>(data);
    }

    NNData(const NNData&) = delete;
    NNData& operator=(const NNData&) = delete;

    // Number of elements and bytes the record describes.
    long ElementCount() const
    {
        return channels > 0 && width > 0 && height > 0 ? static_cast<long>(channels) * width * height : 0;
    }
    long ByteCount() const { return ElementCount() * (dataType == FP32 ? 4 : 1); }

    ImageUtils::ELayoutType layout;
    EDataType dataType;
    int channels;
    int width;
    int height;
    bool shared;
    void* data;
};

inline NNData::NNData(void* source, int channels_, int width_, int height_,
                      ImageUtils::ELayoutType layout_, EDataType dataType_, bool shared_)
    : layout(layout_), dataType(dataType_), channels(channels_), width(width_), height(height_),
      shared(shared_), data(nullptr)
{
    if (shared)
    {
        data = source;
        return;
    }
    const long bytes = ByteCount();
    if (bytes <= 0)
        return;
    unsigned char* buffer = new unsigned char[bytes]();
    if (source)
    {
        const unsigned char* from = static_cast<const unsigned char*>(source);
        for (long i = 0; i < bytes; ++i)
            buffer[i] = from[i];
    }
    data = buffer;
}

namespace ImageUtils
{

// Converts a C x H x W image from layout `from` to layout `to`, multiplying
// each element by getConversionConstant(src, dst). Float results are stored as
// they are; unsigned-char results are truncated toward zero and kept modulo
// 256 (no saturation). One-channel images and equal layouts are copied index
// for index; NCHW to NHWC interleaves, every other pair is taken as NHWC to
// NCHW. Returns false, without writing, for null pointers or a dimension
// below 1. Instances exist for float and unsigned char on each side.
// Exported for backend plug-ins.
template <typename Source, typename Destination>
ORVIX_API bool TransformImage(Source* src, Destination* dst, int width, int height, int channels,
                              ELayoutType from, ELayoutType to);

// Factor of an element-type pair (picked by the pointer types): 1 for equal
// types, 255 for float to unsigned char, 1/255 (0.003921569f) for unsigned
// char to float.
float getConversionConstant(float* src, float* dst);
float getConversionConstant(unsigned char* src, unsigned char* dst);
float getConversionConstant(float* src, unsigned char* dst);
float getConversionConstant(unsigned char* src, float* dst);

// A new array of width x height x channels floats (free it with delete[])
// holding data, read as NHWC floats (FP32, factor 1) or bytes (UINT8, factor
// 1/255), in NCHW layout. A dimension below 1 returns an empty array, a null
// data an array of zeros; null only when the memory cannot be allocated.
// Exported for backend plug-ins.
ORVIX_API float* TransformImage(void* data, int width, int height, int channels, EFormat format);

} // namespace ImageUtils

} // namespace ONN

#endif
