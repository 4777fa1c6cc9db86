#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "FakeBackend.h"
#include "onn/DataPreparedModelDelegate.h"
#include "onn/DataPreparedRunnerDelegate.h"

using ONN::NNData;
using ONN::ImageUtils::NCHW;
using ONN::ImageUtils::NHWC;
using OnnTest::FakeLog;
using OnnTest::FakeModel;

namespace {

// An 8-bit interleaved 2 x 2 image of three channels (red, green, blue).
const std::vector<unsigned char> kPixels = {10, 20, 30, 11, 21, 31, 12, 22, 32, 13, 23, 33};

std::vector<float> asFloats(const std::vector<unsigned char>& bytes)
{
    std::vector<float> values(bytes.size() / sizeof(float));
    std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
    return values;
}

// A float planar model behind a prepared runner, with or without a backend
// input buffer of its own.
class PreparedRunner : public ::testing::TestWithParam<bool> {
protected:
    std::shared_ptr<FakeLog> log = std::make_shared<FakeLog>();
    bool backendBuffer() const { return GetParam(); }
};

TEST_P(PreparedRunner, ConvertsBytesToPlanarFloatsBeforeTheBackendRuns)
{
    auto* fake = new FakeModel(log, ONN::FP32, NCHW, backendBuffer() ? 12 * sizeof(float) : 0);
    ONN::DataPreparedModel model{std::unique_ptr<ONN::INNModel>(fake)};
    std::unique_ptr<ONN::INNRunner> runner(model.CreateRunner());
    ASSERT_NE(runner, nullptr);

    std::vector<unsigned char> pixels = kPixels;
    NNData image(pixels.data(), 3, 2, 2, NHWC, ONN::UINT8, true);
    for (int frame = 0; frame < 3; ++frame) {
        pixels[0] = static_cast<unsigned char>(10 + 100 * frame);
        float* output = runner->Forward(image);
        ASSERT_NE(output, nullptr);
        EXPECT_EQ(*output, static_cast<float>(frame + 1));
    }

    ASSERT_EQ(log->forwardData.size(), 3u);
    // The backend sees its own buffer when it offers one, otherwise one
    // buffer of the prepared runner, the same in every call.
    if (backendBuffer()) {
        EXPECT_EQ(log->forwardData[0], fake->lastRunner->Buffer().data());
    } else {
        EXPECT_NE(log->forwardData[0], nullptr);
    }
    EXPECT_EQ(log->forwardData[1], log->forwardData[0]);
    EXPECT_EQ(log->forwardData[2], log->forwardData[0]);
    EXPECT_NE(log->forwardData[0], static_cast<const void*>(pixels.data()));

    // The four red values / 255, then the four green, then the four blue.
    const std::vector<float> planar = asFloats(log->forwardBytes[2]);
    ASSERT_EQ(planar.size(), 12u);
    const int order[12] = {0, 3, 6, 9, 1, 4, 7, 10, 2, 5, 8, 11};
    for (int i = 0; i < 12; ++i)
        EXPECT_FLOAT_EQ(planar[i], pixels[order[i]] * 0.003921569f) << i;
    EXPECT_FLOAT_EQ(planar[0], 210 * 0.003921569f);
}

TEST_P(PreparedRunner, FloatPlanarIntoBytesInterleaved)
{
    auto* fake = new FakeModel(log, ONN::UINT8, NHWC, backendBuffer() ? 4 : 0);
    ONN::DataPreparedModel model{std::unique_ptr<ONN::INNModel>(fake)};
    std::unique_ptr<ONN::INNRunner> runner(model.CreateRunner());

    std::vector<float> planar = {1.0f, 1.2f, 0.0f, 0.5f}; // two channels, 2 x 1
    NNData input(planar.data(), 2, 2, 1, NCHW, ONN::FP32, true);
    ASSERT_NE(runner->Forward(input), nullptr);
    EXPECT_EQ(log->forwardBytes.back(), (std::vector<unsigned char>{255, 0, 50, 127}));
}

TEST_P(PreparedRunner, LaterInputsOfOtherSizesStayInsideTheBuffer)
{
    auto* fake = new FakeModel(log, ONN::UINT8, NCHW, backendBuffer() ? 4 : 0);
    ONN::DataPreparedModel model{std::unique_ptr<ONN::INNModel>(fake)};
    std::unique_ptr<ONN::INNRunner> runner(model.CreateRunner());

    std::vector<unsigned char> small = {1, 2, 3, 4};
    std::vector<unsigned char> large(64, 9);
    NNData first(small.data(), 1, 2, 2, NHWC, ONN::UINT8, true);
    NNData bigger(large.data(), 1, 8, 8, NHWC, ONN::UINT8, true);
    NNData smaller(small.data(), 1, 3, 1, NHWC, ONN::UINT8, true);

    ASSERT_NE(runner->Forward(first), nullptr);
    ::testing::internal::CaptureStderr();
    float* output = runner->Forward(bigger);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    if (backendBuffer()) {
        // The backend's memory holds the first input's size: refused.
        EXPECT_EQ(output, nullptr);
        EXPECT_EQ(errors, "ONNIE: Input of 8 x 8 x 1 does not fit the backend's input buffer.\n");
        EXPECT_EQ(log->forwardData.size(), 1u);
    } else {
        // A buffer of the runner's own grows with the input.
        ASSERT_NE(output, nullptr);
        EXPECT_EQ(errors, "");
        EXPECT_EQ(log->forwardBytes.back(), large);
    }

    // A smaller input fits either way and is described with its own size.
    ASSERT_NE(runner->Forward(smaller), nullptr);
    EXPECT_EQ(log->forwardSizes.back(), 3);
    EXPECT_EQ(log->forwardBytes.back(), (std::vector<unsigned char>{1, 2, 3}));
}

INSTANTIATE_TEST_SUITE_P(BackendBuffer, PreparedRunner, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "OwnInputMemory" : "NoInputMemory";
                         });

TEST(DataPreparedModel, PassesQueriesThroughAndDeletesTheModel)
{
    auto log = std::make_shared<FakeLog>();
    {
        ONN::DataPreparedModel model{
            std::unique_ptr<ONN::INNModel>(new FakeModel(log, ONN::UINT8, NHWC, 0, false))};
        EXPECT_FALSE(model.IsLoaded());
        EXPECT_EQ(model.GetOutputSize(), 42);
        EXPECT_EQ(model.GetDataType(), ONN::UINT8);
        EXPECT_EQ(model.GetLayoutType(), NHWC);

        std::unique_ptr<ONN::INNRunner> runner(model.CreateRunner());
        ASSERT_NE(dynamic_cast<ONN::DataPreparedRunner*>(runner.get()), nullptr);
        EXPECT_TRUE(runner->IsInitialized());
        EXPECT_EQ(runner->GetInputBuffer(), nullptr);
    }
    EXPECT_EQ(log->events, (std::vector<std::string>{"delete runner 1", "delete model"}));
}

TEST(DataPreparedRunner, WithoutABackendRunnerNothingRuns)
{
    auto log = std::make_shared<FakeLog>();
    FakeModel model(log, ONN::FP32, NCHW);
    ONN::DataPreparedRunner runner(nullptr, &model);
    std::vector<unsigned char> pixels = kPixels;
    NNData image(pixels.data(), 3, 2, 2, NHWC, ONN::UINT8, true);
    EXPECT_FALSE(runner.IsInitialized());
    EXPECT_EQ(runner.GetInputBuffer(), nullptr);
    EXPECT_EQ(runner.Forward(image), nullptr);
}

}  // namespace
