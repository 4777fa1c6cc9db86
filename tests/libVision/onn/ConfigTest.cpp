#include <climits>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "onn/Config.h"

using ONN::Config;

namespace {

// One NeuralNet.cfg content and the record it gives, read over the defaults.
// In dataPath, "<dir>" stands for the folder of the file.
struct ReadCase {
    const char* label;
    std::string content;
    ONN::EBackend backend;
    int threadCount;
    std::string dataPath;
    std::string output; // standard output while reading
};

void PrintTo(const ReadCase& c, std::ostream* out)
{
    *out << c.label;
}

class ConfigReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ConfigReadTest, ReadsTheFileOverTheDefaults)
{
    const ReadCase& c = GetParam();
    OrvixTest::TempDir dir;
    const std::string path = dir.write("NeuralNet.cfg", c.content);

    Config config;
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(config.Read(path.c_str()));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.output);

    std::string expectedPath = c.dataPath;
    const std::string marker = "<dir>";
    if (expectedPath.compare(0, marker.size(), marker) == 0)
        expectedPath = dir.path() + expectedPath.substr(marker.size());
    EXPECT_EQ(config.GetBackend(), c.backend);
    EXPECT_EQ(config.GetThreadCount(), c.threadCount);
    EXPECT_EQ(config.GetDataPath(), expectedPath);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ConfigReadTest,
    ::testing::Values(
        ReadCase{"Empty", "", ONN::AUTO, 1, "", ""},
        ReadCase{"AllKeys", "EBackend OV_CPU\nThreadCount 4\nDataPath models\n", ONN::OV_CPU, 4, "<dir>models", ""},
        ReadCase{"LineBreaksCarryNoMeaning", "EBackend\n\n  TF_CPU ThreadCount\t2", ONN::TF_CPU, 2, "", ""},
        ReadCase{"DotIsTheFilesFolder", "DataPath .", ONN::AUTO, 1, "<dir>", ""},
        ReadCase{"AbsolutePathIsStillPrefixed", "DataPath /abs", ONN::AUTO, 1, "<dir>/abs", ""},
        ReadCase{"LowerCaseBackendIsUnsupported", "EBackend auto", ONN::AUTO, 1, "",
                 "ONNIE: Unsupported backend name: auto\n"},
        ReadCase{"UndefinedIsAutoSilently", "EBackend OV_CPU EBackend UNDEFINED", ONN::AUTO, 1, "", ""},
        ReadCase{"GpuIsAcceptedHere", "EBackend TF_GPU", ONN::TF_GPU, 1, "", ""},
        ReadCase{"UnknownKeyDropsItsValue", "Threads 8 ThreadCount 3", ONN::AUTO, 3, "",
                 "ONNIE: Unsupported config key named: Threads\n"},
        ReadCase{"KeysAreCaseSensitive", "threadcount 3", ONN::AUTO, 1, "",
                 "ONNIE: Unsupported config key named: threadcount\n"},
        ReadCase{"LastValueWins", "ThreadCount 2 ThreadCount 6", ONN::AUTO, 6, "", ""},
        ReadCase{"LoneKeyAtTheEndIsIgnored", "ThreadCount 5 EBackend", ONN::AUTO, 5, "", ""},
        ReadCase{"NonNumberThreadCountIsZero", "ThreadCount x", ONN::AUTO, 0, "", ""},
        ReadCase{"NegativeThreadCountIsKept", "ThreadCount -3", ONN::AUTO, -3, "", ""},
        ReadCase{"LeadingDigitsAreTheNumber", "ThreadCount 12abc", ONN::AUTO, 12, "", ""},
        ReadCase{"HugeThreadCountIsClamped", "ThreadCount 99999999999999999999", ONN::AUTO, INT_MAX, "", ""},
        ReadCase{"BinaryBytesAreTokensLikeAnyOther", std::string("\x01\xff") + '\0' + "x junk ThreadCount 7",
                 ONN::AUTO, 7, "", "ONNIE: Unsupported config key named: \x01\xff\n"}));

TEST(Config, DefaultsAndSetters)
{
    Config config;
    EXPECT_EQ(config.GetBackend(), ONN::AUTO);
    EXPECT_EQ(config.GetThreadCount(), 1);
    EXPECT_EQ(config.GetDataPath(), "");

    for (int refused : {0, -3, INT_MIN}) {
        config.SetThreadCount(refused);
        EXPECT_EQ(config.GetThreadCount(), 1) << refused;
    }
    config.SetThreadCount(8);
    EXPECT_EQ(config.GetThreadCount(), 8);
}

TEST(Config, MissingFileIsReportedAndChangesNothing)
{
    OrvixTest::TempDir dir;
    Config config;
    config.SetBackend(ONN::TF_CPU);
    config.SetThreadCount(3);
    const std::string path = dir.path() + "NeuralNet.cfg";

    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(config.Read(path.c_str()));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ONNIE: Missing config file named " + path + "\n");
    EXPECT_EQ(config.GetBackend(), ONN::TF_CPU);
    EXPECT_EQ(config.GetThreadCount(), 3);

    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(config.Read(nullptr));
    ::testing::internal::GetCapturedStdout();
}

TEST(Config, ReadKeepsValuesTheFileDoesNotName)
{
    OrvixTest::TempDir dir;
    const std::string path = dir.write("NeuralNet.cfg", "ThreadCount 2");
    Config config;
    config.SetBackend(ONN::OV_CPU);
    config.SetDataPath("keep/");
    ASSERT_TRUE(config.Read(path.c_str()));
    EXPECT_EQ(config.GetBackend(), ONN::OV_CPU);
    EXPECT_EQ(config.GetThreadCount(), 2);
    EXPECT_EQ(config.GetDataPath(), "keep/");
}

TEST(Config, BackslashesInThePathSeparateFolders)
{
    // On this system a backslash is an ordinary file-name character, so the
    // file can be named as a path with backslashes would be.
    OrvixTest::TempDir dir;
    const std::string path = dir.write("m\\sub\\NeuralNet.cfg", "DataPath models");
    Config config;
    ASSERT_TRUE(config.Read(path.c_str()));
    EXPECT_EQ(config.GetDataPath(), dir.path() + "m/sub/models");
}

TEST(Config, PathWithoutSlashHasAnEmptyFolder)
{
    OrvixTest::TempDir dir;
    dir.write("NeuralNet.cfg", "DataPath . EBackend OV_CPU");
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);

    Config config;
    config.SetDataPath("before");
    const bool read = config.Read("NeuralNet.cfg");
    ASSERT_EQ(chdir(previous), 0);

    EXPECT_TRUE(read);
    EXPECT_EQ(config.GetDataPath(), "");
    EXPECT_EQ(config.GetBackend(), ONN::OV_CPU);
}

TEST(Config, ParseBackend)
{
    struct Case {
        std::string name;
        ONN::EBackend expected;
        bool reported;
    };
    const std::vector<Case> cases = {
        {"OV_CPU", ONN::OV_CPU, false},  {"TF_CPU", ONN::TF_CPU, false}, {"TF_GPU", ONN::TF_GPU, false},
        {"AUTO", ONN::AUTO, false},      {"UNDEFINED", ONN::AUTO, false}, {"", ONN::AUTO, true},
        {"ov_cpu", ONN::AUTO, true}, {"OV_CPU ", ONN::AUTO, true},
    };
    for (const Case& c : cases) {
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(ONN::ParseBackend(c.name), c.expected) << c.name;
        const std::string output = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(output, c.reported ? "ONNIE: Unsupported backend name: " + c.name + "\n" : "") << c.name;
    }
}

TEST(Config, ParseDataPath)
{
    EXPECT_EQ(ONN::ParseDataPath("."), "");
    EXPECT_EQ(ONN::ParseDataPath("./"), "./");
    EXPECT_EQ(ONN::ParseDataPath(""), "");
    EXPECT_EQ(ONN::ParseDataPath("models"), "models");
}

TEST(Config, BackendNamesConvertBothWays)
{
    for (ONN::EBackend backend : {ONN::OV_CPU, ONN::TF_CPU, ONN::TF_GPU, ONN::AUTO}) {
        ASSERT_NE(GetBackendName(backend), nullptr);
        EXPECT_EQ(ONN::ParseBackend(GetBackendName(backend)), backend);
    }
    EXPECT_STREQ(GetBackendName(ONN::UNDEFINED), "UNDEFINED");
    EXPECT_EQ(GetBackendName(static_cast<ONN::EBackend>(0)), nullptr);
    EXPECT_EQ(GetBackendName(static_cast<ONN::EBackend>(6)), nullptr);
    EXPECT_EQ(GetBackendName(static_cast<ONN::EBackend>(-1)), nullptr);
}

}  // namespace
