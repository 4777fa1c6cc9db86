#include <string>

#include <gtest/gtest.h>

#include "OnnTestSupport.h"
#include "TestSupport.h"
#include "onn/Config.h"
#include "onn/ONNIE.h"
#include "onn/ONNInit.h"

namespace {

// The one-time work on state of the test's own, so that the outcome does not
// depend on whether another test already initialised the process.
TEST(ONNInit, OnlyTheFirstCallReadsTheFile)
{
    OrvixTest::TempDir first;
    OrvixTest::TempDir second;
    first.write("NeuralNet.cfg", "EBackend TF_CPU ThreadCount 3 DataPath .");
    second.write("NeuralNet.cfg", "EBackend OV_CPU ThreadCount 7");

    bool configRead = false;
    ONN::Config config;
    OrvixSDK::ONNInitOnce(first.path(), configRead, config);
    EXPECT_TRUE(configRead);
    EXPECT_EQ(config.GetBackend(), ONN::TF_CPU);
    EXPECT_EQ(config.GetThreadCount(), 3);
    EXPECT_EQ(config.GetDataPath(), first.path());
    // The plug-ins are found by the loader's search, not in a folder.
    EXPECT_EQ(ONN::manager.GetPluginsDirectory(), "");

    ::testing::internal::CaptureStdout();
    OrvixSDK::ONNInitOnce(second.path(), configRead, config);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(config.GetBackend(), ONN::TF_CPU);
    EXPECT_EQ(config.GetThreadCount(), 3);
}

TEST(ONNInit, MissingFileKeepsThePresetValues)
{
    OrvixTest::TempDir dir;
    bool configRead = false;
    ONN::Config config;
    ::testing::internal::CaptureStdout();
    OrvixSDK::ONNInitOnce(dir.path(), configRead, config);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Missing NeuralNet.cfg file which should be located in: " + dir.path() +
                  "NeuralNet.cfg.\n"
                  "Continuing to work with the preset values for backend and thread count.\n");
    EXPECT_TRUE(configRead);
    EXPECT_EQ(config.GetBackend(), ONN::AUTO);
    EXPECT_EQ(config.GetThreadCount(), 1);
    EXPECT_EQ(config.GetDataPath(), "");
}

// The process-wide entry: whichever call came first, a later call with
// another folder changes nothing.
TEST(ONNInit, LaterCallsLeaveTheGlobalConfigurationAlone)
{
    OnnTest::GlobalConfigGuard guard;
    OrvixTest::TempDir missing;
    OrvixTest::TempDir other;
    other.write("NeuralNet.cfg", "EBackend TF_GPU ThreadCount 9 DataPath elsewhere");

    ::testing::internal::CaptureStdout();
    OrvixSDK::ONNInit(missing.path());
    ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(OrvixSDK::isONNConfigRead());
    const ONN::Config settled = ONN::globalConfig;

    ::testing::internal::CaptureStdout();
    OrvixSDK::ONNInit(other.path());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(ONN::globalConfig.GetBackend(), settled.GetBackend());
    EXPECT_EQ(ONN::globalConfig.GetThreadCount(), settled.GetThreadCount());
    EXPECT_EQ(ONN::globalConfig.GetDataPath(), settled.GetDataPath());
}

TEST(ONNInit, VisionPathIsEmpty)
{
    EXPECT_EQ(OrvixSDK::getVisionPath(), "");
}

}  // namespace
