#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FakeBackend.h"
#include "OnnTestSupport.h"
#include "TestSupport.h"
#include "onn/Library.h"
#include "onn/ONNIE.h"
#include "onn/ONNIEChooser.h"
#include "support/Common.h"

using ONN::Config;
using ONN::Library;
using ONN::DynamicPlugin;
using ONN::NNFrontend;
using ONN::ONNIEChooser;

namespace {

Config configFor(ONN::EBackend backend, int threads = 1)
{
    Config config;
    config.SetBackend(backend);
    config.SetThreadCount(threads);
    return config;
}

// Each test works on its own copies of the test plug-ins, put into the
// backend table in place of the real ones for the test's duration.
class ChooserTest : public ::testing::Test {
protected:
    OnnTest::PluginTableGuard tableGuard;
    OrvixTest::TempDir dir;

    std::string usePlugin(ONN::EBackend backend, const char* built, const std::string& fileName, const char* suffix)
    {
        const std::string path = OnnTest::copyPlugin(dir, built, fileName);
        ONN::predefinedPluginDefinitions[backend] =
            std::make_shared<DynamicPlugin>(path.c_str(), "Initialize", "Create", suffix);
        return path;
    }

    // Shows the message of the fatal-message routine for the chooser.
    static std::string message(ONNIEChooser& chooser, const std::string& modelPath)
    {
        ::testing::internal::CaptureStderr();
        OrvixSDK::Common::displayErrorMessageAndExit(&chooser, modelPath);
        return ::testing::internal::GetCapturedStderr();
    }
};

TEST_F(ChooserTest, CreatesAFrontendThroughThePlugin)
{
    const std::string path = usePlugin(ONN::TF_CPU, OnnTest::kPlugin, "libtf.so", ".tflite");
    ONNIEChooser chooser(configFor(ONN::TF_CPU, 3));
    EXPECT_EQ(chooser.GetBackend(), ONN::UNDEFINED);
    unsigned char key[4] = {1, 2, 3, 250};

    std::unique_ptr<NNFrontend> frontend(chooser.Create("models/m", key, 4));
    ASSERT_NE(frontend, nullptr);
    EXPECT_EQ(chooser.GetCodeStatus(), 0);
    EXPECT_EQ(chooser.GetBackend(), ONN::TF_CPU);

    // What the plug-in was handed: path + suffix, the key and the configuration.
    EXPECT_EQ(OnnTest::lastModelPath(path), "models/m.tflite");
    unsigned char seen[8] = {0};
    auto lastKey = OnnTest::pluginFunction<int (*)(unsigned char*, int)>(path, "TestLastKey");
    ASSERT_NE(lastKey, nullptr);
    EXPECT_EQ(lastKey(seen, 8), 4);
    EXPECT_EQ(std::vector<unsigned char>(seen, seen + 4), std::vector<unsigned char>(key, key + 4));
    EXPECT_EQ(OnnTest::pluginFunction<int (*)()>(path, "TestLastThreadCount")(), 3);

    // The frontend's model converts inputs and runs the plug-in's runner.
    ONN::INNRunner* runner = frontend->CreateRunner();
    ASSERT_NE(runner, nullptr);
    std::vector<unsigned char> pixels(12, 128);
    ONN::NNData image(pixels.data(), 3, 2, 2, ONN::ImageUtils::NHWC, ONN::UINT8, true);
    float* output = runner->Forward(image);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(*output, 12.0f);

    EXPECT_EQ(OnnTest::liveModels(path), 1);
    frontend.reset();
    EXPECT_EQ(OnnTest::liveModels(path), 0);
}

TEST_F(ChooserTest, SecondCreateReusesTheLoadedPlugin)
{
    const std::string path = usePlugin(ONN::OV_CPU, OnnTest::kPlugin, "libreused.so", ".vino");
    ONNIEChooser chooser(configFor(ONN::OV_CPU));
    std::unique_ptr<NNFrontend> first(chooser.Create("a", nullptr, 0));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(OnnTest::lastModelPath(path), "a.vino");
    std::unique_ptr<NNFrontend> second(chooser.Create("b", nullptr, 0));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(OnnTest::lastModelPath(path), "b.vino");
    ONNIEChooser another(configFor(ONN::OV_CPU));
    std::unique_ptr<NNFrontend> third(another.Create("c", nullptr, 0));
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(OnnTest::initializeCount(path), 1);
    EXPECT_EQ(OnnTest::liveModels(path), 3);
}

TEST_F(ChooserTest, ModelNotLoadedIsDeleted)
{
    const std::string path = usePlugin(ONN::OV_CPU, OnnTest::kPlugin, "libnotloaded.so", ".vino");
    ONNIEChooser chooser(configFor(ONN::OV_CPU));
    EXPECT_EQ(chooser.Create("data/notloaded", nullptr, 0), nullptr);
    EXPECT_EQ(chooser.GetCodeStatus(), -6);
    EXPECT_EQ(OnnTest::liveModels(path), 0);
    EXPECT_EQ(message(chooser, "data/notloaded"), "orvix|SDK: Missing model on the path data/notloaded.vino .\n");
}

TEST_F(ChooserTest, PluginWithoutCreate)
{
    usePlugin(ONN::OV_CPU, OnnTest::kPluginWithoutCreate, "libnocreate.so", ".vino");
    ONNIEChooser chooser(configFor(ONN::OV_CPU));
    EXPECT_EQ(chooser.Create("m", nullptr, 0), nullptr);
    EXPECT_EQ(chooser.GetCodeStatus(), -5);
    EXPECT_EQ(message(chooser, "m"),
              "orvix|SDK: Missing library. Please be sure that all dynamic libraries are present 0x00000005.\n");
}

TEST_F(ChooserTest, PluginWithoutInitialize)
{
    usePlugin(ONN::OV_CPU, OnnTest::kPluginWithoutInitialize, "libnoinit.so", ".vino");
    ONNIEChooser chooser(configFor(ONN::OV_CPU));
    EXPECT_EQ(chooser.Create("m", nullptr, 0), nullptr);
    EXPECT_EQ(chooser.GetCodeStatus(), -4);
}

TEST_F(ChooserTest, IntegrityMismatchIsReported)
{
    const std::string path = OnnTest::copyPlugin(dir, OnnTest::kPlugin, "libtampered.so");
    ONN::predefinedPluginDefinitions[ONN::OV_CPU] = std::make_shared<DynamicPlugin>(
        path.c_str(), "Initialize", "Create", ".vino",
        ONN::Repository<ONN::Dependency>{ONN::Dependency(path, -1, std::vector<unsigned char>(32, 0xab))});
    ONNIEChooser chooser(configFor(ONN::OV_CPU));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(chooser.Create("m", nullptr, 0), nullptr);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(chooser.GetCodeStatus(), -7);
    EXPECT_EQ(OnnTest::initializeCount(path), 0);
    EXPECT_EQ(message(chooser, "m"),
              "orvix|SDK: Integrity check failed. Please be sure that the all dynamic libraries are from the same "
              "SDK version.\n");
}

// AUTO tries OV_CPU only: a present TF_CPU plug-in is not a fallback.
TEST_F(ChooserTest, AutoWithTheOptimalPluginMissing)
{
    const std::string missing = dir.path() + "OVPlugin.so";
    ONN::predefinedPluginDefinitions[ONN::OV_CPU] =
        std::make_shared<DynamicPlugin>(missing.c_str(), "Initialize", "Create", ".vino");
    const std::string tf = usePlugin(ONN::TF_CPU, OnnTest::kPlugin, "libtfpresent.so", ".tflite");

    ONNIEChooser chooser(configFor(ONN::AUTO));
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(chooser.Create("m", nullptr, 0), nullptr);
    const std::string output = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("ONNIE: Cannot load " + missing + ". "), std::string::npos) << output;
    EXPECT_EQ(chooser.GetCodeStatus(), -1);
    EXPECT_EQ(chooser.GetBackend(), ONN::OV_CPU);
    EXPECT_EQ(OnnTest::initializeCount(tf), -1); // never opened
    EXPECT_EQ(message(chooser, "m"),
              "orvix|SDK: Missing library. Please be sure that all dynamic libraries are present 0x00000001.\n");
}

TEST_F(ChooserTest, AutoPassesTheConfigurationOnUnchanged)
{
    const std::string path = usePlugin(ONN::OV_CPU, OnnTest::kPlugin, "libauto.so", ".vino");
    ONNIEChooser chooser(configFor(ONN::AUTO, 2));
    std::unique_ptr<NNFrontend> frontend(chooser.Create("m", nullptr, 0));
    ASSERT_NE(frontend, nullptr);
    EXPECT_EQ(chooser.GetBackend(), ONN::OV_CPU);
    EXPECT_EQ(OnnTest::pluginFunction<int (*)()>(path, "TestLastBackend")(), ONN::AUTO);

    // An empty list makes nothing and leaves the status alone.
    ONN::optimalPlugins.clear();
    ONNIEChooser empty(configFor(ONN::AUTO));
    EXPECT_EQ(empty.Create("m", nullptr, 0), nullptr);
    EXPECT_EQ(empty.GetCodeStatus(), 0);
    EXPECT_EQ(empty.GetBackend(), ONN::UNDEFINED);
}

TEST_F(ChooserTest, UndefinedBackendIsRefusedWithoutTouchingTheStatus)
{
    usePlugin(ONN::OV_CPU, OnnTest::kPluginWithoutCreate, "libundefined.so", ".vino");
    ONNIEChooser chooser(configFor(ONN::OV_CPU));
    EXPECT_EQ(chooser.Create("m", nullptr, 0), nullptr);
    ASSERT_EQ(chooser.GetCodeStatus(), -5);

    for (ONNIEChooser* c : {&chooser, new ONNIEChooser(configFor(ONN::UNDEFINED))}) {
        const int status = c->GetCodeStatus();
        const ONN::EBackend backend = c->GetBackend();
        c->ApplyConfig(configFor(ONN::UNDEFINED));
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(c->Create("m", nullptr, 0), nullptr);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "ONNIE: Failed to create runner. Backend name undefined.\n");
        EXPECT_EQ(c->GetCodeStatus(), status);
        EXPECT_EQ(c->GetBackend(), backend);
        if (c != &chooser)
            delete c;
    }
    ONNIEChooser fresh(configFor(ONN::UNDEFINED));
    EXPECT_EQ(message(fresh, "m"), ""); // status 0: nothing to say
}

// TF_GPU has no plug-in: reported like a missing library, without a crash.
TEST_F(ChooserTest, BackendWithoutPluginIsAMissingLibrary)
{
    ONNIEChooser chooser(configFor(ONN::TF_GPU));
    EXPECT_EQ(chooser.GetPredefinedPlugin(ONN::TF_GPU), nullptr);
    EXPECT_EQ(chooser.GetPredefinedPlugin(ONN::AUTO), nullptr);
    EXPECT_EQ(chooser.GetPredefinedPlugin(ONN::UNDEFINED), nullptr);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(chooser.Create("m", nullptr, 0), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ONNIE: No plug-in is defined for the backend TF_GPU.\n");
    EXPECT_EQ(chooser.GetCodeStatus(), -1);
    EXPECT_EQ(chooser.GetBackend(), ONN::TF_GPU);
    EXPECT_EQ(message(chooser, "m"),
              "orvix|SDK: Missing library. Please be sure that all dynamic libraries are present 0x00000001.\n");
}

// The real TF_CPU plug-in is not built: its load fails like any missing
// library.
TEST(ONNIEChooser, TensorFlowPluginAbsent)
{
    Library probe("TFPlugin.so");
    ::testing::internal::CaptureStdout();
    const bool present = probe.load();
    ::testing::internal::GetCapturedStdout();
    if (present)
        GTEST_SKIP() << "a TFPlugin library is installed";

    ONNIEChooser chooser(configFor(ONN::TF_CPU));
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(chooser.Create("m", nullptr, 0), nullptr);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(chooser.GetCodeStatus(), -1);
    EXPECT_EQ(chooser.GetBackend(), ONN::TF_CPU);
}

// The real OV_CPU plug-in, when built, passes its integrity check: a model
// file that does not exist is then reported as not loaded, not as a
// mismatch.
TEST(ONNIEChooser, BuiltOptimalPluginPassesItsIntegrityCheck)
{
#ifdef ORVIX_OVPLUGIN_FILE
    OrvixTest::TempDir dir;
    ONNIEChooser chooser(configFor(ONN::AUTO));
    unsigned char key[16] = {0};
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    std::unique_ptr<NNFrontend> frontend(chooser.Create((dir.path() + "absent").c_str(), key, 16));
    const std::string errors = ::testing::internal::GetCapturedStderr();
    const std::string output = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(frontend, nullptr);
    EXPECT_EQ(chooser.GetBackend(), ONN::OV_CPU);
    EXPECT_EQ(chooser.GetCodeStatus(), -6) << output << errors;
    EXPECT_EQ(errors.find("Integrity check failed"), std::string::npos) << errors;
#else
    GTEST_SKIP() << "the OV_CPU plug-in is not built";
#endif
}

TEST(ONNIEChooser, CreateFrontendAppendsThePluginsSuffix)
{
    static std::string seenPath;
    auto create = [](ONN::ModelParams params) -> ONN::INNModel* {
        seenPath = params.modelPath;
        return new OnnTest::FakeModel(std::make_shared<OnnTest::FakeLog>(), ONN::FP32, ONN::ImageUtils::NCHW);
    };
    ONN::StaticPlugin plugin("chooser-static-suffix", [] {}, create, ".sfx");
    int status = -100;
    std::unique_ptr<NNFrontend> frontend(
        ONN::CreateFrontend("dir/model", plugin, status, ONN::ModelKey(), configFor(ONN::OV_CPU)));
    ASSERT_NE(frontend, nullptr);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(seenPath, "dir/model.sfx");

    // A plug-in that makes no model at all counts as a model not loaded.
    ONN::StaticPlugin nothing("chooser-static-null", [] {}, [](ONN::ModelParams) -> ONN::INNModel* { return nullptr; },
                              ".n");
    EXPECT_EQ(ONN::CreateFrontend("m", nothing, status, ONN::ModelKey(), Config()), nullptr);
    EXPECT_EQ(status, -6);
}

TEST(ONNIEChooser, ConfigurationSources)
{
    OnnTest::GlobalConfigGuard guard;
    OrvixTest::TempDir dir;
    const std::string partial = dir.write("partial.cfg", "ThreadCount 5");

    ONN::globalConfig = configFor(ONN::TF_CPU, 2);
    ONNIEChooser fromGlobal;
    EXPECT_EQ(fromGlobal.GetConfig().GetBackend(), ONN::TF_CPU);
    ONN::globalConfig = configFor(ONN::OV_CPU, 4);
    EXPECT_EQ(fromGlobal.GetConfig().GetBackend(), ONN::TF_CPU); // a copy

    // ReadConfig starts from the defaults; absent keys do not keep old values.
    EXPECT_TRUE(fromGlobal.ReadConfig(partial.c_str()));
    EXPECT_EQ(fromGlobal.GetConfig().GetBackend(), ONN::AUTO);
    EXPECT_EQ(fromGlobal.GetConfig().GetThreadCount(), 5);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(fromGlobal.ReadConfig((dir.path() + "missing.cfg").c_str()));
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(fromGlobal.GetConfig().GetThreadCount(), 5);

    // ReadGlobalConfig reads over the global record's values.
    EXPECT_TRUE(ONNIEChooser::ReadGlobalConfig(partial.c_str()));
    EXPECT_EQ(ONNIEChooser::GetGlobalConfig().GetBackend(), ONN::OV_CPU);
    EXPECT_EQ(ONNIEChooser::GetGlobalConfig().GetThreadCount(), 5);
    ONNIEChooser::SetGlobalConfig(configFor(ONN::TF_GPU, 7));
    EXPECT_EQ(ONN::globalConfig.GetBackend(), ONN::TF_GPU);
    EXPECT_EQ(ONN::globalConfig.GetThreadCount(), 7);
}

TEST(ONNIEChooser, ErrorMessageWithoutChooserDoesNothing)
{
    ::testing::internal::CaptureStderr();
    OrvixSDK::Common::displayErrorMessageAndExit(nullptr, "m");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
