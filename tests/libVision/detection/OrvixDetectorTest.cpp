#include "detection/OrvixDetector.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "OrvixSDK/FDP.h"
#include "DataPackSupport.h"
#include "detection/DeepAlignmentData.h"
#include "detection/DeepAlignmentRuntime.h"
#include "detection/OrvixTrackerCore.h"
#include "onn/NNInterfaces.h"

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

using namespace OrvixSDK;

namespace {

class FakeModel : public ONN::INNModel
{
public:
    explicit FakeModel(bool loaded) : loaded(loaded) {}
    ONN::INNRunner* CreateRunner() override { return nullptr; }
    bool IsLoaded() const override { return loaded; }
    int GetOutputSize() override { return 0; }
    ONN::EDataType GetDataType() override { return ONN::EDataType(); }
    ONN::ImageUtils::ELayoutType GetLayoutType() override { return ONN::ImageUtils::ELayoutType(); }

private:
    bool loaded;
};

class FakeFrontend : public ONN::INNFrontend
{
public:
    explicit FakeFrontend(bool loaded) : model(loaded) {}
    ONN::INNModel* GetModel() override { return &model; }
    ONN::INNRunner* CreateRunner() override { return nullptr; }

private:
    FakeModel model;
};

TEST(OrvixDetectorTest, InitialSettingsAndSensitivityClamping)
{
    OrvixDetector detector("detector-test");
    EXPECT_FLOAT_EQ(detector.getDetectorSensitivity(), 0.75f);
    EXPECT_FLOAT_EQ(detector.getQualityThreshold(), 0.5125f);
    EXPECT_FALSE(detector.getRefinePupils());
    EXPECT_FALSE(detector.getRefineEars());
    EXPECT_EQ(detector.getUseONN(), 0u);
    struct Case
    {
        float given;
        float sensitivity;
        float threshold;
    };
    const Case cases[] = {{-1.0f, 0.0f, 1.0f}, {2.0f, 1.0f, 0.35f}, {0.5f, 0.5f, 0.675f}};
    for (const Case& c : cases) {
        detector.setDetectorSensitivity(c.given);
        EXPECT_FLOAT_EQ(detector.getDetectorSensitivity(), c.sensitivity) << c.given;
        EXPECT_FLOAT_EQ(detector.getQualityThreshold(), c.threshold) << c.given;
    }
}

TEST(OrvixDetectorTest, ReadinessMaskNamesWhatIsMissing)
{
    struct Case
    {
        const char* name;
        bool refinePupils;
        int pupilModel;   // 0 none, 1 loaded, 2 not loaded
        bool refineEars;
        int mask;
    };
    // The folders hold no networks: 1 and 2 are always reported.
    const Case cases[] = {
        {"no refinements", false, 0, false, 3},
        {"pupils wanted, no model", true, 0, false, 3 | 8},
        {"pupils wanted, model loaded", true, 1, false, 3},
        {"pupils wanted, model not loaded", true, 2, false, 3 | 8},
        {"pupils not wanted, model not loaded", false, 2, false, 3},
        {"ears wanted", false, 0, true, 3 | 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OrvixDetector detector("detector-test");
        detector.setRefinePupils(c.refinePupils);
        detector.setRefineEars(c.refineEars);
        if (c.pupilModel != 0)
            detector.pupilFrontend = new FakeFrontend(c.pupilModel == 1);
        detector.loadFaceDetectorData("ofd");
        detector.loadAlignData("oft");
        detector.loadEarsCascades("er");
        EXPECT_EQ(detector.isInitialized(), c.mask);
        EXPECT_EQ(detector.createTrackerCore(), nullptr);
    }
}

TEST(OrvixDetectorTest, DeletingAbsentDataIsHarmless)
{
    OrvixDetector detector("detector-test");
    detector.pupilFrontend = new FakeFrontend(true);
    detector.deletePupilNNModel();
    EXPECT_EQ(detector.pupilFrontend, nullptr);
    detector.deletePupilNNModel();
    detector.deleteAlignData();
    detector.deleteFaceDetectorData();
    detector.deleteEarsCascades();
    EXPECT_EQ(detector.alignData, nullptr);
}

TEST(OrvixDetectorTest, PackedPointsUnpackToTheSameValues)
{
    FDP first;
    FDP second;
    int n = 0;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i, ++n) {
            if (n % 5 != 0)   // some points left undefined
                first.setFPPos(g, i, 0.001f * static_cast<float>(n), -0.5f * static_cast<float>(i), 1e-7f);
            first.setFPQuality(g, i, static_cast<float>(n % 3) - 1.0f);
            second.setFPPos(g, i, static_cast<float>(g), static_cast<float>(i), -1.0f);
        }
    }
    int buffer[2200] = {};
    EXPECT_EQ(OrvixDetector::transformData(&first, &second, buffer, true), 2024u);
    // Scrambled: the buffer does not hold the plain bits.
    float x;
    std::memcpy(&x, &buffer[4 * 10], sizeof(x));
    EXPECT_NE(x, first.getFPPos(3, 1)[0]);

    FDP a;
    FDP b;
    EXPECT_EQ(OrvixDetector::transformData(&a, &b, buffer, false), 2024u);
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            EXPECT_TRUE(a.FPIsDefined(g, i));
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(a.getFPPos(g, i)[c], first.getFPPos(g, i)[c]);
                EXPECT_EQ(b.getFPPos(g, i)[c], second.getFPPos(g, i)[c]);
            }
            EXPECT_EQ(a.getFPQuality(g, i), first.getFPQuality(g, i));
        }
    }
    // One set alone, and nothing without a buffer.
    EXPECT_EQ(OrvixDetector::transformData(&a, buffer, true), 1012u);
    EXPECT_EQ(OrvixDetector::transformData(&a, nullptr, false), 0u);
    EXPECT_EQ(OrvixDetector::transformData(nullptr, &b, buffer, true), 0u);
}

TEST(OrvixDetectorTest, MissingChinAndNosePointsAreFilledFromTheirTwins)
{
    struct Point
    {
        const char* name;
        int defined;
        int detected;
        float x;
    };
    struct Case
    {
        const char* what;
        std::vector<Point> given;
        // Expected x of the seven targets, -1 for a point left undefined.
        std::vector<std::pair<const char*, float>> expected;
    };
    const Case cases[] = {
        // Rule 1 copies 15.17 onto 2.1; rule 2 then copies the filled 2.1
        // onto 13.17.
        {"chain through a filled point",
         {{"15.17", 1, 1, 0.3f}},
         {{"2.1", 0.3f}, {"13.17", 0.3f}, {"15.17", 0.3f}}},
        // 13.17 comes before 15.17 as a source for 2.1.
        {"first candidate wins", {{"13.17", 1, 1, 0.1f}, {"15.17", 1, 1, 0.2f}}, {{"2.1", 0.1f}, {"15.17", 0.2f}}},
        // A target with either flag keeps its value; a candidate needs both.
        {"defined but not detected target is kept",
         {{"2.1", 1, 0, 0.5f}, {"13.17", 1, 1, 0.1f}},
         {{"2.1", 0.5f}, {"15.17", 0.1f}}},
        {"candidate without detected is not used", {{"9.3", 1, 0, 0.4f}}, {{"9.3", 0.4f}, {"14.21", -1.0f}}},
        {"nose pairs both ways", {{"14.21", 1, 1, 0.6f}, {"9.12", 1, 1, 0.7f}}, {{"9.3", 0.6f}, {"14.23", 0.7f}}},
        {"nothing to copy", {}, {{"2.1", -1.0f}, {"9.3", -1.0f}, {"14.23", -1.0f}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FDP points;
        for (const Point& p : c.given) {
            FeaturePoint fp;
            fp.position[0] = p.x;
            fp.defined = p.defined;
            fp.detected = p.detected;
            points.setFP(p.name, fp);
        }
        OrvixDetector::setMatchingPoints(&points);
        for (const auto& e : c.expected) {
            if (e.second < 0.0f) {
                EXPECT_FALSE(points.FPIsDefined(e.first)) << e.first;
            } else {
                EXPECT_TRUE(points.FPIsDefined(e.first)) << e.first;
                EXPECT_FLOAT_EQ(points.getFPPos(e.first)[0], e.second) << e.first;
            }
        }
    }
}

class OrvixDetectorPackTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!OrvixTest::packPresent())
            GTEST_SKIP() << "no data pack at " << OrvixTest::packDir();
        pack = OrvixTest::packDir();
    }
    std::string pack;
};

TEST_F(OrvixDetectorPackTest, LoadsThePackOnceAndReportsAMissingRefinementStage)
{
    OrvixDetector detector((pack + "nn/face-detector").c_str());
    detector.setUseONN(1);
    detector.loadFaceDetectorData((pack + "nn/face-detector").c_str());
    detector.loadAlignData((pack + "nn/alignment").c_str());
    DeepAlignmentData* first = detector.alignData;
    detector.loadAlignData((pack + "nn/alignment").c_str());
    EXPECT_EQ(detector.alignData, first) << "a present member is never replaced";
    EXPECT_EQ(detector.isInitialized(), 0);
    std::unique_ptr<OrvixTrackerCore> core(detector.createTrackerCore());
    EXPECT_NE(core, nullptr);
    core.reset();

    // The pack ships no refinement stage: asking for it leaves the alignment
    // data not loaded, which the mask reports.
    detector.deleteAlignData();
    detector.setUseONN(2);
    detector.loadAlignData((pack + "nn/alignment").c_str());
    EXPECT_EQ(detector.isInitialized(), 2);
    EXPECT_EQ(detector.createTrackerCore(), nullptr);
}

TEST_F(OrvixDetectorPackTest, TheQualityGateRefusesPointsPlacedOnNoFace)
{
    OrvixDetector detector((pack + "nn/face-detector").c_str());
    detector.loadAlignData((pack + "nn/alignment").c_str());
    ASSERT_EQ(detector.isInitialized() & 2, 0);
    DeepAlignmentRuntime runtime(detector.alignData);
    cv::Mat blank(200, 200, CV_8UC1, cv::Scalar(128));
    IplImage header = cvIplImage(blank);
    FDP points;
    float quality = -1.0f;
    // Without the gate the alignment answers; with it the points are refused.
    EXPECT_TRUE(detector.detectFeaturePointsONN(&header, cvRect(50, 50, 100, 100), &runtime, &points, quality, true,
                                                false));
    EXPECT_EQ(quality, 0.0f);
    EXPECT_TRUE(points.FPIsDefined(3, 12));
    EXPECT_FALSE(detector.detectFeaturePointsONN(&header, cvRect(50, 50, 100, 100), &runtime, &points, quality,
                                                 false, true));
    EXPECT_FALSE(detector.detectFeaturePointsONN(&header, cvRect(50, 50, 100, 100), nullptr, &points, quality,
                                                 false, false));
}

}  // namespace
