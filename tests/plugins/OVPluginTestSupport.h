#ifndef ORVIX_TESTS_PLUGINS_OVPLUGINTESTSUPPORT_H
#define ORVIX_TESTS_PLUGINS_OVPLUGINTESTSUPPORT_H

// Fixture networks of tests/data/ovplugin/ (written by make_models.py there)
// and their outputs computed by hand.

#include "TestSupport.h"
#include "VinoContainer.h"
#include "detection/ModelKey.h"

#include <algorithm>
#include <string>
#include <vector>

namespace OVPluginTest
{

inline std::string FixturePath(const std::string& name)
{
    return std::string(ORVIX_TEST_DATA_DIR) + "ovplugin/" + name;
}

inline std::vector<unsigned char> ReadFixture(const std::string& name)
{
    const std::string bytes = OrvixTest::TempDir::read(FixturePath(name));
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

inline std::string AsString(const std::vector<unsigned char>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

inline OVPlugin::InputDeclaration Declare(ONN::EDataType type, ONN::ImageUtils::ELayoutType layout, int channels,
                                          int height, int width)
{
    OVPlugin::InputDeclaration input;
    input.dataType = type;
    input.layout = layout;
    input.channels = channels;
    input.height = height;
    input.width = width;
    return input;
}

// grey_conv.onnx: 1x8x8 input, 3x3 convolution (zero padding) with this
// kernel and bias, then ReLU.
const int GREY_SIZE = 8;
const float GREY_KERNEL[3][3] = {{0, 1, 0}, {1, -4, 1}, {0, 2, 0}};
const float GREY_BIAS = 3.0f;

inline OVPlugin::InputDeclaration GreyDeclaration()
{
    return Declare(ONN::UINT8, ONN::ImageUtils::NHWC, 1, GREY_SIZE, GREY_SIZE);
}

// An 8x8 grey image with edges, flat areas and the full value range.
inline std::vector<unsigned char> GreyPixels(unsigned seed)
{
    std::vector<unsigned char> pixels(GREY_SIZE * GREY_SIZE);
    for (int y = 0; y < GREY_SIZE; ++y)
        for (int x = 0; x < GREY_SIZE; ++x)
            pixels[y * GREY_SIZE + x] = static_cast<unsigned char>((y * 37 + x * 11 + (x * y) % 5 * 20 + seed * 13) % 256);
    return pixels;
}

inline std::vector<float> GreyExpected(const std::vector<unsigned char>& pixels)
{
    std::vector<float> out(GREY_SIZE * GREY_SIZE);
    for (int y = 0; y < GREY_SIZE; ++y)
        for (int x = 0; x < GREY_SIZE; ++x)
        {
            float sum = GREY_BIAS;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                {
                    const int yy = y + dy;
                    const int xx = x + dx;
                    if (yy >= 0 && yy < GREY_SIZE && xx >= 0 && xx < GREY_SIZE)
                        sum += GREY_KERNEL[dy + 1][dx + 1] * pixels[yy * GREY_SIZE + xx];
                }
            out[y * GREY_SIZE + x] = std::max(0.0f, sum);
        }
    return out;
}

// rgb_mix.onnx: 3x4x5 input (channels x height x width), 1x1 convolution
// out = c0 + 10 c1 + 100 c2, no bias.
const int RGB_HEIGHT = 4;
const int RGB_WIDTH = 5;

// Interleaved (NHWC) 3-channel bytes, every channel different per pixel.
inline std::vector<unsigned char> RgbInterleaved()
{
    std::vector<unsigned char> pixels(3 * RGB_HEIGHT * RGB_WIDTH);
    for (int p = 0; p < RGB_HEIGHT * RGB_WIDTH; ++p)
    {
        pixels[3 * p] = static_cast<unsigned char>(p + 1);
        pixels[3 * p + 1] = static_cast<unsigned char>(2 * p + 3);
        pixels[3 * p + 2] = static_cast<unsigned char>(200 - 7 * p);
    }
    return pixels;
}

// Expected output of rgb_mix for the interleaved pixels, each channel value
// multiplied by scale first.
inline std::vector<float> RgbExpected(const std::vector<unsigned char>& interleaved, float scale)
{
    std::vector<float> out(RGB_HEIGHT * RGB_WIDTH);
    for (size_t p = 0; p < out.size(); ++p)
        out[p] = scale * interleaved[3 * p] + 10 * (scale * interleaved[3 * p + 1])
                 + 100 * (scale * interleaved[3 * p + 2]);
    return out;
}

// Packs a fixture network under the SDK's model key.
inline std::vector<unsigned char> PackFixture(const std::string& name, const OVPlugin::InputDeclaration& input)
{
    const std::vector<unsigned char> onnx = ReadFixture(name);
    const std::vector<unsigned char> key = OrvixSDK::Key::buildModelKey();
    std::vector<unsigned char> container;
    if (onnx.empty()
        || OVPlugin::PackModel(onnx.data(), onnx.size(), input, key.data(), static_cast<int>(key.size()), container)
               != OVPlugin::VinoStatus::OK)
        container.clear();
    return container;
}

} // namespace OVPluginTest

#endif
