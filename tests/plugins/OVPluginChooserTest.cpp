// End to end: chooser -> plug-in manager -> OVPlugin -> prepared runner ->
// Forward, with the SDK's model key.

#include "OVPluginTestSupport.h"
#include "onn/ONNIEChooser.h"

#include <gtest/gtest.h>

#include <memory>

using namespace OVPluginTest;

namespace
{

ONN::Config Configuration(ONN::EBackend backend)
{
    ONN::Config config;
    config.SetBackend(backend);
    config.SetThreadCount(1);
    return config;
}

class OVPluginChooserTest : public ::testing::Test
{
protected:
    // Writes <name>.vino and returns the path without the suffix, as callers
    // hand it to the chooser.
    std::string Stem(const std::string& name, const std::vector<unsigned char>& container)
    {
        dir.write(name + ".vino", AsString(container));
        return dir.path() + name;
    }

    std::vector<unsigned char> key = OrvixSDK::Key::buildModelKey();
    OrvixTest::TempDir dir;
};

} // namespace

TEST_F(OVPluginChooserTest, GreyImageRunsThroughEveryLayer)
{
    const std::string stem = Stem("grey", PackFixture("grey_conv.onnx", GreyDeclaration()));
    for (ONN::EBackend backend : {ONN::OV_CPU, ONN::AUTO})
    {
        SCOPED_TRACE(GetBackendName(backend));
        ONN::ONNIEChooser chooser(Configuration(backend));
        std::unique_ptr<ONN::NNFrontend> frontend(chooser.Create(stem.c_str(), key.data(), static_cast<int>(key.size())));
        ASSERT_NE(frontend, nullptr) << "status " << chooser.GetCodeStatus();
        EXPECT_EQ(chooser.GetCodeStatus(), 0);
        EXPECT_EQ(chooser.GetBackend(), ONN::OV_CPU);
        ONN::INNModel* model = frontend->GetModel();
        ASSERT_TRUE(model->IsLoaded());
        EXPECT_EQ(model->GetOutputSize(), GREY_SIZE * GREY_SIZE);
        EXPECT_EQ(model->GetDataType(), ONN::UINT8);
        EXPECT_EQ(model->GetLayoutType(), ONN::ImageUtils::NHWC);

        ONN::INNRunner* runner = frontend->CreateRunner();
        ASSERT_NE(runner, nullptr);
        ASSERT_TRUE(runner->IsInitialized());
        for (unsigned seed = 0; seed < 2; ++seed)
        {
            // A caller's grey pixels as they come from an image.
            std::vector<unsigned char> pixels = GreyPixels(seed);
            ONN::NNData input(pixels.data(), 1, GREY_SIZE, GREY_SIZE, ONN::ImageUtils::NHWC, ONN::UINT8, true);
            const float* out = runner->Forward(input);
            ASSERT_NE(out, nullptr);
            const std::vector<float> expected = GreyExpected(pixels);
            for (size_t i = 0; i < expected.size(); ++i)
                EXPECT_FLOAT_EQ(out[i], expected[i]) << "at " << i;
        }
    }
}

// A model declared FP32 NCHW gets the caller's interleaved bytes converted
// by the layer (scaled by 1/255, made planar) before the plug-in runs it.
TEST_F(OVPluginChooserTest, LayerConvertsInterleavedBytesForAPlanarFloatModel)
{
    const std::string stem = Stem(
        "rgb", PackFixture("rgb_mix.onnx", Declare(ONN::FP32, ONN::ImageUtils::NCHW, 3, RGB_HEIGHT, RGB_WIDTH)));
    ONN::ONNIEChooser chooser(Configuration(ONN::OV_CPU));
    std::unique_ptr<ONN::NNFrontend> frontend(chooser.Create(stem.c_str(), key.data(), static_cast<int>(key.size())));
    ASSERT_NE(frontend, nullptr) << "status " << chooser.GetCodeStatus();
    EXPECT_EQ(frontend->GetModel()->GetDataType(), ONN::FP32);
    EXPECT_EQ(frontend->GetModel()->GetLayoutType(), ONN::ImageUtils::NCHW);

    std::vector<unsigned char> pixels = RgbInterleaved();
    ONN::NNData input(pixels.data(), 3, RGB_WIDTH, RGB_HEIGHT, ONN::ImageUtils::NHWC, ONN::UINT8, true);
    const float* out = frontend->CreateRunner()->Forward(input);
    ASSERT_NE(out, nullptr);
    const std::vector<float> expected = RgbExpected(pixels, 0.003921569f);
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(out[i], expected[i], 1e-4f) << "at " << i;
}

TEST_F(OVPluginChooserTest, UnusableModelsGiveNoFrontend)
{
    const std::string good = Stem("grey", PackFixture("grey_conv.onnx", GreyDeclaration()));
    std::vector<unsigned char> wrongKey = key;
    wrongKey[0] ^= 0xff;
    const std::string truncated = Stem("short", std::vector<unsigned char>(10, 'O'));

    const struct
    {
        const char* label;
        std::string stem;
        unsigned char* keyData;
    } cases[] = {
        {"wrong key", good, wrongKey.data()},
        {"missing model", dir.path() + "absent", key.data()},
        {"damaged model", truncated, key.data()},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        ONN::ONNIEChooser chooser(Configuration(ONN::OV_CPU));
        std::unique_ptr<ONN::NNFrontend> frontend(chooser.Create(c.stem.c_str(), c.keyData, 16));
        EXPECT_EQ(frontend, nullptr);
        EXPECT_EQ(chooser.GetCodeStatus(), ONN::CREATE_MODEL_NOT_LOADED);
    }
}
