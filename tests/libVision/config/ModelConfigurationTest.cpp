#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "config/ModelConfiguration.h"

using OrvixSDK::ModelConfiguration;
using OrvixSDK::OxCfgArr;
using OrvixTest::TempDir;
using namespace std::string_literals;

namespace {

using OrvixTest::NamedContent;
using OrvixTest::randomBytes;

template <typename T>
std::vector<T> toVector(const OxCfgArr<T>& array)
{
    return std::vector<T>(array.data, array.data + array.size);
}

// A mesh file with three action units and two shape units; only the section
// headers and counts matter to the configuration.
const char* const kMesh =
    "# mesh\n"
    "VERTEX LIST\n2\n0 0 0\n1 1 1\n"
    "FACE LIST\n1\n0 1 1\n"
    "ANIMATION UNITS LIST\n3\n"
    "# AU jaw\n1\n0 0.1 0 0\n# AU lips\n0\n# AU brow\n0\n"
    "SHAPE UNITS LIST\n2\n"
    "# SU a\n0\n# SU b\n0\n";

const char* const kConfig =
    "model_filename mesh.wfm\n"
    "fdp_filename mesh.fdp\n"
    "rotation_limit 1 2 3 4 5 6\n"
    "translation_limit -1 -2 -3 -4 -5 -6\n"
    "pose_sensitivity 0.5 0.5 0.5 0.25 0.25 0.25\n"
    "au_use 1 0 1\n"
    "au_sensitivity 0.1 0.2 0.3\n"
    "action_unit_limit -1 1 -2 2 -3 3\n"
    "au_names jaw lips brow\n"
    "su_use 0 1\n"
    "su_sensitivity 0.75 1.5\n";

void expectFullConfiguration(const ModelConfiguration& config, const std::string& folder)
{
    EXPECT_EQ(config.getFolder(), folder);
    EXPECT_EQ(config.getModelFilename(), "mesh.wfm");
    EXPECT_EQ(config.getFdpFilename(), "mesh.fdp");
    EXPECT_EQ(config.getAuCount(), 3);
    EXPECT_EQ(config.getSuCount(), 2);
    EXPECT_EQ(toVector(config.getRotationLimit()), (std::vector<float>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(toVector(config.getTranslationLimit()), (std::vector<float>{-1, -2, -3, -4, -5, -6}));
    EXPECT_EQ(toVector(config.getPoseSensitivity()), (std::vector<float>{0.5f, 0.5f, 0.5f, 0.25f, 0.25f, 0.25f}));
    EXPECT_EQ(toVector(config.getAuUse()), (std::vector<int>{1, 0, 1}));
    EXPECT_EQ(toVector(config.getAuSensitivity()), (std::vector<float>{0.1f, 0.2f, 0.3f}));
    EXPECT_EQ(toVector(config.getAuLimit()), (std::vector<float>{-1, 1, -2, 2, -3, 3}));
    EXPECT_EQ(toVector(config.getAuNames()), (std::vector<std::string>{"jaw", "lips", "brow"}));
    EXPECT_EQ(toVector(config.getSuUse()), (std::vector<int>{0, 1}));
    EXPECT_EQ(toVector(config.getSuSensitivity()), (std::vector<float>{0.75f, 1.5f}));
}

void expectNoUnits(const ModelConfiguration& config)
{
    EXPECT_EQ(config.getAuCount(), 0);
    EXPECT_EQ(config.getSuCount(), 0);
    EXPECT_EQ(config.getAuUse().size, 0);
    EXPECT_EQ(config.getAuSensitivity().size, 0);
    EXPECT_EQ(config.getAuLimit().size, 0);
    EXPECT_EQ(config.getAuNames().size, 0);
    EXPECT_EQ(config.getSuUse().size, 0);
    EXPECT_EQ(config.getSuSensitivity().size, 0);
}

// ---------------------------------------------------------------------------
// Loading

TEST(ModelConfigurationLoad, ReadsEveryKeyWithCountsFromTheMeshFile)
{
    TempDir dir;
    dir.write("mesh.wfm", kMesh);
    const std::string path = dir.write("pose.cfg", kConfig);

    ModelConfiguration config(path.c_str());
    expectFullConfiguration(config, dir.path());

    ModelConfiguration reloaded;
    EXPECT_TRUE(reloaded.loadConfigurationFile(path.c_str()));
    expectFullConfiguration(reloaded, dir.path());
}

TEST(ModelConfigurationLoad, MeshFileIsRelativeToTheConfigurationFolder)
{
    TempDir dir;
    dir.write("mesh.wfm", "ANIMATION UNITS LIST\n4\n");
    ASSERT_EQ(system(("mkdir '" + dir.path() + "models'").c_str()), 0);
    const std::string path = dir.write("models/au.cfg", "model_filename ../mesh.wfm\n");

    ModelConfiguration config;
    EXPECT_TRUE(config.loadConfigurationFile(path.c_str()));
    EXPECT_EQ(config.getFolder(), dir.path() + "models/");
    EXPECT_EQ(config.getAuCount(), 4);
    EXPECT_EQ(toVector(config.getAuNames()), std::vector<std::string>(4));
}

TEST(ModelConfigurationLoad, WithoutModelFileThereAreNoUnitsAndPoseListsAreZero)
{
    TempDir dir;
    const std::string path = dir.write("pose.cfg", "fdp_filename a.fdp\nau_use 1 1 1\nrotation_limit 7\n");
    ModelConfiguration config;
    EXPECT_TRUE(config.loadConfigurationFile(path.c_str()));
    expectNoUnits(config);
    EXPECT_EQ(config.getModelFilename(), "");
    EXPECT_EQ(config.getFdpFilename(), "a.fdp");
    EXPECT_EQ(toVector(config.getRotationLimit()), (std::vector<float>{7, 0, 0, 0, 0, 0}));
    EXPECT_EQ(toVector(config.getTranslationLimit()), std::vector<float>(6, 0.0f));
    EXPECT_EQ(toVector(config.getPoseSensitivity()), std::vector<float>(6, 0.0f));
}

TEST(ModelConfigurationLoad, MissingMeshFileIsReportedAndLoadsWithoutUnits)
{
    TempDir dir;
    const std::string path = dir.write("pose.cfg", "model_filename gone.wfm\nau_use 1\n");
    ModelConfiguration config;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(config.loadConfigurationFile(path.c_str()));
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output.rfind("getAuSuFromWfm(): Error opening file gone.wfm.\nWorking directory: ", 0), 0u) << output;
    expectNoUnits(config);
    EXPECT_EQ(config.getModelFilename(), "gone.wfm");
}

TEST(ModelConfigurationLoad, MissingKeysGiveZerosAndEmptyNames)
{
    TempDir dir;
    dir.write("mesh.wfm", kMesh);
    const std::string path = dir.write("pose.cfg", "model_filename mesh.wfm");
    ModelConfiguration config(path.c_str());
    EXPECT_EQ(config.getAuCount(), 3);
    EXPECT_EQ(config.getSuCount(), 2);
    EXPECT_EQ(config.getFdpFilename(), "");
    EXPECT_EQ(toVector(config.getAuUse()), std::vector<int>(3, 0));
    EXPECT_EQ(toVector(config.getAuLimit()), std::vector<float>(6, 0.0f));
    EXPECT_EQ(toVector(config.getAuNames()), std::vector<std::string>(3));
    EXPECT_EQ(toVector(config.getSuSensitivity()), std::vector<float>(2, 0.0f));
}

TEST(ModelConfigurationLoad, ShortNameListsLeaveNamesEmptyOrTakeTheNextKey)
{
    TempDir dir;
    dir.write("mesh.wfm", kMesh);

    const std::string atTheEnd = dir.write("a.cfg", "model_filename mesh.wfm\nau_names jaw");
    EXPECT_EQ(toVector(ModelConfiguration(atTheEnd.c_str()).getAuNames()),
              (std::vector<std::string>{"jaw", "", ""}));

    const std::string beforeAKey = dir.write("b.cfg", "model_filename mesh.wfm\nau_names jaw\nsu_use 1 1\n");
    EXPECT_EQ(toVector(ModelConfiguration(beforeAKey.c_str()).getAuNames()),
              (std::vector<std::string>{"jaw", "su_use", "1"}));
}

struct FailingLoadCase {
    const char* label;
    const char* fileName;  // written with the content unless null
    std::string content;
};

void PrintTo(const FailingLoadCase& c, std::ostream* out)
{
    *out << c.label;  // cases may hold megabytes of bytes
}

class ModelConfigurationFailingLoad : public ::testing::TestWithParam<FailingLoadCase> {};

TEST_P(ModelConfigurationFailingLoad, ReturnsFalseAndLeavesAnEmptyConfiguration)
{
    TempDir dir;
    dir.write("mesh.wfm", kMesh);
    const std::string good = dir.write("good.cfg", kConfig);
    if (GetParam().fileName != nullptr)
        dir.write(GetParam().fileName, GetParam().content);

    ModelConfiguration config(good.c_str());
    ASSERT_EQ(config.getAuCount(), 3);
    const std::string path = dir.path() + "bad.cfg";
    testing::internal::CaptureStdout();
    EXPECT_FALSE(config.loadConfigurationFile(path.c_str()));
    testing::internal::GetCapturedStdout();
    expectNoUnits(config);
    EXPECT_EQ(config.getModelFilename(), "");
    EXPECT_EQ(config.getRotationLimit().size, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, ModelConfigurationFailingLoad,
                         ::testing::Values(FailingLoadCase{"missing", nullptr, ""},
                                           FailingLoadCase{"empty", "bad.cfg", ""},
                                           FailingLoadCase{"startsWithNul", "bad.cfg", "\0model_filename mesh.wfm"s}),
                         [](const ::testing::TestParamInfo<FailingLoadCase>& info) {
                             return std::string(info.param.label);
                         });

TEST(ModelConfigurationLoad, NullPathIsRefusedAndChangesNothing)
{
    TempDir dir;
    dir.write("mesh.wfm", kMesh);
    const std::string path = dir.write("pose.cfg", kConfig);
    ModelConfiguration config(path.c_str());
    EXPECT_FALSE(config.loadConfigurationFile(nullptr));
    expectFullConfiguration(config, dir.path());
}

TEST(ModelConfigurationLoad, MissingFilePrintsItsName)
{
    TempDir dir;
    const std::string path = dir.path() + "absent.cfg";
    testing::internal::CaptureStdout();
    ModelConfiguration config(path.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error opening file absent.cfg.\n");
    expectNoUnits(config);
}

// Damaged configuration files load (or refuse) without harm and never yield
// more units than the mesh file has.
class ModelConfigurationHostileFile : public ::testing::TestWithParam<NamedContent> {};

TEST_P(ModelConfigurationHostileFile, LoadsWithinTheMeshCounts)
{
    TempDir dir;
    dir.write("mesh.wfm", kMesh);
    const std::string path = dir.write("h.cfg", GetParam().content);
    testing::internal::CaptureStdout();
    ModelConfiguration config(path.c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_LE(config.getAuCount(), 3);
    EXPECT_LE(config.getSuCount(), 2);
    EXPECT_EQ(config.getAuUse().size, config.getAuCount());
    EXPECT_EQ(config.getAuNames().size, config.getAuCount());
    EXPECT_EQ(config.getAuLimit().size, 2 * config.getAuCount());
    EXPECT_EQ(config.getSuUse().size, config.getSuCount());

    ModelConfiguration copy(config);
    EXPECT_EQ(toVector(copy.getAuNames()), toVector(config.getAuNames()));
}

INSTANTIATE_TEST_SUITE_P(
    Files, ModelConfigurationHostileFile,
    ::testing::Values(
        NamedContent{"randomBytes", randomBytes(8192, 3)},
        NamedContent{"modelThenRandomBytes", "model_filename mesh.wfm " + randomBytes(8192, 4)},
        NamedContent{"oneMegabyteLine", std::string(1 << 20, 'm')},
        NamedContent{"longLineThenKeys", std::string(1 << 20, ' ') + "model_filename mesh.wfm au_use 1 1 1"},
        NamedContent{"truncatedLists", "model_filename mesh.wfm au_use 1 0 au_names a action_unit_limit 1"},
        NamedContent{"keysWithoutValues", "au_use su_use au_names model_filename"},
        NamedContent{"hugeValues", "model_filename mesh.wfm au_use 99999999999 -1 au_sensitivity 1e999"}),
    [](const ::testing::TestParamInfo<NamedContent>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------
// Counting units in the mesh file

struct WfmCase {
    const char* label;
    std::string content;
    int actionUnits;
    int shapeUnits;
    bool diagnostic;  // a one-line complaint about a count is printed
};

void PrintTo(const WfmCase& c, std::ostream* out)
{
    *out << c.label;  // cases may hold megabytes of bytes
}

class ModelConfigurationUnitCount : public ::testing::TestWithParam<WfmCase> {};

TEST_P(ModelConfigurationUnitCount, ReadsTheCountAfterEachSectionHeader)
{
    TempDir dir;
    dir.write("m.wfm", GetParam().content);
    int counts[2] = {-7, -7};
    testing::internal::CaptureStdout();
    EXPECT_TRUE(ModelConfiguration::getAuSuFromWfm("m.wfm", dir.path().c_str(), counts));
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(counts[0], GetParam().actionUnits);
    EXPECT_EQ(counts[1], GetParam().shapeUnits);
    if (GetParam().diagnostic) {
        EXPECT_EQ(output.rfind("getAuSuFromWfm(): ", 0), 0u) << output;
        EXPECT_EQ(output.find('\n'), output.size() - 1) << output;
    } else {
        EXPECT_EQ(output, "");
    }
}

const std::string kMegabyteLine(1 << 20, 'x');

INSTANTIATE_TEST_SUITE_P(
    Meshes, ModelConfigurationUnitCount,
    ::testing::Values(
        WfmCase{"bothSections", kMesh, 3, 2, false},
        WfmCase{"countOnTheNextLine", "ANIMATION UNITS LIST\n12\n", 12, 0, false},
        WfmCase{"shapeUnitsOnly", "VERTEX LIST\n0\nSHAPE UNITS LIST\n14\n", 0, 14, false},
        WfmCase{"shapeSectionFirst", "SHAPE UNITS LIST\n2\nANIMATION UNITS LIST\n5\n", 5, 2, false},
        WfmCase{"headerInsideALine", "# ANIMATION UNITS LIST follows\n7\n", 7, 0, false},
        WfmCase{"restOfTheHeaderLineIsSkipped", "ANIMATION UNITS LIST 4\n9\n", 9, 0, false},
        WfmCase{"blankLinesBeforeTheCount", "ANIMATION UNITS LIST\n\n\n  \t6\n", 6, 0, false},
        WfmCase{"windowsLineEnds", "ANIMATION UNITS LIST\r\n8\r\nSHAPE UNITS LIST\r\n1\r\n", 8, 1, false},
        WfmCase{"repeatedPrefix", "ANIMANIMATION UNITS LIST\n5\n", 5, 0, false},
        WfmCase{"headerSplitOverTwoLines", "ANIMATION UNITS\nLIST\n5\n", 0, 0, false},
        WfmCase{"noSections", "VERTEX LIST\n1\n0 0 0\n", 0, 0, false},
        WfmCase{"empty", "", 0, 0, false},
        WfmCase{"nulBytesInTheText", "ANIMATION\0UNITS LIST\nSHAPE UNITS LIST\n3\n"s, 0, 3, false},
        WfmCase{"afterAVeryLongLine", kMegabyteLine + "\nANIMATION UNITS LIST\n4\n", 4, 0, false},
        WfmCase{"atTheEndOfAVeryLongLine", kMegabyteLine + "ANIMATION UNITS LIST\n4\n", 4, 0, false},
        WfmCase{"atTheBound", "ANIMATION UNITS LIST\n1000\n", 1000, 0, false},
        WfmCase{"negative", "ANIMATION UNITS LIST\n-3\nSHAPE UNITS LIST\n2\n", 0, 2, true},
        WfmCase{"aboveTheBound", "SHAPE UNITS LIST\n1001\n", 0, 0, true},
        WfmCase{"absurd", "ANIMATION UNITS LIST\n2000000000\n", 0, 0, true},
        WfmCase{"beyondEveryInteger", "ANIMATION UNITS LIST\n99999999999999999999999\n", 0, 0, true},
        WfmCase{"notANumber", "ANIMATION UNITS LIST\nmany\n", 0, 0, true},
        WfmCase{"headerAtTheEndOfTheFile", "VERTEX LIST\n0\nANIMATION UNITS LIST", 0, 0, true}),
    [](const ::testing::TestParamInfo<WfmCase>& info) { return std::string(info.param.label); });

TEST(ModelConfigurationUnitCount, RandomBytesGiveCountsWithinTheBound)
{
    TempDir dir;
    for (unsigned seed = 10; seed < 14; ++seed) {
        std::string content = randomBytes(16384, seed);
        // Headers among the noise, followed by noise instead of a count.
        content.insert(4000, "\nANIMATION UNITS LIST\n");
        content.insert(9000, "\nSHAPE UNITS LIST\n");
        dir.write("r.wfm", content);
        int counts[2] = {0, 0};
        testing::internal::CaptureStdout();
        EXPECT_TRUE(ModelConfiguration::getAuSuFromWfm("r.wfm", dir.path().c_str(), counts));
        testing::internal::GetCapturedStdout();
        for (int count : counts) {
            EXPECT_GE(count, 0);
            EXPECT_LE(count, ModelConfiguration::kMaxUnitCount);
        }
    }
}

TEST(ModelConfigurationUnitCount, MissingFileIsReportedAndLeavesTheCounts)
{
    TempDir dir;
    int counts[2] = {5, 6};
    testing::internal::CaptureStdout();
    EXPECT_FALSE(ModelConfiguration::getAuSuFromWfm("none.wfm", dir.path().c_str(), counts));
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(counts[0], 5);
    EXPECT_EQ(counts[1], 6);
    char cwd[1024];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    EXPECT_EQ(output, "getAuSuFromWfm(): Error opening file none.wfm.\nWorking directory: " + std::string(cwd) + "\n");
}

TEST(ModelConfigurationLoad, DamagedUnitCountsLoadWithoutThoseUnits)
{
    TempDir dir;
    dir.write("mesh.wfm", "ANIMATION UNITS LIST\n-5\nSHAPE UNITS LIST\n2\n");
    const std::string path = dir.write("pose.cfg", "model_filename mesh.wfm\nau_use 1 1\nsu_use 1 1\n");
    testing::internal::CaptureStdout();
    ModelConfiguration config(path.c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(config.getAuCount(), 0);
    EXPECT_EQ(config.getAuUse().size, 0);
    EXPECT_EQ(toVector(config.getSuUse()), (std::vector<int>{1, 1}));
}

// ---------------------------------------------------------------------------
// Copying

TEST(ModelConfigurationCopy, CopiesAreDeepAndOutliveTheirSource)
{
    TempDir dir;
    dir.write("mesh.wfm", kMesh);
    const std::string path = dir.write("pose.cfg", kConfig);

    ModelConfiguration* source = new ModelConfiguration(path.c_str());
    ModelConfiguration constructed(*source);
    ModelConfiguration assigned;
    assigned = *source;
    delete source;  // the copies must not share its matrices
    expectFullConfiguration(constructed, dir.path());
    expectFullConfiguration(assigned, dir.path());

    ModelConfiguration& alias = assigned;
    assigned = alias;
    expectFullConfiguration(assigned, dir.path());
}

TEST(ModelConfigurationCopy, SwapExchangesEverything)
{
    TempDir dir;
    dir.write("mesh.wfm", kMesh);
    const std::string path = dir.write("pose.cfg", kConfig);

    ModelConfiguration full(path.c_str());
    ModelConfiguration empty;
    ModelConfiguration::swap(full, empty);
    expectFullConfiguration(empty, dir.path());
    expectNoUnits(full);
    EXPECT_EQ(full.getRotationLimit().size, 0);
    EXPECT_EQ(full.getFolder(), "");
}

}  // namespace
