// The detector opens its pupil network through the chooser and the real
// OV_CPU plug-in, under the model key.

#include "OVPluginTestSupport.h"
#include "detection/OrvixDetector.h"
#include "onn/ONNIEChooser.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace OVPluginTest;

namespace
{

class DetectorPupilModelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Every test here runs the default backend choice.
        ONN::Config config;
        config.SetBackend(ONN::AUTO);
        ONN::ONNIEChooser::SetGlobalConfig(config);
    }

    OrvixTest::TempDir dir;
};

} // namespace

TEST_F(DetectorPupilModelTest, LoadsPackedModelOnceAndReportsItReady)
{
    dir.write("pr.vino", AsString(PackFixture("grey_conv.onnx", GreyDeclaration())));
    const std::string folder = dir.path().substr(0, dir.path().size() - 1);

    OrvixSDK::OrvixDetector detector(folder.c_str());
    detector.setRefinePupils(true);
    EXPECT_NE(detector.isInitialized() & 8, 0);

    detector.loadPupilNNModel(folder.c_str());
    ASSERT_NE(detector.pupilFrontend, nullptr);
    EXPECT_TRUE(detector.pupilFrontend->GetModel()->IsLoaded());
    EXPECT_EQ(detector.isInitialized() & 8, 0);

    // A second load keeps the model it has.
    ONN::INNFrontend* first = detector.pupilFrontend;
    detector.loadPupilNNModel(folder.c_str());
    EXPECT_EQ(detector.pupilFrontend, first);

    detector.deletePupilNNModel();
    EXPECT_EQ(detector.pupilFrontend, nullptr);
    EXPECT_NE(detector.isInitialized() & 8, 0);
}

TEST_F(DetectorPupilModelTest, MissingOrDamagedModelIsReportedNotFatal)
{
    std::filesystem::create_directories(dir.path() + "bad");
    dir.write("bad/pr.vino", "not a model");
    for (const std::string sub : {"empty", "bad"})
    {
        SCOPED_TRACE(sub);
        const std::string folder = dir.path() + sub;
        OrvixSDK::OrvixDetector detector(folder.c_str());
        detector.setRefinePupils(true);
        testing::internal::CaptureStderr();
        detector.loadPupilNNModel(folder.c_str());
        const std::string message = testing::internal::GetCapturedStderr();
        EXPECT_EQ(detector.pupilFrontend, nullptr);
        EXPECT_NE(detector.isInitialized() & 8, 0);
        EXPECT_NE(message.find("orvix|SDK: Missing model on the path " + folder + "/pr.vino"), std::string::npos)
            << message;
    }
}
