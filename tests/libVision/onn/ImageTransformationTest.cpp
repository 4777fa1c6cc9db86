#include <cmath>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "onn/DataTransformer.h"
#include "onn/ImageTransformation.h"

using ONN::NNData;
using ONN::ImageUtils::NCHW;
using ONN::ImageUtils::NHWC;
using ONN::ImageUtils::TransformImage;

namespace {

const float kByte = 0.003921569f;

// A 2 x 2 image of three channels, interleaved: pixel p has channel values
// 10p + 1, 10p + 2, 10p + 3.
const std::vector<unsigned char> kInterleaved = {1, 2, 3, 11, 12, 13, 21, 22, 23, 31, 32, 33};
// The same image planar: all first channels, then the second, then the third.
const std::vector<unsigned char> kPlanar = {1, 11, 21, 31, 2, 12, 22, 32, 3, 13, 23, 33};

TEST(ImageTransformation, ConversionConstants)
{
    float* f = nullptr;
    unsigned char* b = nullptr;
    EXPECT_EQ(ONN::ImageUtils::getConversionConstant(f, f), 1.0f);
    EXPECT_EQ(ONN::ImageUtils::getConversionConstant(b, b), 1.0f);
    EXPECT_EQ(ONN::ImageUtils::getConversionConstant(f, b), 255.0f);
    EXPECT_EQ(ONN::ImageUtils::getConversionConstant(b, f), kByte);
}

TEST(ImageTransformation, LayoutChangesMoveEveryElement)
{
    std::vector<unsigned char> src = kInterleaved;
    std::vector<unsigned char> dst(12, 0);
    ASSERT_TRUE(TransformImage(src.data(), dst.data(), 2, 2, 3, NHWC, NCHW));
    EXPECT_EQ(dst, kPlanar);

    src = kPlanar;
    ASSERT_TRUE(TransformImage(src.data(), dst.data(), 2, 2, 3, NCHW, NHWC));
    EXPECT_EQ(dst, kInterleaved);

    for (auto layout : {NCHW, NHWC}) {
        std::fill(dst.begin(), dst.end(), 0);
        ASSERT_TRUE(TransformImage(src.data(), dst.data(), 2, 2, 3, layout, layout));
        EXPECT_EQ(dst, kPlanar) << "same layout " << layout;
    }
}

TEST(ImageTransformation, NonSquareImageKeepsRowsAndColumns)
{
    // 3 columns x 2 rows x 2 channels: element (c, y, x) = 100c + 10y + x.
    std::vector<float> planar;
    for (int c = 0; c < 2; ++c)
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                planar.push_back(100.0f * c + 10.0f * y + x);
    std::vector<float> interleaved(12);
    ASSERT_TRUE(TransformImage(planar.data(), interleaved.data(), 3, 2, 2, NCHW, NHWC));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 2; ++c)
                EXPECT_EQ(interleaved[(y * 3 + x) * 2 + c], 100.0f * c + 10.0f * y + x);
    std::vector<float> back(12);
    ASSERT_TRUE(TransformImage(interleaved.data(), back.data(), 3, 2, 2, NHWC, NCHW));
    EXPECT_EQ(back, planar);
}

TEST(ImageTransformation, FloatToByteIsTruncatedModulo256)
{
    // One channel: copied index for index, whatever the layouts say.
    std::vector<float> src = {1.0f, 1.2f, 0.5f, 0.999f, -1.0f, 2.0f, 1e10f, NAN};
    std::vector<unsigned char> dst(src.size(), 7);
    ASSERT_TRUE(TransformImage(src.data(), dst.data(), 4, 2, 1, NCHW, NHWC));
    EXPECT_EQ(dst[0], 255);
    EXPECT_EQ(dst[1], 50); // 306 modulo 256
    EXPECT_EQ(dst[2], 127);
    EXPECT_EQ(dst[3], 254);
    EXPECT_EQ(dst[4], 1);   // -255 modulo 256
    EXPECT_EQ(dst[5], 254); // 510 modulo 256
    // Far beyond the int range the product is still reduced modulo 256, and a
    // value that is not a number gives 0.
    const float huge = 1e10f * 255.0f;
    EXPECT_EQ(dst[6], static_cast<unsigned char>(std::fmod(static_cast<double>(huge), 256.0)));
    EXPECT_EQ(dst[7], 0);
}

TEST(ImageTransformation, BytesToFloatScaleByOne255th)
{
    std::vector<unsigned char> src = {0, 255, 51};
    std::vector<float> dst(3);
    ASSERT_TRUE(TransformImage(src.data(), dst.data(), 3, 1, 1, NHWC, NHWC));
    EXPECT_EQ(dst[0], 0.0f);
    EXPECT_FLOAT_EQ(dst[1], 1.0f);
    EXPECT_FLOAT_EQ(dst[2], 0.2f);
}

TEST(ImageTransformation, RefusesMissingBuffersAndEmptySizes)
{
    float src[4] = {1, 2, 3, 4};
    float dst[4] = {9, 9, 9, 9};
    EXPECT_FALSE((TransformImage<float, float>(nullptr, dst, 2, 2, 1, NHWC, NHWC)));
    EXPECT_FALSE((TransformImage<float, float>(src, nullptr, 2, 2, 1, NHWC, NHWC)));
    EXPECT_FALSE(TransformImage(src, dst, 0, 2, 1, NHWC, NHWC));
    EXPECT_FALSE(TransformImage(src, dst, 2, -1, 1, NHWC, NHWC));
    EXPECT_FALSE(TransformImage(src, dst, 2, 2, 0, NHWC, NHWC));
    for (float v : dst)
        EXPECT_EQ(v, 9.0f);
}

TEST(ImageTransformation, StandAloneTransformMakesPlanarFloats)
{
    std::vector<unsigned char> bytes = kInterleaved;
    std::unique_ptr<float[]> fromBytes(TransformImage(bytes.data(), 2, 2, 3, ONN::ImageUtils::UINT8));
    ASSERT_NE(fromBytes, nullptr);
    for (int i = 0; i < 12; ++i)
        EXPECT_FLOAT_EQ(fromBytes[i], kPlanar[i] * kByte) << i;

    std::vector<float> floats(kInterleaved.begin(), kInterleaved.end());
    std::unique_ptr<float[]> fromFloats(TransformImage(floats.data(), 2, 2, 3, ONN::ImageUtils::FP32));
    ASSERT_NE(fromFloats, nullptr);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(fromFloats[i], static_cast<float>(kPlanar[i])) << i;

    // Empty sizes and missing data neither crash nor read anything.
    std::unique_ptr<float[]> empty(TransformImage(bytes.data(), 0, 2, 3, ONN::ImageUtils::UINT8));
    std::unique_ptr<float[]> negative(TransformImage(bytes.data(), -2, -2, 3, ONN::ImageUtils::UINT8));
    std::unique_ptr<float[]> zeros(TransformImage(nullptr, 2, 1, 1, ONN::ImageUtils::UINT8));
    ASSERT_NE(zeros, nullptr);
    EXPECT_EQ(zeros[0], 0.0f);
    EXPECT_EQ(zeros[1], 0.0f);
}

// processData picks the instance by the two element types and uses the
// input's dimensions.
TEST(DataTransformer, ConvertsIntoTheOutputsTypeAndLayout)
{
    std::vector<unsigned char> pixels = kInterleaved;
    NNData in(pixels.data(), 3, 2, 2, NHWC, ONN::UINT8, true);

    NNData toFloat(nullptr, 3, 2, 2, NCHW, ONN::FP32, false);
    EXPECT_EQ(ONN::DataTransformer::processData(&in, &toFloat), &toFloat);
    const float* planar = static_cast<const float*>(toFloat.data);
    for (int i = 0; i < 12; ++i)
        EXPECT_FLOAT_EQ(planar[i], kPlanar[i] * kByte) << i;

    NNData toBytes(nullptr, 3, 2, 2, NHWC, ONN::UINT8, false);
    ONN::DataTransformer::processData(&toFloat, &toBytes);
    const unsigned char* bytes = static_cast<const unsigned char*>(toBytes.data);
    // x / 255 * 255 may land just below x; truncation then gives x - 1.
    for (int i = 0; i < 12; ++i)
        EXPECT_NEAR(bytes[i], kInterleaved[i], 1) << i;

    // Null records are ignored.
    EXPECT_EQ(ONN::DataTransformer::processData(nullptr, &toBytes), &toBytes);
    EXPECT_EQ(ONN::DataTransformer::processData(&in, nullptr), nullptr);
}

}  // namespace
