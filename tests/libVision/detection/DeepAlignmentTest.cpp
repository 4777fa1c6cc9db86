// Deep alignment: the mean-shape file, the preparation of the mean shape,
// the alignment steps with stand-in networks, and the real alignment network
// of the data pack on the demo photos (skipped when no pack has been built).

#include "detection/DeepAlignmentData.h"
#include "detection/DeepAlignmentRuntime.h"

#include "DataPackSupport.h"
#include "OrvixSDK/FDP.h"
#include "TestSupport.h"
#include "detection/AlignmentUtils.h"
#include "detection/ONNFaceFinder.h"
#include "detection/ONNFaceFinderData.h"
#include "libVision/detection/FakeNetwork.h"
#include "libVision/onn/OnnTestSupport.h"
#include "onn/Config.h"
#include "onn/ONNIEChooser.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

using OrvixSDK::DeepAlignmentData;
using OrvixSDK::DeepAlignmentRuntime;
using OrvixSDK::FDP;
using OrvixSDK::FeaturePoint;
using OrvixTest::FakeFrontend;
using OrvixTest::FakeNetwork;
using Detection = OrvixSDK::ONNFaceFinder::Detection;

// ---------------------------------------------------------------- aux file

struct Landmark {
    int group, index;
    float x, y;
};

// An upright little face: brows, nostrils, pupils (3.5 on the image right)
// and the chin.  Extent 24 x 55, centroid (50, 345 / 7).
const std::vector<Landmark> kFace = {{4, 1, 55, 30}, {4, 2, 45, 30}, {9, 4, 45, 60}, {9, 5, 55, 60},
                                     {3, 5, 62, 40}, {3, 6, 38, 40}, {2, 1, 50, 85}};
const float kFaceScale = 1.25f;

void PutInt(std::string& bytes, int32_t value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
}

void PutFloat(std::string& bytes, float value)
{
    int32_t bits;
    std::memcpy(&bits, &value, 4);
    PutInt(bytes, bits);
}

std::string AuxBytes(const std::vector<Landmark>& shape, float scale, int32_t dimension = 2)
{
    std::string bytes;
    PutInt(bytes, static_cast<int32_t>(shape.size()));
    for (const Landmark& l : shape) {
        PutInt(bytes, l.group);
        PutInt(bytes, l.index);
    }
    PutInt(bytes, dimension);
    for (const Landmark& l : shape) {
        PutFloat(bytes, l.x);
        PutFloat(bytes, l.y);
    }
    PutFloat(bytes, scale);
    return bytes;
}

// Data made from a folder without networks: the chooser's complaint about
// the missing network goes to the captured streams.  The folder is passed
// without its trailing separator, as the detector passes it.
std::unique_ptr<DeepAlignmentData> QuietData(std::string folder, bool refinement, std::string* out = nullptr,
                                             std::string* err = nullptr)
{
    if (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::unique_ptr<DeepAlignmentData> data(new DeepAlignmentData(folder, refinement));
    const std::string printed = testing::internal::GetCapturedStdout();
    const std::string complained = testing::internal::GetCapturedStderr();
    if (out != nullptr)
        *out = printed;
    if (err != nullptr)
        *err = complained;
    return data;
}

cv::Point2f ShapePoint(const CvMat* shape, int k)
{
    return {CV_MAT_ELEM(*shape, float, k, 0), CV_MAT_ELEM(*shape, float, k, 1)};
}

TEST(DeepAlignmentDataTest, GoodFileIsReadAndItsShapeCentredInTheFrame)
{
    OrvixTest::TempDir dir;
    dir.write("aux_file.bin", AuxBytes(kFace, kFaceScale));
    std::string err;
    std::unique_ptr<DeepAlignmentData> data = QuietData(dir.path(), false, nullptr, &err);

    ASSERT_EQ(data->landmarkCount, 7);
    EXPECT_EQ(data->groups, (std::vector<int>{4, 4, 9, 9, 3, 3, 2}));
    EXPECT_EQ(data->indices, (std::vector<int>{1, 2, 4, 5, 5, 6, 1}));
    EXPECT_FLOAT_EQ(data->shapeScale, kFaceScale);
    EXPECT_EQ(data->imageSize, 96);
    EXPECT_EQ(data->channels, 1);
    EXPECT_EQ(data->heatmapPatch, 16);
    ASSERT_NE(data->initShape, nullptr);
    // Larger extent 55 -> 96 / 1.25 = 76.8; centroid moved to (48, 48).
    const float factor = 96.0f / (1.25f * 55.0f);
    for (size_t k = 0; k < kFace.size(); ++k) {
        const cv::Point2f p = ShapePoint(data->initShape, static_cast<int>(k));
        EXPECT_NEAR(p.x, (kFace[k].x - 50.0f) * factor + 48.0f, 1e-4);
        EXPECT_NEAR(p.y, (kFace[k].y - 345.0f / 7.0f) * factor + 48.0f, 1e-4);
    }
    // No network in the folder: reported, not loaded, no runner.
    EXPECT_EQ(data->stage1, nullptr);
    EXPECT_FALSE(data->isLoaded());
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(data->getRunner(OrvixSDK::INITIAL_STAGE), nullptr);
}

TEST(DeepAlignmentDataTest, MeanShapeIsScaledByItsLargerExtentAboutItsCentroid)
{
    // 40 wide, 50 high, centroid away from the box centre.
    cv::Mat shape = (cv::Mat_<float>(5, 2) << 0, 0, 40, 0, 0, 50, 40, 50, 10, 10);
    CvMat header = cvMat(shape);
    DeepAlignmentData::adjustInitShape(&header, 96, 1.25f);

    const cv::Rect2f box = OrvixSDK::findMinMaxBoundingBox(&header);
    EXPECT_NEAR(box.width, 61.44f, 1e-4);
    EXPECT_NEAR(box.height, 76.8f, 1e-4);
    cv::Mat mean;
    cv::reduce(shape, mean, 0, cv::REDUCE_AVG);
    EXPECT_NEAR(mean.at<float>(0, 0), 48.0f, 1e-4);
    EXPECT_NEAR(mean.at<float>(0, 1), 48.0f, 1e-4);
    // Factor 1.536 about the centroid (18, 22).
    EXPECT_NEAR(shape.at<float>(4, 0), (10 - 18) * 1.536f + 48, 1e-4);
    EXPECT_NEAR(shape.at<float>(4, 1), (10 - 22) * 1.536f + 48, 1e-4);
    EXPECT_NEAR(box.x, (0 - 18) * 1.536f + 48, 1e-4);
}

TEST(DeepAlignmentDataTest, MinMaxBoxOfAShape)
{
    cv::Mat shape = (cv::Mat_<float>(3, 2) << 5, -2, -1.5f, 7, 3, 3);
    CvMat header = cvMat(shape);
    const cv::Rect2f box = OrvixSDK::findMinMaxBoundingBox(&header);
    EXPECT_FLOAT_EQ(box.x, -1.5f);
    EXPECT_FLOAT_EQ(box.y, -2.0f);
    EXPECT_FLOAT_EQ(box.width, 6.5f);
    EXPECT_FLOAT_EQ(box.height, 9.0f);
    EXPECT_EQ(OrvixSDK::findMinMaxBoundingBox(nullptr).area(), 0.0f);
}

// Damaged files: every one is a failed load with nothing kept.
std::vector<OrvixTest::NamedContent> DamagedFiles()
{
    const std::string good = AuxBytes(kFace, kFaceScale);
    std::vector<Landmark> invalidPoint = kFace;
    invalidPoint[2].index = 99;
    std::vector<Landmark> unusedGroup = kFace;
    unusedGroup[0].group = 1;
    std::vector<Landmark> notANumber = kFace;
    notANumber[3].y = std::numeric_limits<float>::quiet_NaN();
    std::vector<Landmark> flat = kFace;
    for (Landmark& l : flat)
        l.y = 40;
    std::string hugeCount;
    PutInt(hugeCount, 20000);
    hugeCount += good.substr(4);
    std::string negativeCount;
    PutInt(negativeCount, -3);
    negativeCount += good.substr(4);
    return {{"empty", ""},
            {"three bytes", good.substr(0, 3)},
            {"count only", good.substr(0, 4)},
            {"truncated point list", good.substr(0, 4 + 8 * 3 + 2)},
            {"no dimension", good.substr(0, 4 + 8 * 7)},
            {"truncated mean shape", good.substr(0, 8 + 8 * 7 + 20)},
            {"no shape scale", good.substr(0, good.size() - 4)},
            {"zero count", std::string(4, '\0') + good.substr(4)},
            {"negative count", negativeCount},
            {"absurd count", hugeCount},
            {"invalid point", AuxBytes(invalidPoint, kFaceScale)},
            {"unused group", AuxBytes(unusedGroup, kFaceScale)},
            {"not a number", AuxBytes(notANumber, kFaceScale)},
            {"zero scale", AuxBytes(kFace, 0.0f)},
            {"infinite scale", AuxBytes(kFace, std::numeric_limits<float>::infinity())},
            {"no height", AuxBytes(flat, kFaceScale)},
            {"random bytes", OrvixTest::randomBytes(3000, 7)}};
}

class DamagedAuxFileTest : public ::testing::TestWithParam<OrvixTest::NamedContent> {};

TEST_P(DamagedAuxFileTest, IsAFailedLoadWithAMessage)
{
    OrvixTest::TempDir dir;
    const std::string path = dir.write("aux_file.bin", GetParam().content);
    std::string out;
    std::unique_ptr<DeepAlignmentData> data = QuietData(dir.path(), false, &out);
    EXPECT_EQ(data->initShape, nullptr);
    EXPECT_FALSE(data->isLoaded());
    EXPECT_EQ(data->landmarkCount, 0);
    EXPECT_TRUE(data->groups.empty());
    EXPECT_NE(out.find("Error while reading bin file " + path + "\n"), std::string::npos) << out;

    // A runtime made from it cannot align and says so.
    DeepAlignmentRuntime runtime(data.get());
    EXPECT_EQ(runtime.runner1, nullptr);
    cv::Mat image(50, 50, CV_8UC1, cv::Scalar(0));
    IplImage header = cvIplImage(image);
    FDP points;
    float quality = -1;
    EXPECT_FALSE(runtime.findLandmarkPoints(&header, cvRect(10, 10, 20, 20), &points, quality));
    EXPECT_FALSE(points.FPIsDefined(3, 5));
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedAuxFileTest, ::testing::ValuesIn(DamagedFiles()));

TEST(DeepAlignmentDataTest, EveryTruncationOfAGoodFileFailsAndAMissingFileIsReported)
{
    OrvixTest::TempDir dir;
    const std::string good = AuxBytes(kFace, kFaceScale);
    std::unique_ptr<DeepAlignmentData> data = QuietData(dir.path() + "missing", false);
    EXPECT_EQ(data->initShape, nullptr);
    EXPECT_FALSE(data->isLoaded());

    for (size_t length = 0; length < good.size(); ++length) {
        const std::string path = dir.write("cut.bin", good.substr(0, length));
        CvMat dummy;
        CvMat* shape = &dummy;  // must be replaced by null
        testing::internal::CaptureStdout();
        EXPECT_FALSE(data->loadAuxBin(path, &shape)) << length;
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(shape, nullptr) << length;
    }
    // The whole file reads; a later failure clears what was read.
    const std::string path = dir.write("whole.bin", good);
    CvMat* shape = nullptr;
    ASSERT_TRUE(data->loadAuxBin(path, &shape));
    ASSERT_NE(shape, nullptr);
    EXPECT_EQ(shape->rows, 7);
    EXPECT_FLOAT_EQ(CV_MAT_ELEM(*shape, float, 6, 1), 85.0f);
    cvReleaseMat(&shape);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(data->loadAuxBin(dir.path() + "nothing-here.bin", &shape));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error while reading bin file " + dir.path() + "nothing-here.bin\n");
    EXPECT_EQ(data->landmarkCount, 0);
}

TEST(DeepAlignmentDataTest, WrongDimensionIsNamed)
{
    OrvixTest::TempDir dir;
    dir.write("aux_file.bin", AuxBytes(kFace, kFaceScale, 3));
    std::string out;
    std::unique_ptr<DeepAlignmentData> data = QuietData(dir.path(), false, &out);
    EXPECT_EQ(out.rfind("expected 2D init shapes, got 3!\n", 0), 0u) << out;
    EXPECT_EQ(out.find("Error while reading bin file"), std::string::npos) << out;
    EXPECT_EQ(data->initShape, nullptr);
    EXPECT_FALSE(data->isLoaded());
}

TEST(DeepAlignmentDataTest, RefinementStageWithoutItsNetworkIsReportedAndNotLoaded)
{
    OrvixTest::TempDir dir;
    dir.write("aux_file.bin", AuxBytes(kFace, kFaceScale));
    std::string err;
    std::unique_ptr<DeepAlignmentData> data = QuietData(dir.path(), true, nullptr, &err);
    EXPECT_TRUE(data->m_useRefinementStage);
    EXPECT_EQ(data->stage2, nullptr);
    EXPECT_FALSE(data->isLoaded());
    EXPECT_NE(err.find("orvix|SDK: "), std::string::npos) << err;
    EXPECT_EQ(data->getRunner(OrvixSDK::REFINEMENT_STAGE), nullptr);
    EXPECT_EQ(data->getRunner(static_cast<OrvixSDK::DanModelIdentifier>(7)), nullptr);
}

// ------------------------------------------------- stand-in networks

// First-stage output: every landmark offset by (dx, dy), quality 0.5 + k / 100.
std::vector<float> FirstStageOutput(size_t n, float dx, float dy)
{
    std::vector<float> out(3 * n);
    for (size_t k = 0; k < n; ++k) {
        out[2 * k] = dx;
        out[2 * k + 1] = dy;
        out[2 * n + k] = 0.5f + static_cast<float>(k) / 100.0f;
    }
    return out;
}

class DeepAlignmentRuntimeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir.write("aux_file.bin", AuxBytes(kFace, kFaceScale));
        data = QuietData(dir.path(), false);
        ASSERT_NE(data->initShape, nullptr);
    }

    // A stand-in first-stage network in place of the missing file.
    void Install(std::vector<float> output)
    {
        firstNet = std::make_shared<FakeNetwork>(std::move(output));
        data->stage1 = new FakeFrontend(firstNet);  // owned by data
        data->loaded = true;
    }

    // Aligns kFaceBox on a uniform frame of kGrey, 400 x 300 pixels.
    static bool AlignOnGrey(DeepAlignmentRuntime& runtime, FDP& points)
    {
        cv::Mat image(300, 400, CV_8UC1, cv::Scalar(kGrey));
        IplImage header = cvIplImage(image);
        float quality = -1;
        return runtime.findLandmarkPoints(&header, kFaceBox, &points, quality);
    }

    // Where a landmark of the mean shape lands when it is fitted to face
    // (pixels): scaled by the mean of the width and height ratios, its box
    // centred on the rectangle's centre.
    static cv::Point2f Fitted(size_t k, CvRect face)
    {
        const float factor = (face.width / 24.0f + face.height / 55.0f) / 2.0f;
        return {(kFace[k].x - 50.0f) * factor + face.x + face.width / 2.0f,
                (kFace[k].y - 57.5f) * factor + face.y + face.height / 2.0f};
    }

    static constexpr int kGrey = 90;
    static const CvRect kFaceBox;

    OrvixTest::TempDir dir;
    std::unique_ptr<DeepAlignmentData> data;
    std::shared_ptr<FakeNetwork> firstNet;  // the first stage's script and record
};

const CvRect DeepAlignmentRuntimeTest::kFaceBox = cvRect(100, 80, 120, 150);

TEST_F(DeepAlignmentRuntimeTest, ZeroOffsetsGiveTheMeanShapeFittedToTheRectangle)
{
    Install(FirstStageOutput(kFace.size(), 0, 0));
    DeepAlignmentRuntime runtime(data.get());
    ASSERT_NE(runtime.runner1, nullptr);
    EXPECT_EQ(runtime.runner2, nullptr);
    EXPECT_FLOAT_EQ(runtime.shapeScale, kFaceScale);

    // A horizontal ramp: the value is half the column.
    cv::Mat image(300, 400, CV_8UC1);
    for (int x = 0; x < image.cols; ++x)
        image.col(x).setTo(x / 2);
    IplImage header = cvIplImage(image);
    const CvRect face = kFaceBox;
    FDP points;
    float quality = -1;
    ASSERT_TRUE(runtime.findLandmarkPoints(&header, face, &points, quality));
    EXPECT_EQ(quality, 0.0f);

    for (size_t k = 0; k < kFace.size(); ++k) {
        SCOPED_TRACE(std::to_string(kFace[k].group) + "." + std::to_string(kFace[k].index));
        const FeaturePoint& p = points.getFP(kFace[k].group, kFace[k].index);
        const cv::Point2f expected = Fitted(k, face);
        EXPECT_NEAR(p.position[0] * 400, expected.x, 0.01);
        EXPECT_NEAR(p.position[1] * 300, expected.y, 0.01);
        EXPECT_EQ(p.position[2], -1.0f);
        EXPECT_EQ(p.defined, 1);
        EXPECT_EQ(p.detected, 1);
        EXPECT_FLOAT_EQ(p.quality, 0.5f + static_cast<float>(k) / 100.0f);
    }
    EXPECT_FALSE(points.FPIsDefined(8, 1));
    EXPECT_NEAR(runtime.getLastAngle(), 0.0f, 1e-3);

    // The network saw one 96 x 96 grey crop, NHWC bytes.  The frame centre
    // is the mean shape's centroid, which lies on the middle column of the
    // rectangle, x = 160, where the ramp is 80.
    ASSERT_EQ(firstNet->inputs.size(), 1u);
    const FakeNetwork::Input& input = firstNet->inputs[0];
    EXPECT_EQ(input.channels, 1);
    EXPECT_EQ(input.width, 96);
    EXPECT_EQ(input.height, 96);
    EXPECT_EQ(input.layout, ONN::ImageUtils::NHWC);
    EXPECT_EQ(input.dataType, ONN::UINT8);
    ASSERT_EQ(input.bytes.size(), 96u * 96u);
    EXPECT_NEAR(input.bytes[48 * 96 + 48], 80, 1.0);
    // Upright and not mirrored: the crop darkens to the left like the image.
    EXPECT_LT(input.bytes[48 * 96 + 10], input.bytes[48 * 96 + 85]);
}

TEST_F(DeepAlignmentRuntimeTest, OffsetsAreInUnitsOfTheMeanShapeExtent)
{
    Install(FirstStageOutput(kFace.size(), 0.1f, -0.05f));
    DeepAlignmentRuntime runtime(data.get());
    FDP points;
    ASSERT_TRUE(AlignOnGrey(runtime, points));

    // An offset of 1 is 96 / 1.25 frame pixels; the frame is 1.25 * 55 / 96
    // mean-shape units per pixel and the rectangle 'factor' pixels per unit.
    const float factor = (120 / 24.0f + 150 / 55.0f) / 2.0f;
    const float perOffset = (96.0f / 1.25f) * (1.25f * 55.0f / 96.0f) * factor;
    for (size_t k = 0; k < kFace.size(); ++k) {
        const FeaturePoint& p = points.getFP(kFace[k].group, kFace[k].index);
        const cv::Point2f expected = Fitted(k, kFaceBox);
        EXPECT_NEAR(p.position[0] * 400, expected.x + 0.1f * perOffset, 0.01);
        EXPECT_NEAR(p.position[1] * 300, expected.y - 0.05f * perOffset, 0.01);
    }
}

struct RollCase {
    bool hasPrevious;
    float lastAngle;
    float expectedRoll;
};

void PrintTo(const RollCase& c, std::ostream* out)
{
    *out << (c.hasPrevious ? "previous " : "no previous ") << c.lastAngle << " degrees";
}

class DeepAlignmentRollTest : public DeepAlignmentRuntimeTest, public ::testing::WithParamInterface<RollCase> {};

TEST_P(DeepAlignmentRollTest, PreviousRollAboveFiveDegreesTurnsTheFaceUpright)
{
    // The stand-in always finds an upright face in the crop; when the crop
    // was de-rotated, that face is rolled by the same angle in the image.
    Install(FirstStageOutput(kFace.size(), 0, 0));
    DeepAlignmentRuntime runtime(data.get());
    runtime.setHasPreviousAngle(GetParam().hasPrevious);
    runtime.lastAngle = GetParam().lastAngle;
    FDP points;
    ASSERT_TRUE(AlignOnGrey(runtime, points));
    EXPECT_NEAR(runtime.getLastAngle(), GetParam().expectedRoll, 0.01);
    EXPECT_EQ(runtime.getHasPreviousAngle(), GetParam().hasPrevious);
}

INSTANTIATE_TEST_SUITE_P(Angles, DeepAlignmentRollTest,
                         ::testing::Values(RollCase{true, 4.0f, 0.0f}, RollCase{true, -5.0f, 0.0f},
                                           RollCase{true, 6.0f, 6.0f}, RollCase{true, -6.0f, -6.0f},
                                           RollCase{true, 30.0f, 30.0f}, RollCase{false, 6.0f, 0.0f}));

TEST_F(DeepAlignmentRuntimeTest, RefinementStageSeesTheRewarpedFaceAndItsHeatmap)
{
    Install(FirstStageOutput(kFace.size(), 0, 0));
    data->m_useRefinementStage = true;
    auto secondNet = std::make_shared<FakeNetwork>(std::vector<float>(2 * kFace.size(), 0.0f));
    FakeFrontend* second = new FakeFrontend(secondNet);
    data->stage2 = second;
    EXPECT_NE(data->getRunner(OrvixSDK::REFINEMENT_STAGE), nullptr);

    DeepAlignmentRuntime runtime(data.get());
    ASSERT_NE(runtime.runner2, nullptr);
    FDP points;
    ASSERT_TRUE(AlignOnGrey(runtime, points));

    // Nothing moved in either stage: the result is the one-stage result.
    for (size_t k = 0; k < kFace.size(); ++k) {
        const FeaturePoint& p = points.getFP(kFace[k].group, kFace[k].index);
        EXPECT_NEAR(p.position[0] * 400, Fitted(k, kFaceBox).x, 0.01);
        EXPECT_NEAR(p.position[1] * 300, Fitted(k, kFaceBox).y, 0.01);
    }

    // The runtime ran its own runner (the first one was made above) once.
    ASSERT_EQ(second->runnerCount(), 2u);
    EXPECT_EQ(second->runner(1)->calls, 1);
    ASSERT_EQ(secondNet->inputs.size(), 1u);
    const FakeNetwork::Input& input = secondNet->inputs[0];
    EXPECT_EQ(input.channels, 2);
    EXPECT_EQ(input.width, 96);
    EXPECT_EQ(input.height, 96);
    ASSERT_EQ(input.bytes.size(), 2u * 96u * 96u);
    // Interleaved: the face grey in channel 0, the heatmap in channel 1.
    // The landmarks sit on the mean shape grown to fill the frame (factor
    // 96 / 55 about the centroid), clamped 8 pixels inside the edges; the
    // frame centre is more than 8 pixels from all of them.
    const auto heat = [&](int row, int col) { return input.bytes[2 * (row * 96 + col) + 1]; };
    EXPECT_EQ(input.bytes[2 * (48 * 96 + 48)], kGrey);
    EXPECT_EQ(heat(48, 48), 0);
    for (const Landmark& l : kFace) {
        const float x = std::min(87.0f, std::max(8.0f, (l.x - 50.0f) * 96.0f / 55.0f + 48.0f));
        const float y = std::min(87.0f, std::max(8.0f, (l.y - 345.0f / 7.0f) * 96.0f / 55.0f + 48.0f));
        EXPECT_GE(heat(static_cast<int>(y), static_cast<int>(x)), 100) << l.group << "." << l.index;
    }
}

TEST_F(DeepAlignmentRuntimeTest, FailuresLeaveThePointsUntouched)
{
    cv::Mat image(120, 160, CV_8UC1, cv::Scalar(30));
    IplImage header = cvIplImage(image);
    cv::Mat colour(120, 160, CV_8UC3, cv::Scalar(30, 30, 30));
    IplImage colourHeader = cvIplImage(colour);
    FDP before;
    before.setFPPos(3, 5, 0.25f, 0.5f, 0.0f);
    before.setFPQuality(3, 5, 0.75f);
    auto expectUntouched = [&](const FDP& points) {
        EXPECT_EQ(points.getFP(3, 5).position[0], 0.25f);
        EXPECT_EQ(points.getFP(3, 5).quality, 0.75f);
        EXPECT_EQ(points.getFP(3, 5).detected, 0);
        EXPECT_FALSE(points.FPIsDefined(4, 1));
    };
    float quality = -1;

    {
        SCOPED_TRACE("no data");
        DeepAlignmentRuntime runtime(nullptr);
        FDP points = before;
        EXPECT_FALSE(runtime.findLandmarkPoints(&header, cvRect(10, 10, 50, 50), &points, quality));
        expectUntouched(points);
    }
    {
        SCOPED_TRACE("data not loaded");
        DeepAlignmentRuntime runtime(data.get());
        EXPECT_EQ(runtime.runner1, nullptr);
        FDP points = before;
        EXPECT_FALSE(runtime.findLandmarkPoints(&header, cvRect(10, 10, 50, 50), &points, quality));
        expectUntouched(points);
    }

    Install(FirstStageOutput(kFace.size(), 0, 0));
    DeepAlignmentRuntime runtime(data.get());
    const struct {
        const char* label;
        const IplImage* image;
        CvRect face;
    } cases[] = {{"empty width", &header, cvRect(10, 10, 0, 50)},
                 {"negative height", &header, cvRect(10, 10, 50, -5)},
                 {"no image", nullptr, cvRect(10, 10, 50, 50)},
                 {"colour image", &colourHeader, cvRect(10, 10, 50, 50)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FDP points = before;
        EXPECT_FALSE(runtime.findLandmarkPoints(c.image, c.face, &points, quality));
        expectUntouched(points);
    }
    EXPECT_TRUE(firstNet->inputs.empty());

    {
        SCOPED_TRACE("network gives no output");
        firstNet->answerNull = true;
        FDP points = before;
        EXPECT_FALSE(runtime.findLandmarkPoints(&header, cvRect(10, 10, 50, 50), &points, quality));
        expectUntouched(points);
        firstNet->answerNull = false;
    }
    {
        SCOPED_TRACE("network gives a non-number");
        firstNet->output[3] = std::numeric_limits<float>::quiet_NaN();
        FDP points = before;
        EXPECT_FALSE(runtime.findLandmarkPoints(&header, cvRect(10, 10, 50, 50), &points, quality));
        expectUntouched(points);
    }
    {
        SCOPED_TRACE("refinement stage without its runner");
        data->m_useRefinementStage = true;
        DeepAlignmentRuntime refining(data.get());
        EXPECT_EQ(refining.runner2, nullptr);
        FDP points = before;
        EXPECT_FALSE(refining.findLandmarkPoints(&header, cvRect(10, 10, 50, 50), &points, quality));
        expectUntouched(points);
    }
}

TEST_F(DeepAlignmentRuntimeTest, ReadsOnlyThePixelsInsideTheImageHeader)
{
    Install(FirstStageOutput(kFace.size(), 0, 0));
    DeepAlignmentRuntime runtime(data.get());

    // A working image: a 101 x 77 view of a 200 x 200 buffer whose rows are
    // 200 bytes long.  Everything outside the view is 255, inside 0, so any
    // read past the header's size shows up in the network's input.
    IplImage* buffer = cvCreateImage(cvSize(200, 200), IPL_DEPTH_8U, 1);
    cvSet(buffer, cvScalarAll(255));
    buffer->width = 101;
    buffer->height = 77;
    for (int y = 0; y < 77; ++y)
        std::memset(buffer->imageData + y * buffer->widthStep, 0, 101);

    cv::Mat tiny(1, 1, CV_8UC1, cv::Scalar(0));
    IplImage tinyHeader = cvIplImage(tiny);
    const struct {
        const char* label;
        IplImage* image;
        CvRect face;
    } cases[] = {{"face over the whole view", buffer, cvRect(-20, -20, 150, 130)},
                 {"face at the corner", buffer, cvRect(80, 60, 40, 40)},
                 {"face larger than the frame", buffer, cvRect(-1000, -1000, 3000, 2500)},
                 {"face beyond the border", buffer, cvRect(5000, 5000, 10, 10)},
                 {"odd thin face", buffer, cvRect(3, 3, 1, 71)},
                 {"one-pixel image", &tinyHeader, cvRect(0, 0, 1, 1)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FDP points;
        float quality = -1;
        ASSERT_TRUE(runtime.findLandmarkPoints(c.image, c.face, &points, quality));
        const std::vector<unsigned char>& input = firstNet->inputs.back().bytes;
        ASSERT_EQ(input.size(), 96u * 96u);
        EXPECT_TRUE(std::all_of(input.begin(), input.end(), [](unsigned char v) { return v == 0; }));
        for (const Landmark& l : kFace) {
            EXPECT_TRUE(std::isfinite(points.getFP(l.group, l.index).position[0]));
            EXPECT_TRUE(std::isfinite(points.getFP(l.group, l.index).position[1]));
        }
        EXPECT_TRUE(std::isfinite(runtime.getLastAngle()));
    }
    buffer->width = 200;
    buffer->height = 200;
    cvReleaseImage(&buffer);
}

// ------------------------------------------------------------ real data

cv::Point2f Pixel(const FDP& points, int group, int index, const cv::Mat& image)
{
    const FeaturePoint& p = points.getFP(group, index);
    return {p.position[0] * image.cols, p.position[1] * image.rows};
}

class DeepAlignmentPackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!OrvixTest::packPresent())
            GTEST_SKIP() << "no data pack in " << OrvixTest::packDir() << " (build the datapack target)";
        // The data opens its networks with the process-wide configuration.
        ONN::Config config;
        config.SetBackend(ONN::OV_CPU);
        config.SetThreadCount(1);
        ONN::ONNIEChooser::SetGlobalConfig(config);
        data.reset(new DeepAlignmentData(OrvixTest::packDir() + "nn/alignment", false));
        ASSERT_TRUE(data->isLoaded());
    }

    OnnTest::GlobalConfigGuard guard;
    std::unique_ptr<DeepAlignmentData> data;
};

TEST_F(DeepAlignmentPackTest, DemoFacesAreAlignedWithHighQualityAndTheirSidesTheRightWayRound)
{
    EXPECT_EQ(data->landmarkCount, 174);
    DeepAlignmentRuntime runtime(data.get());
    ASSERT_NE(runtime.runner1, nullptr);

    // The face finder, opened with the configuration set up above.
    OrvixSDK::ONNFaceFinderData finderData(OrvixTest::packDir() + "nn/face-detector/ff");
    ASSERT_TRUE(finderData.isLoaded());
    OrvixSDK::ONNFaceFinder finder(&finderData);

    int aligned = 0;
    for (const std::string& path : OrvixTest::demoPhotos()) {
        SCOPED_TRACE(path);
        const cv::Mat photo = OrvixTest::readPgm(path);
        if (photo.empty())
            continue;
        IplImage header = cvIplImage(photo);
        std::vector<Detection> found;
        finder.findFaces(&header, found, 0.75f, 0.05f, 1.0f, nullptr);
        ASSERT_FALSE(found.empty());
        // The most confident face of every photo.
        const CvRect face = std::min_element(found.begin(), found.end(), Detection::greaterConfidence)->rect();
        FDP points;
        float quality = -1;
        ASSERT_TRUE(runtime.findLandmarkPoints(&header, face, &points, quality));
        ++aligned;
        EXPECT_EQ(quality, 0.0f);
        EXPECT_GT(OrvixSDK::AlignmentUtils::calculateTrackingQuality(&points), 0.8f);
        for (size_t k = 0; k < data->groups.size(); ++k)
            ASSERT_TRUE(points.FPIsDetected(data->groups[k], data->indices[k]));

        // Image x, for a camera picture that is not mirrored: the person's
        // left (odd indices) on the right.
        const float leftOuter = Pixel(points, 3, 7, photo).x, leftPupil = Pixel(points, 3, 5, photo).x;
        const float leftInner = Pixel(points, 3, 11, photo).x, rightInner = Pixel(points, 3, 8, photo).x;
        const float rightPupil = Pixel(points, 3, 6, photo).x, rightOuter = Pixel(points, 3, 12, photo).x;
        EXPECT_GT(leftOuter, leftPupil);
        EXPECT_GT(leftPupil, leftInner);
        EXPECT_GT(leftInner, rightInner);
        EXPECT_GT(rightInner, rightPupil);
        EXPECT_GT(rightPupil, rightOuter);
        // Brows above the eyes, mouth below the nose, all inside the box
        // grown by half.
        EXPECT_LT(Pixel(points, 4, 1, photo).y, Pixel(points, 3, 5, photo).y);
        EXPECT_GT(Pixel(points, 8, 1, photo).y, Pixel(points, 9, 4, photo).y);
        const cv::Point2f chin = Pixel(points, 2, 1, photo);
        EXPECT_TRUE(chin.inside(cv::Rect2f(face.x - face.width / 2.0f, face.y - face.height / 2.0f,
                                           face.width * 2.0f, face.height * 2.0f)));

        // Aligning again from the square around the found points lands on
        // the same places.
        CvRect again;
        ASSERT_TRUE(OrvixSDK::AlignmentUtils::calculateMinMaxBoundingBox(photo.cols, photo.rows, &points, &again));
        FDP second;
        ASSERT_TRUE(runtime.findLandmarkPoints(&header, again, &second, quality));
        const float eyes = std::hypot(leftPupil - rightPupil,
                                      Pixel(points, 3, 5, photo).y - Pixel(points, 3, 6, photo).y);
        float largest = 0, sum = 0;
        for (size_t k = 0; k < data->groups.size(); ++k) {
            const cv::Point2f a = Pixel(points, data->groups[k], data->indices[k], photo);
            const cv::Point2f b = Pixel(second, data->groups[k], data->indices[k], photo);
            largest = std::max(largest, static_cast<float>(cv::norm(a - b)));
            sum += static_cast<float>(cv::norm(a - b));
        }
        const float mean = sum / static_cast<float>(data->groups.size());
        // On average a few percent of the eye distance; the outline moves most.
        EXPECT_LT(mean, 0.05f * eyes) << "eye distance " << eyes;
        EXPECT_LT(largest, 0.2f * eyes) << "eye distance " << eyes;
        EXPECT_GT(OrvixSDK::AlignmentUtils::calculateTrackingQuality(&second), 0.8f);
    }
    if (aligned == 0)
        GTEST_SKIP() << "no demo photos in " << OrvixTest::packWorkDir();
}

TEST_F(DeepAlignmentPackTest, BlankAndNoiseImagesScoreLow)
{
    DeepAlignmentRuntime runtime(data.get());
    cv::Mat blank(480, 640, CV_8UC1, cv::Scalar(128));
    cv::Mat noise(480, 640, CV_8UC1);
    cv::theRNG().state = 12345;
    cv::randu(noise, 0, 256);
    for (cv::Mat* image : {&blank, &noise}) {
        IplImage header = cvIplImage(*image);
        FDP points;
        float quality = -1;
        ASSERT_TRUE(runtime.findLandmarkPoints(&header, cvRect(200, 120, 240, 240), &points, quality));
        EXPECT_LT(OrvixSDK::AlignmentUtils::calculateTrackingQuality(&points), 0.2f);
    }
}

}  // namespace
