#include "detection/OrvixDetector.h"

#include <gtest/gtest.h>

#include <cstring>

#include "OrvixSDK/FDP.h"
#include "onn/NNInterfaces.h"

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
    // The network data of this build can never be loaded: 1 and 2 are
    // always reported.
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

}  // namespace
