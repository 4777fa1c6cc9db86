#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "OnnTestSupport.h"
#include "TestSupport.h"
#include "onn/Crypto.h"
#include "onn/Library.h"
#include "onn/ONNIE.h"
#include "onn/Plugin.h"
#include "onn/Utility.h"

using ONN::Dependency;
using ONN::DynamicPlugin;
using ONN::PluginManager;
using ONN::Repository;
using ONN::StaticPlugin;

namespace {

std::atomic<int> staticInitializations{0};

void slowInitialize()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ++staticInitializations;
}

ONN::INNModel* createNothing(ONN::ModelParams)
{
    return nullptr;
}

std::vector<unsigned char> fileDigest(const std::string& path)
{
    std::string content = OrvixTest::TempDir::read(path);
    return ONN::Crypto::hashBuffer(reinterpret_cast<unsigned char*>(&content[0]), static_cast<int>(content.size()));
}

TEST(PluginManager, LoadsAPluginOnceAndKeepsAClone)
{
    PluginManager manager;
    EXPECT_EQ(manager.GetPluginsDirectory(), "./");
    const int before = staticInitializations;
    {
        StaticPlugin plugin("manager-once", slowInitialize, createNothing, ".m");
        EXPECT_FALSE(manager.IsLoaded(plugin));
        EXPECT_EQ(manager.Load(plugin), 0);
        EXPECT_TRUE(manager.IsLoaded(plugin));
        EXPECT_EQ(manager.Load(plugin), 0);
    }
    // Registration is by name: another object of that name counts as loaded.
    StaticPlugin sameName("manager-once", slowInitialize, createNothing, ".m");
    EXPECT_TRUE(manager.IsLoaded(sameName));
    EXPECT_EQ(manager.Load(sameName), 0);
    EXPECT_EQ(staticInitializations - before, 1);
}

TEST(PluginManager, ConcurrentLoadsInitializeOnce)
{
    PluginManager manager;
    StaticPlugin plugin("manager-concurrent", slowInitialize, createNothing, ".m");
    const int before = staticInitializations;
    std::vector<int> statuses(4, -100);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < statuses.size(); ++i)
        threads.emplace_back([&, i] { statuses[i] = manager.Load(plugin); });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(statuses, std::vector<int>(4, 0));
    EXPECT_EQ(staticInitializations - before, 1);
}

TEST(PluginManager, FailedPluginIsNotRegisteredAndIsTriedAgain)
{
    PluginManager manager;
    StaticPlugin noInitialize("manager-failing", nullptr, createNothing, ".m");
    EXPECT_EQ(manager.Load(noInitialize), -4);
    EXPECT_FALSE(manager.IsLoaded(noInitialize));
    EXPECT_EQ(manager.Load(noInitialize), -4);

    manager.SetPluginsDirectory("/opt/plugins/");
    EXPECT_EQ(manager.GetPluginsDirectory(), "/opt/plugins/");
    manager.SetPluginsDirectory(nullptr);
    EXPECT_EQ(manager.GetPluginsDirectory(), "");
}

TEST(Plugin, PredefinedTable)
{
    ONN::Plugin* ov = ONN::predefinedPluginDefinitions.at(ONN::OV_CPU).get();
    ONN::Plugin* tf = ONN::predefinedPluginDefinitions.at(ONN::TF_CPU).get();
    EXPECT_STREQ(ov->GetName(), "OVPlugin.so");
    EXPECT_STREQ(ov->GetModelSuffix(), ".vino");
    EXPECT_STREQ(tf->GetName(), "TFPlugin.so");
    EXPECT_STREQ(tf->GetModelSuffix(), ".tflite");
    EXPECT_TRUE(tf->GetDependencies().Empty());
    ASSERT_NE(dynamic_cast<DynamicPlugin*>(ov), nullptr);
    EXPECT_STREQ(dynamic_cast<DynamicPlugin*>(ov)->GetLoaderName(), "OVPlugin.so");
    EXPECT_EQ(ONN::predefinedPluginDefinitions.size(), 2u);
    EXPECT_EQ(ONN::optimalPlugins, std::vector<ONN::EBackend>{ONN::OV_CPU});
}

// The OV_CPU plug-in's integrity data is made from its built file.
TEST(Plugin, EmbeddedIntegrityDataMatchesTheBuiltPlugin)
{
#ifdef ORVIX_OVPLUGIN_FILE
    const Repository<Dependency> dependencies = ONN::GetOVPluginDependencies();
    ASSERT_EQ(dependencies.Size(), 1u);
    EXPECT_EQ(dependencies[0].name, "OVPlugin.so");
    EXPECT_EQ(dependencies[0].size, ONN::Utility::fileSize(std::string(ORVIX_OVPLUGIN_FILE)));
    EXPECT_EQ(dependencies[0].sha256, fileDigest(ORVIX_OVPLUGIN_FILE));
#else
    EXPECT_TRUE(ONN::GetOVPluginDependencies().Empty());
    GTEST_SKIP() << "the OV_CPU plug-in is not built";
#endif
}

// Dynamic plug-ins on private copies of the test plug-in.
class DynamicPluginTest : public ::testing::Test {
protected:
    OrvixTest::TempDir dir;
    PluginManager manager;

    std::string copy(const char* built, const std::string& name)
    {
        return OnnTest::copyPlugin(dir, built, name);
    }
};

TEST_F(DynamicPluginTest, LoadOpensChecksAndInitializes)
{
    const std::string path = copy(OnnTest::kPlugin, "libgood.so");
    DynamicPlugin plugin(path.c_str(), "Initialize", "Create", ".good");
    EXPECT_STREQ(plugin.GetLoaderName(), path.c_str());
    ASSERT_EQ(manager.Load(plugin), 0);
    EXPECT_EQ(OnnTest::initializeCount(path), 1);
    EXPECT_NE(plugin.GetCreateMethod(), nullptr);
    EXPECT_NE(plugin.GetInitializeMethod(), nullptr);
    EXPECT_EQ(plugin.GetMethod("NoSuchSymbol"), nullptr);
    EXPECT_EQ(manager.Load(plugin), 0);
    EXPECT_EQ(OnnTest::initializeCount(path), 1);

    std::unique_ptr<ONN::Plugin> clone(plugin.Clone());
    EXPECT_STREQ(clone->GetName(), path.c_str());
    EXPECT_STREQ(clone->GetModelSuffix(), ".good");
    EXPECT_EQ(clone->GetCreateMethod(), plugin.GetCreateMethod());
}

TEST_F(DynamicPluginTest, MissingLibrary)
{
    const std::string name = dir.path() + "absent";
    DynamicPlugin plugin(name.c_str(), "Initialize", "Create", ".x");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(manager.Load(plugin), -1);
    const std::string output = ::testing::internal::GetCapturedStdout();
    const std::string error = "Cannot load library " + name + " ";
    EXPECT_EQ(output.rfind("ONNIE: Cannot load " + name + ". " + error, 0), 0u) << output;
    EXPECT_NE(output.find("\nONNIE: " + error), std::string::npos) << output;
    EXPECT_FALSE(manager.IsLoaded(plugin));

    // Asking a plug-in that cannot be opened for its entry points gives null.
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(plugin.GetCreateMethod(), nullptr);
    ::testing::internal::GetCapturedStdout();
}

TEST_F(DynamicPluginTest, MissingInitialize)
{
    const std::string path = copy(OnnTest::kPluginWithoutInitialize, "libnoinit.so");
    DynamicPlugin plugin(path.c_str(), "Initialize", "Create", ".x");
    EXPECT_EQ(manager.Load(plugin), -4);
    EXPECT_FALSE(manager.IsLoaded(plugin));
}

struct IntegrityCase {
    const char* label;
    bool rightSize;
    bool rightDigest;
    bool present;
    int status;
};

void PrintTo(const IntegrityCase& c, std::ostream* out)
{
    *out << c.label;
}

class IntegrityTest : public DynamicPluginTest, public ::testing::WithParamInterface<IntegrityCase> {};

TEST_P(IntegrityTest, DependencyDataIsCheckedBeforeInitialize)
{
    const IntegrityCase& c = GetParam();
    const std::string path = copy(OnnTest::kPlugin, "libchecked.so");
    std::vector<unsigned char> digest = fileDigest(path);
    if (!c.rightDigest)
        digest[5] ^= 0x40;
    const long size = ONN::Utility::fileSize(path) + (c.rightSize ? 0 : 1);
    // The plug-in's own library is looked up under the name it was opened by;
    // an absent dependency has a name nothing can be found under.
    const std::string dependencyName = c.present ? path : dir.path() + "absent.so";
    Repository<Dependency> dependencies{Dependency(dependencyName, size, digest)};
    DynamicPlugin plugin(path.c_str(), "Initialize", "Create", ".x", dependencies);

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(manager.Load(plugin), c.status);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    if (c.status == -7) {
        EXPECT_EQ(errors, "ONNIE: Cannot load " + path + ". Integrity check failed.\n");
    }
    EXPECT_EQ(manager.IsLoaded(plugin), c.status == 0);
    EXPECT_EQ(OnnTest::initializeCount(path), c.status == 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Dependencies, IntegrityTest,
                         ::testing::Values(IntegrityCase{"Matching", true, true, true, 0},
                                           IntegrityCase{"OtherDigest", true, false, true, -7},
                                           IntegrityCase{"OtherSize", false, true, true, -7},
                                           IntegrityCase{"FileMissing", true, true, false, -2}));

TEST_F(DynamicPluginTest, DependencyOutsideTheLoaderIsFoundInTheFolder)
{
    const std::string path = copy(OnnTest::kPlugin, "libwithdependency.so");
    const std::string dependency = dir.write("libhelper.so", "helper bytes");
    const std::vector<unsigned char> digest = fileDigest(dependency);
    DynamicPlugin plugin(path.c_str(), "Initialize", "Create", ".x",
                         Repository<Dependency>{Dependency("helper.so", -1, digest)});
    EXPECT_EQ(plugin.CheckHashes(dir.path()), 0);

    DynamicPlugin wrong(path.c_str(), "Initialize", "Create", ".x",
                        Repository<Dependency>{Dependency("helper.so", -1, std::vector<unsigned char>(32, 0))});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(wrong.CheckHashes(dir.path()), -7);
    ::testing::internal::GetCapturedStderr();

    DynamicPlugin malformed(path.c_str(), "Initialize", "Create", ".x",
                            Repository<Dependency>{Dependency("helper.so", -1, std::vector<unsigned char>(3, 0))});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(malformed.CheckHashes(dir.path()), -3);
    ::testing::internal::GetCapturedStderr();
}

TEST(StaticPlugin, IntegrityFailureStopsTheLoad)
{
    OrvixTest::TempDir dir;
    PluginManager manager;
    const int before = staticInitializations;
    StaticPlugin plugin("static-checked", slowInitialize, createNothing, ".s",
                        Repository<Dependency>{Dependency("missing.so", -1, std::vector<unsigned char>(32, 1))});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(plugin.Load(dir.path()), -2);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(staticInitializations, before);

    std::unique_ptr<ONN::Plugin> clone(plugin.Clone());
    EXPECT_STREQ(clone->GetName(), "static-checked");
    EXPECT_EQ(clone->GetCreateMethod(), &createNothing);
    EXPECT_EQ(clone->GetDependencies().Size(), 1u);
}

}  // namespace
