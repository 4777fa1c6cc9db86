#include "detection/PupilRefiner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include "DataPackSupport.h"
#include "OrvixSDK/FDP.h"
#include "detection/ModelKey.h"
#include "libVision/detection/FakeNetwork.h"
#include "onn/Config.h"
#include "onn/NNFrontend.h"
#include "onn/NNInterfaces.h"
#include "onn/ONNIEChooser.h"

using namespace OrvixSDK;
using OrvixTest::FakeModel;
using OrvixTest::FakeNetwork;

namespace {

// The test frame: 256 x 128, so that whole pixels are exact fractions.
const int kWidth = 256;
const int kHeight = 128;

FeaturePoint pointAt(float x, float y)
{
    FeaturePoint p;
    p.position[0] = x / kWidth;
    p.position[1] = y / kHeight;
    p.defined = 1;
    return p;
}

// A grey frame (rows padded by 5 bytes of 255) filled with background.
struct Frame
{
    explicit Frame(unsigned char background, int width = kWidth, int height = kHeight)
        : mat(height, width + 5, CV_8UC1, cv::Scalar(255))
    {
        view = mat(cv::Rect(0, 0, width, height));
        view.setTo(background);
        image = cvIplImage(view);
    }
    cv::Mat mat, view;
    IplImage image;
};

// Both eyes of a face at pixel positions: eye 0 (3.6, corners 3.8 / 3.12,
// lids 3.10 / 3.14) around (100, 64), eye 1 (3.5, corners 3.7 / 3.11, lids
// 3.9 / 3.13) around (156, 64), corners 40 pixels apart.
void placeEyes(FDP& points, float quality = 0.9f, float rightCentreX = 100.0f, float leftCentreX = 156.0f,
               float cornerGap = 40.0f)
{
    auto set = [&](int index, float x, float y) {
        points.setFPPos(3, index, x / kWidth, y / kHeight, 0.0f);
    };
    const float half = cornerGap / 2;
    set(8, rightCentreX - half, 64);
    set(12, rightCentreX + half, 64);
    set(10, rightCentreX, 58);
    set(14, rightCentreX, 70);
    set(6, rightCentreX, 64);
    set(7, leftCentreX + half, 64);
    set(11, leftCentreX - half, 64);
    set(9, leftCentreX, 58);
    set(13, leftCentreX, 70);
    set(5, leftCentreX, 64);
    for (int i = 1; i <= 14; ++i)
        points.setFPQuality(3, i, quality);
}

void expectPupil(const FDP& points, int index, float x, float y, float radius)
{
    SCOPED_TRACE("pupil 3." + std::to_string(index));
    const float* p = points.getFPPos(3, index);
    EXPECT_NEAR(p[0] * kWidth, x, 1e-3f);
    EXPECT_NEAR(p[1] * kHeight, y, 1e-3f);
    EXPECT_NEAR(p[2] * kWidth, radius, 1e-3f);  // in pixels
    EXPECT_TRUE(points.FPIsDefined(3, index));
}

TEST(PupilRefinerCropTest, BoxIsShiftedInsideByUpToThirtyPercent)
{
    struct Case
    {
        const char* name;
        float x1, y1, x2, y2;  // corner pixels
        bool placed;
        CvRect box;
    };
    const Case cases[] = {
        {"40 pixels apart: 50 x 50", 80, 64, 120, 64, true, {75, 39, 50, 50}},
        {"diagonal corners", 84, 67, 116, 43, true, {75, 30, 50, 50}},
        {"14 out on the left", -9, 64, 31, 64, true, {0, 39, 50, 50}},
        {"15 out on the left (the limit)", -10, 64, 30, 64, true, {0, 39, 50, 50}},
        {"16 out on the left", -11, 64, 29, 64, false, {}},
        {"14 out on the right", 225, 64, 265, 64, true, {206, 39, 50, 50}},
        {"16 out on the right", 227, 64, 267, 64, false, {}},
        {"flush with the right edge", 211, 64, 251, 64, true, {206, 39, 50, 50}},
        {"14 out at the top", 80, 11, 120, 11, true, {75, 0, 50, 50}},
        {"16 out at the top", 80, 9, 120, 9, false, {}},
        {"14 out at the bottom", 80, 117, 120, 117, true, {75, 78, 50, 50}},
        {"16 out at the bottom", 80, 119, 120, 119, false, {}},
        {"5 apart: side 6", 98, 64, 103, 64, false, {}},
        {"5.6 apart: side 7", 97.2f, 64, 102.8f, 64, false, {}},
        {"6.4 apart: side 8", 96.8f, 64, 103.2f, 64, true, {96, 60, 8, 8}},
        {"taller than the image", 40, 64, 150, 64, false, {}},  // side 138 > 128
        {"same point", 100, 64, 100, 64, false, {}},
        {"far outside", 1e20f, 64, 1e20f + 40, 64, false, {}},
        {"huge distance", -1e20f, 64, 1e20f, 64, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Frame frame(50);
        if (c.placed)
            frame.view(cv::Rect(c.box.x, c.box.y, c.box.width, c.box.height)).setTo(200);
        CvRect box = cvRect(-1, -1, -1, -1);
        IplImage* eye = getResizedEyeImage(&frame.image, pointAt(c.x1, c.y1), pointAt(c.x2, c.y2), box);
        ASSERT_EQ(eye != nullptr, c.placed);
        if (eye == nullptr)
            continue;
        EXPECT_EQ(box.x, c.box.x);
        EXPECT_EQ(box.y, c.box.y);
        EXPECT_EQ(box.width, c.box.width);
        EXPECT_EQ(box.height, c.box.height);
        // The crop holds exactly the box: uniform where the box was filled.
        EXPECT_EQ(eye->width, 32);
        EXPECT_EQ(eye->height, 32);
        EXPECT_EQ(eye->nChannels, 1);
        EXPECT_EQ(eye->depth, IPL_DEPTH_8U);
        const cv::Mat crop = cv::cvarrToMat(eye);
        EXPECT_EQ(cv::countNonZero(crop != 200), 0);
        cvReleaseImage(&eye);
    }
}

TEST(PupilRefinerCropTest, UnusableInputsGiveNoCrop)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Frame frame(50);
    CvRect box;
    EXPECT_EQ(getResizedEyeImage(nullptr, pointAt(80, 64), pointAt(120, 64), box), nullptr);
    EXPECT_EQ(getResizedEyeImage(&frame.image, pointAt(nan, 64), pointAt(120, 64), box), nullptr);
    IplImage* colour = cvCreateImage(cvSize(kWidth, kHeight), IPL_DEPTH_8U, 3);
    cvSetZero(colour);
    EXPECT_EQ(getResizedEyeImage(colour, pointAt(80, 64), pointAt(120, 64), box), nullptr);
    cvReleaseImage(&colour);
    Frame tiny(50, 1, 1);
    EXPECT_EQ(getResizedEyeImage(&tiny.image, pointAt(0, 0), pointAt(0, 0), box), nullptr);
}

TEST(PupilRefinerCropTest, AverageRadiusIsAFifthOfTheCornerDistance)
{
    FDP points;
    points.setFPPos(3, 8, 0.25f, 0.5f, 0);
    points.setFPPos(3, 12, 0.55f, 0.9f, 0);  // 0.3 by 0.4: distance 0.5
    points.setFPPos(3, 6, 0.4f, 0.6f, 0.7f);
    points.setFPPos(3, 7, 0.1f, 0.1f, 0);
    points.setFPPos(3, 11, 0.1f, 0.3f, 0);   // distance 0.2
    setAverageIrisRadius(&points, RIGHT_EYE);
    setAverageIrisRadius(&points, LEFT_EYE);
    EXPECT_FLOAT_EQ(points.getFPPos(3, 6)[0], 0.4f);
    EXPECT_FLOAT_EQ(points.getFPPos(3, 6)[1], 0.6f);
    EXPECT_FLOAT_EQ(points.getFPPos(3, 6)[2], 0.1f);
    EXPECT_FLOAT_EQ(points.getFPPos(3, 5)[2], 0.04f);
    // The radius never makes an unplaced pupil look placed.
    EXPECT_FALSE(points.FPIsDefined(3, 5));
    setAverageIrisRadius(nullptr, LEFT_EYE);
}

class PupilRefinerTest : public ::testing::Test
{
protected:
    void SetUp() override { placeEyes(points); }

    void refine()
    {
        model.reset(new FakeModel(net));
        PupilRefiner refiner(model.get());
        refiner.refine(&frame.image, &points, 0.0f, true);
    }

    std::shared_ptr<FakeNetwork> net = std::make_shared<FakeNetwork>(std::vector<float>{0.5f, 0.5f, 0.2f});
    std::unique_ptr<FakeModel> model;
    Frame frame{120};
    FDP points;
};

TEST_F(PupilRefinerTest, AnswerIsMappedFromTheCropToTheImage)
{
    // Eye 0's box is (75, 39, 50, 50), eye 1's (131, 39, 50, 50); (0.5, 0.5,
    // 0.2) is the box centre and a radius of 10 pixels.
    net->output = {0.5f, 0.5f, 0.2f};
    refine();
    ASSERT_EQ(net->inputs.size(), 2u);
    EXPECT_EQ(net->inputs[0].bytes.size(), 32u * 32u);
    expectPupil(points, 6, 100, 64, 10);
    expectPupil(points, 5, 156, 64, 10);

    // Off-centre answers inside the eye region are kept as they are.
    net->output = {0.4f, 0.56f, 0.1f};
    refine();
    expectPupil(points, 6, 95, 67, 5);
    expectPupil(points, 5, 151, 67, 5);
}

TEST_F(PupilRefinerTest, CentreIsClampedToTheWidenedEyeBox)
{
    // Eye 0: corners x 80..120, lids y 58..70, widened by 4 and 1.2 pixels.
    struct Case
    {
        float u, v;
        float x, y;
    };
    const Case cases[] = {
        {0.0f, 0.0f, 76.0f, 56.8f},  // box corner (75, 39) is outside
        {1.0f, 1.0f, 124.0f, 71.2f},
        {0.02f, 0.5f, 76.0f, 64.0f},
        {0.5f, 0.36f, 100.0f, 57.0f},  // inside the widened box: kept
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.u) + "," + std::to_string(c.v));
        placeEyes(points);
        net->output = {c.u, c.v, 0.2f};
        refine();
        expectPupil(points, 6, c.x, c.y, 10);
    }
}

TEST_F(PupilRefinerTest, UnreliableOrUnplaceableEyesGetTheAverageRadius)
{
    // The average radius of 40-pixel corners: 8 pixels; the refined one 10.
    struct Case
    {
        const char* name;
        float oddQuality, evenQuality;
        float rightGap, leftGap;   // corner distances
        float rightX, leftX;       // eye centres
        float rightRadius, leftRadius;
    };
    const Case cases[] = {
        {"both reliable", 0.9f, 0.9f, 40, 40, 100, 156, 10, 10},
        {"even qualities at the gate", 0.9f, 0.75f, 40, 40, 100, 156, 8, 10},
        {"odd qualities at the gate", 0.75f, 0.9f, 40, 40, 100, 156, 10, 8},
        {"no qualities", -1.0f, -1.0f, 40, 40, 100, 156, 8, 8},
        {"corners 5 apart", 0.9f, 0.9f, 5, 40, 100, 156, 1, 10},
        {"14 out on the left", 0.9f, 0.9f, 40, 40, 11, 156, 10, 10},
        {"16 out on the left", 0.9f, 0.9f, 40, 40, 9, 156, 8, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        placeEyes(points, 0.9f, c.rightX, c.leftX, c.rightGap);
        // Eye 1 is placed the same way with its own gap.
        if (c.leftGap != c.rightGap) {
            points.setFPPos(3, 7, (c.leftX + c.leftGap / 2) / kWidth, 0.5f, 0);
            points.setFPPos(3, 11, (c.leftX - c.leftGap / 2) / kWidth, 0.5f, 0);
        }
        for (int i = 1; i <= 14; ++i)
            points.setFPQuality(3, i, i % 2 == 1 ? c.oddQuality : c.evenQuality);
        refine();
        const float* right = points.getFPPos(3, 6);
        const float* left = points.getFPPos(3, 5);
        EXPECT_NEAR(right[2] * kWidth, c.rightRadius, 1e-3f);
        EXPECT_NEAR(left[2] * kWidth, c.leftRadius, 1e-3f);
        if (c.rightRadius != 10) {
            EXPECT_NEAR(right[0] * kWidth, c.rightX, 1e-3f);  // centre kept
        }
    }
}

TEST_F(PupilRefinerTest, NetworkFailuresKeepCentresWithAverageRadii)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case
    {
        const char* name;
        bool makeRunners, answerNull;
        std::vector<float> answer;  // its length is the model's output size
    };
    const Case cases[] = {
        {"no runner", false, false, {0.1f, 0.1f, 0.1f}},
        {"no answer", true, true, {0.1f, 0.1f, 0.1f}},
        {"output too short", true, false, {0.1f, 0.1f}},
        {"not a number", true, false, {nan, 0.1f, 0.1f}},
        {"infinite radius", true, false, {0.1f, 0.1f, std::numeric_limits<float>::infinity()}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        placeEyes(points);
        net->makeRunners = c.makeRunners;
        net->answerNull = c.answerNull;
        net->output = c.answer;
        refine();
        expectPupil(points, 6, 100, 64, 8);
        expectPupil(points, 5, 156, 64, 8);
    }

    // No model, no image, no points: nothing breaks.
    placeEyes(points);
    PupilRefiner without(nullptr);
    without.refine(&frame.image, &points, 0.0f, true);
    expectPupil(points, 6, 100, 64, 8);
    without.refine(nullptr, nullptr, 0.0f, true);
    net->makeRunners = true;
    net->answerNull = false;
    net->output = {0.5f, 0.5f, 0.2f};
    model.reset(new FakeModel(net));
    PupilRefiner refiner(model.get());
    refiner.refine(nullptr, &points, 0.0f, true);
    expectPupil(points, 6, 100, 64, 8);
    refiner.refine(&frame.image, nullptr, 0.0f, false);
}

// ---------------------------------------------------------------------------
// The real pupil network of the data pack on a drawn eye.

// The pupil network of the pack opened like the detector opens it; null
// when the pack is absent.
std::unique_ptr<ONN::NNFrontend> openPupilNetwork()
{
    if (!OrvixTest::packPresent())
        return nullptr;
    const std::string stem = OrvixTest::packDir() + "nn/pupils/pr";
    ONN::Config config;
    config.SetBackend(ONN::OV_CPU);
    config.SetThreadCount(1);
    ONN::ONNIEChooser chooser(config);
    std::vector<unsigned char> key = Key::buildModelKey();
    std::unique_ptr<ONN::NNFrontend> frontend(chooser.Create(stem.c_str(), key.data(), static_cast<int>(key.size())));
    EXPECT_NE(frontend, nullptr) << chooser.GetCodeStatus();
    return frontend;
}

TEST(RealPupilRefinerTest, FindsTheDarkDiskOfADrawnEye)
{
    std::unique_ptr<ONN::NNFrontend> frontend = openPupilNetwork();
    if (frontend == nullptr)
        GTEST_SKIP() << "no pupil network in " << OrvixTest::packDir();

    struct Case
    {
        float irisX, irisY;  // the disk centre
    };
    const Case cases[] = {{100, 64}, {95, 63}, {106, 65}, {156, 64}, {150, 66}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.irisX) + "," + std::to_string(c.irisY));
        Frame frame(170);
        // Eye white between the corners, a dark iris with a darker pupil.
        for (float eyeX : {100.0f, 156.0f})
            cv::ellipse(frame.view, cv::Point(static_cast<int>(eyeX), 64), cv::Size(20, 7), 0, 0, 360,
                        cv::Scalar(230), cv::FILLED, cv::LINE_AA);
        for (float eyeX : {100.0f, 156.0f}) {
            const bool irisHere = std::fabs(c.irisX - eyeX) < 20;
            const cv::Point centre = irisHere ? cv::Point(static_cast<int>(c.irisX), static_cast<int>(c.irisY))
                                              : cv::Point(static_cast<int>(eyeX), 64);
            cv::circle(frame.view, centre, 7, cv::Scalar(60), cv::FILLED, cv::LINE_AA);
            cv::circle(frame.view, centre, 3, cv::Scalar(15), cv::FILLED, cv::LINE_AA);
        }
        FDP points;
        placeEyes(points);
        PupilRefiner refiner(frontend->GetModel());
        refiner.refine(&frame.image, &points, 0.0f, true);
        const bool right = c.irisX < 128;
        const float* pupil = points.getFPPos(3, right ? 6 : 5);
        const float x = pupil[0] * kWidth, y = pupil[1] * kHeight, r = pupil[2] * kWidth;
        EXPECT_NEAR(x, c.irisX, 2.0f);
        EXPECT_NEAR(y, c.irisY, 2.0f);
        EXPECT_NEAR(r, 7.0f, 2.0f);  // the iris disk's radius
    }
}

TEST(RealPupilRefinerTest, PlacesThePupilOfARealEye)
{
    const cv::Mat photo = OrvixTest::readPgm(OrvixTest::packWorkDir() + "demo/sample1.pgm");
    std::unique_ptr<ONN::NNFrontend> frontend = photo.empty() ? nullptr : openPupilNetwork();
    if (frontend == nullptr)
        GTEST_SKIP() << "no demo photo or pupil network";
    ASSERT_EQ(photo.cols, 1920);
    ASSERT_EQ(photo.rows, 1280);

    // One eye of the first photo's leftmost face, its corners and lids
    // placed by hand; its iris centre lies near (521, 457).
    FDP points;
    const float w = static_cast<float>(photo.cols), h = static_cast<float>(photo.rows);
    points.setFPPos(3, 11, 497 / w, 464 / h, 0);
    points.setFPPos(3, 7, 542 / w, 459 / h, 0);
    points.setFPPos(3, 9, 519 / w, 448 / h, 0);
    points.setFPPos(3, 13, 519 / w, 466 / h, 0);
    points.setFPPos(3, 5, 519 / w, 461 / h, 0);
    for (int i = 1; i <= 14; ++i)
        points.setFPQuality(3, i, i % 2 == 1 ? 0.9f : 0.0f);
    IplImage image = cvIplImage(photo);
    PupilRefiner refiner(frontend->GetModel());
    refiner.refine(&image, &points, 0.0f, true);
    const float* pupil = points.getFPPos(3, 5);
    EXPECT_NEAR(pupil[0] * w, 521.0f, 4.0f);
    EXPECT_NEAR(pupil[1] * h, 457.0f, 4.0f);
    // An iris radius a little under a fifth of the 45-pixel eye width.
    EXPECT_GT(pupil[2] * w, 4.0f);
    EXPECT_LT(pupil[2] * w, 12.0f);
}

}  // namespace
