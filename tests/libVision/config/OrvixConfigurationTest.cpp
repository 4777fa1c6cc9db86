#include <cmath>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>

#include "OrvixSDK/OrvixConfiguration.h"
#include "TestSupport.h"
#include "config/ModelConfiguration.h"

using OrvixSDK::ModelConfiguration;
using OrvixSDK::OrvixConfiguration;
using OrvixSDK::OxCfgArr;
using OrvixTest::TempDir;

namespace {

using OrvixTest::NamedContent;
using OrvixTest::randomBytes;

const unsigned kAll = ~0u;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<float> factorsOf(const OrvixConfiguration& config)
{
    const OxCfgArr<float> factors = config.getSmoothingFactors();
    return std::vector<float>(factors.data, factors.data + factors.size);
}

// Runs a block with the working directory changed, restoring it afterwards.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& path)
    {
        if (getcwd(saved, sizeof(saved)) == nullptr)
            saved[0] = '\0';
        changed = chdir(path.c_str()) == 0;
    }
    ~WorkingDirectory()
    {
        if (changed && chdir(saved) != 0) {
            // Nothing sensible is left to do in a test's clean-up.
        }
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

    bool changed;

private:
    char saved[4096];
};

// Files of one model: a mesh with 3 action units and 2 shape units and a
// fitting-model configuration that names it.
void writeModelFiles(const TempDir& dir)
{
    dir.write("mesh.wfm", "ANIMATION UNITS LIST\n3\nSHAPE UNITS LIST\n2\n");
    dir.write("pose.cfg", "model_filename mesh.wfm\nau_use 1 0 1\nau_names a b c\n");
    dir.write("au.cfg", "model_filename mesh.wfm\nau_use 0 1 1\n");
}

// ---------------------------------------------------------------------------
// Defaults and reading files

void expectDefaultsExceptPaths(const OrvixConfiguration& config)
{
    EXPECT_EQ(config.getCameraFocus(), 0.0f);
    EXPECT_EQ(config.getRecoveryTimeout(), 0.0f);
    EXPECT_FLOAT_EQ(config.getMinFaceScale(), 0.15f);
    EXPECT_FLOAT_EQ(config.getMaxFaceScale(), 1.0f);
    EXPECT_FLOAT_EQ(config.getFaceDetectorSensitivity(), 0.5f);
    EXPECT_EQ(config.getEnableSmoothing(), 1u);
    EXPECT_EQ(config.getTemporallyDenoiseInput(), 1u);
    EXPECT_EQ(config.getProcessEyes(), 3u);
    EXPECT_EQ(config.getRefineLandmarks(), 0u);
    EXPECT_EQ(config.getRefineEars(), 0u);
    EXPECT_EQ(config.getFittingAlgorithm(), "eif_pose_su_au");
    EXPECT_EQ(config.getPoseFittingModelConfiguration(), "");
    EXPECT_EQ(config.getAuFittingModelConfiguration(), "");
    EXPECT_EQ(config.getMeshFittingModelConfiguration(), "");
    EXPECT_EQ(config.getPoseModelConfiguration(), nullptr);
    EXPECT_EQ(config.getAuModelConfiguration(), nullptr);
    EXPECT_EQ(config.getMeshModelConfiguration(), nullptr);
    EXPECT_FALSE(config.isAuModelDisabled());
    EXPECT_FALSE(config.isMeshModelDisabled());
    EXPECT_EQ(config.getLogFileName(), "");
}

TEST(OrvixConfigurationDefaults, NewConfigurationHasEveryDefaultAndEveryChangeBit)
{
    OrvixConfiguration config;
    expectDefaultsExceptPaths(config);
    EXPECT_EQ(config.getOftDataPath(), "");
    EXPECT_EQ(config.getOfdDataPath(), "");
    EXPECT_EQ(config.getPrDataPath(), "");
    EXPECT_EQ(config.getErDataPath(), "");
    EXPECT_EQ(config.getConfigDir(), "");
    EXPECT_EQ(config.getSmoothingFactors().size, 0);
    EXPECT_EQ(config.getSmoothingFactorsMatrix(), nullptr);
    EXPECT_EQ(config.getChanges(), kAll);
    EXPECT_EQ(config.getChanges(), 0u);
}

TEST(OrvixConfigurationFile, OnlyCameraFocusGivesDefaultsAndFoldersEqualToTheConfigurationFolder)
{
    TempDir dir;
    const std::string path = dir.write("tracker.cfg", "camera_focus 5");
    OrvixConfiguration config(path.c_str());
    EXPECT_EQ(config.getCameraFocus(), 5.0f);
    EXPECT_EQ(config.getConfigDir(), dir.path());
    for (const std::string& folder :
         {config.getOftDataPath(), config.getOfdDataPath(), config.getPrDataPath(), config.getErDataPath()})
        EXPECT_EQ(folder, dir.path());
    EXPECT_EQ(factorsOf(config), std::vector<float>(8, -1.0f));
    ASSERT_NE(config.getSmoothingFactorsMatrix(), nullptr);
    EXPECT_EQ(config.getSmoothingFactorsMatrix()->rows, 8);
    EXPECT_EQ(config.getChanges(), kAll);
}

TEST(OrvixConfigurationFile, ReadsEveryKeyWithoutRangeTests)
{
    TempDir dir;
    const std::string path = dir.write("tracker.cfg",
                                       "camera_focus 4.5\n"
                                       "recovery_timeout 2500\n"
                                       "smoothing_factors 1 2 3 4 5 6 7 8\n"
                                       "enable_smoothing 0\n"
                                       "temporally_denoise_input 7\n"
                                       "oft_data_path ../tracking\n"
                                       "ofd_data_path /abs/detect\n"
                                       "pr_data_path pupils/\n"
                                       "er_data_path ears\n"
                                       "process_eyes 9\n"
                                       "refine_ears 1\n"
                                       "min_face_scale -2\n"
                                       "max_face_scale 7\n"
                                       "refine_landmarks 1\n"
                                       "face_detector_sensitivity 1.5\n"
                                       "fitting_algorithm something_else\n");
    OrvixConfiguration config;
    EXPECT_TRUE(config.setMinFaceScale(0.3f));
    EXPECT_TRUE(config.setConfigurationFile(path.c_str()));

    EXPECT_EQ(config.getCameraFocus(), 4.5f);
    EXPECT_EQ(config.getRecoveryTimeout(), 2500.0f);
    EXPECT_EQ(factorsOf(config), (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(config.getEnableSmoothing(), 0u);
    EXPECT_EQ(config.getTemporallyDenoiseInput(), 7u);
    EXPECT_EQ(config.getOftDataPath(), dir.path() + "../tracking");
    EXPECT_EQ(config.getOfdDataPath(), dir.path() + "/abs/detect");
    EXPECT_EQ(config.getPrDataPath(), dir.path() + "pupils/");
    EXPECT_EQ(config.getErDataPath(), dir.path() + "ears");
    EXPECT_EQ(config.getProcessEyes(), 9u);
    EXPECT_EQ(config.getRefineEars(), 1u);
    EXPECT_EQ(config.getMinFaceScale(), -2.0f);
    EXPECT_EQ(config.getMaxFaceScale(), 7.0f);
    EXPECT_EQ(config.getRefineLandmarks(), 1u);
    EXPECT_EQ(config.getFaceDetectorSensitivity(), 1.5f);
    EXPECT_EQ(config.getFittingAlgorithm(), "something_else");
    EXPECT_EQ(config.getChanges(), kAll);

    // Reading again starts from the defaults.
    const std::string other = dir.write("other.cfg", "recovery_timeout 1\n");
    config.setConfigurationFile(other.c_str());
    EXPECT_EQ(config.getRecoveryTimeout(), 1.0f);
    EXPECT_EQ(config.getCameraFocus(), 0.0f);
    EXPECT_FLOAT_EQ(config.getMinFaceScale(), 0.15f);
    EXPECT_EQ(config.getProcessEyes(), 3u);
    EXPECT_EQ(config.getFittingAlgorithm(), "eif_pose_su_au");
    EXPECT_EQ(config.getOfdDataPath(), dir.path());
    EXPECT_EQ(factorsOf(config), std::vector<float>(8, -1.0f));
}

struct FactorCase {
    const char* label;
    const char* text;
    std::vector<float> factors;
};

void PrintTo(const FactorCase& c, std::ostream* out)
{
    *out << c.label;  // cases may hold megabytes of bytes
}

class OrvixConfigurationFactors : public ::testing::TestWithParam<FactorCase> {};

TEST_P(OrvixConfigurationFactors, ListFillsFromTheFront)
{
    TempDir dir;
    const std::string path = dir.write("tracker.cfg", GetParam().text);
    EXPECT_EQ(factorsOf(OrvixConfiguration(path.c_str())), GetParam().factors);
}

const float n = -1.0f;

INSTANTIATE_TEST_SUITE_P(
    Files, OrvixConfigurationFactors,
    ::testing::Values(
        FactorCase{"threeAtTheEnd", "camera_focus 5\nsmoothing_factors 1 2 3", {1, 2, 3, n, n, n, n, n}},
        FactorCase{"threeBeforeAKey", "smoothing_factors 1 2 3\nenable_smoothing 1", {1, 2, 3, 0, n, n, n, n}},
        FactorCase{"moreThanEight", "smoothing_factors 1 2 3 4 5 6 7 8 9 10", {1, 2, 3, 4, 5, 6, 7, 8}},
        FactorCase{"missing", "camera_focus 5", {n, n, n, n, n, n, n, n}}),
    [](const ::testing::TestParamInfo<FactorCase>& info) { return std::string(info.param.label); });

TEST(OrvixConfigurationFile, MissingFileIsReportedAndLeavesDefaults)
{
    TempDir dir;
    const std::string path = dir.path() + "tracker.cfg";
    testing::internal::CaptureStdout();
    OrvixConfiguration config(path.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error opening file tracker.cfg.\n");
    expectDefaultsExceptPaths(config);
    EXPECT_EQ(config.getOftDataPath(), dir.path());
    EXPECT_EQ(factorsOf(config), std::vector<float>(8, -1.0f));
}

TEST(OrvixConfigurationFile, FoldersAreAlwaysPrefixedWithTheConfigurationFolder)
{
    // The folder need not exist: the file is missing, the folder is kept.
    testing::internal::CaptureStdout();
    OrvixConfiguration config("/data/cfg/tracker.cfg");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(config.getConfigDir(), "/data/cfg/");
    EXPECT_TRUE(config.setOftDataPath("../tracking"));
    EXPECT_EQ(config.getOftDataPath(), "/data/cfg/../tracking");
    EXPECT_TRUE(config.setOfdDataPath("/opt/detector"));
    EXPECT_EQ(config.getOfdDataPath(), "/data/cfg//opt/detector");
}

TEST(OrvixConfigurationFile, BareFileNameIsReadFromTheWorkingDirectory)
{
    TempDir dir;
    dir.write("tracker.cfg", "camera_focus 2\noft_data_path align\n");
    WorkingDirectory inDir(dir.path());
    ASSERT_TRUE(inDir.changed);
    OrvixConfiguration config("tracker.cfg");
    EXPECT_EQ(config.getConfigDir(), "");
    EXPECT_EQ(config.getCameraFocus(), 2.0f);
    EXPECT_EQ(config.getOftDataPath(), "align");
    EXPECT_EQ(config.getOfdDataPath(), "");
}

TEST(OrvixConfigurationFile, LogFileRecordsTheVersionAndTheStartOfInitialisation)
{
    TempDir dir;
    const std::string log = dir.path() + "start.log";
    const std::string path = dir.write("tracker.cfg", "log_filename " + log + "\ncamera_focus 1\n");
    OrvixConfiguration config(path.c_str());
    EXPECT_EQ(config.getLogFileName(), log);
    EXPECT_EQ(TempDir::read(log), "orvix|SDK version: 9.1.0\nInitialising the detector\n");
    // Reading again writes the file anew.
    config.setConfigurationFile(path.c_str());
    EXPECT_EQ(TempDir::read(log), "orvix|SDK version: 9.1.0\nInitialising the detector\n");
}

TEST(OrvixConfigurationFile, LogFileIsRelativeToTheWorkingDirectoryAndNeedsTwoCharacters)
{
    TempDir config;
    TempDir work;
    const std::string shortName = config.write("short.cfg", "log_filename x\n");
    const std::string longName = config.write("long.cfg", "log_filename xy\n");
    WorkingDirectory inWork(work.path());
    ASSERT_TRUE(inWork.changed);

    OrvixConfiguration first(shortName.c_str());
    EXPECT_EQ(first.getLogFileName(), "x");
    EXPECT_EQ(access((work.path() + "x").c_str(), F_OK), -1);
    EXPECT_EQ(access((config.path() + "x").c_str(), F_OK), -1);

    OrvixConfiguration second(longName.c_str());
    EXPECT_EQ(TempDir::read(work.path() + "xy"), "orvix|SDK version: 9.1.0\nInitialising the detector\n");
    EXPECT_EQ(access((config.path() + "xy").c_str(), F_OK), -1);
}

// Damaged files never crash the reader; whatever is read, the object stays
// usable (copies, setters, the eight smoothing factors).
class OrvixConfigurationHostileFile : public ::testing::TestWithParam<NamedContent> {};

TEST_P(OrvixConfigurationHostileFile, ReadsWithoutHarm)
{
    TempDir dir;
    writeModelFiles(dir);
    const std::string path = dir.write("tracker.cfg", GetParam().content);
    testing::internal::CaptureStdout();
    OrvixConfiguration config(path.c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(config.getSmoothingFactors().size, 8);
    EXPECT_EQ(config.getChanges(), kAll);
    OrvixConfiguration copy(config);
    EXPECT_EQ(factorsOf(copy), factorsOf(config));
    EXPECT_TRUE(copy.setSmoothingFactors(OxCfgArr<float>(8)));
}

INSTANTIATE_TEST_SUITE_P(
    Files, OrvixConfigurationHostileFile,
    ::testing::Values(
        NamedContent{"empty", ""},
        NamedContent{"randomBytes", randomBytes(8192, 21)},
        NamedContent{"keysThenRandomBytes", "camera_focus 3 smoothing_factors 1 " + randomBytes(8192, 22)},
        NamedContent{"oneMegabyteLine", std::string(1 << 20, 'c')},
        NamedContent{"longLineThenKeys", std::string(1 << 20, '\t') + "camera_focus 3"},
        NamedContent{"keysWithoutValues",
                    "camera_focus recovery_timeout smoothing_factors pose_fitting_model_configuration"},
        NamedContent{"truncatedModelKey", "pose_fitting_model_configuration pose.cfg au_fitting_model_configur"},
        NamedContent{"modelKeysNamingTheTrackerFile",
                    "pose_fitting_model_configuration tracker.cfg au_fitting_model_configuration ."}),
    [](const ::testing::TestParamInfo<NamedContent>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------
// Setters

struct FloatSetterCase {
    const char* label;
    bool (OrvixConfiguration::*set)(float);
    float (OrvixConfiguration::*get)() const;
    float value;
    bool accepted;
    unsigned bit;
};

void PrintTo(const FloatSetterCase& c, std::ostream* out)
{
    *out << c.label;  // cases may hold megabytes of bytes
}

class OrvixConfigurationFloatSetter : public ::testing::TestWithParam<FloatSetterCase> {};

TEST_P(OrvixConfigurationFloatSetter, AcceptsOnlyItsRangeAndRaisesItsBit)
{
    const FloatSetterCase& c = GetParam();
    OrvixConfiguration config;
    config.getChanges();
    const float before = (config.*c.get)();
    EXPECT_EQ((config.*c.set)(c.value), c.accepted);
    if (c.accepted) {
        EXPECT_EQ((config.*c.get)(), c.value);
        EXPECT_EQ(config.getChanges(), c.bit);
    } else {
        EXPECT_EQ((config.*c.get)(), before);
        EXPECT_EQ(config.getChanges(), 0u);
    }
}

const float kInf = std::numeric_limits<float>::infinity();
typedef OrvixConfiguration C;

INSTANTIATE_TEST_SUITE_P(
    Setters, OrvixConfigurationFloatSetter,
    ::testing::Values(
        FloatSetterCase{"focusPositive", &C::setCameraFocus, &C::getCameraFocus, 2.5f, true, 0x8},
        FloatSetterCase{"focusTiny", &C::setCameraFocus, &C::getCameraFocus, 1e-6f, true, 0x8},
        FloatSetterCase{"focusZero", &C::setCameraFocus, &C::getCameraFocus, 0.0f, false, 0},
        FloatSetterCase{"focusNegative", &C::setCameraFocus, &C::getCameraFocus, -1.0f, false, 0},
        FloatSetterCase{"focusNaN", &C::setCameraFocus, &C::getCameraFocus, kNaN, false, 0},
        FloatSetterCase{"timeoutZero", &C::setRecoveryTimeout, &C::getRecoveryTimeout, 0.0f, true, 0x10},
        FloatSetterCase{"timeoutLong", &C::setRecoveryTimeout, &C::getRecoveryTimeout, 5000.0f, true, 0x10},
        FloatSetterCase{"timeoutForever", &C::setRecoveryTimeout, &C::getRecoveryTimeout, kInf, true, 0x10},
        FloatSetterCase{"timeoutNegative", &C::setRecoveryTimeout, &C::getRecoveryTimeout, -0.5f, false, 0},
        FloatSetterCase{"timeoutNaN", &C::setRecoveryTimeout, &C::getRecoveryTimeout, kNaN, false, 0},
        FloatSetterCase{"minScaleZero", &C::setMinFaceScale, &C::getMinFaceScale, 0.0f, true, 0x40},
        FloatSetterCase{"minScaleOne", &C::setMinFaceScale, &C::getMinFaceScale, 1.0f, true, 0x40},
        FloatSetterCase{"minScaleBelow", &C::setMinFaceScale, &C::getMinFaceScale, -0.01f, false, 0},
        FloatSetterCase{"minScaleNaN", &C::setMinFaceScale, &C::getMinFaceScale, kNaN, false, 0},
        FloatSetterCase{"maxScaleInside", &C::setMaxFaceScale, &C::getMaxFaceScale, 0.6f, true, 0x40},
        FloatSetterCase{"maxScaleAbove", &C::setMaxFaceScale, &C::getMaxFaceScale, 1.01f, false, 0},
        FloatSetterCase{"maxScaleNaN", &C::setMaxFaceScale, &C::getMaxFaceScale, kNaN, false, 0},
        FloatSetterCase{"sensitivityOne", &C::setFaceDetectorSensitivity, &C::getFaceDetectorSensitivity, 1.0f,
                        true, 0x40},
        FloatSetterCase{"sensitivityAbove", &C::setFaceDetectorSensitivity, &C::getFaceDetectorSensitivity, 2.0f,
                        false, 0},
        FloatSetterCase{"sensitivityInfinite", &C::setFaceDetectorSensitivity, &C::getFaceDetectorSensitivity,
                        kInf, false, 0},
        FloatSetterCase{"sensitivityNaN", &C::setFaceDetectorSensitivity, &C::getFaceDetectorSensitivity, kNaN,
                        false, 0}),
    [](const ::testing::TestParamInfo<FloatSetterCase>& info) { return std::string(info.param.label); });

struct UnsignedSetterCase {
    const char* label;
    bool (OrvixConfiguration::*set)(unsigned);
    unsigned (OrvixConfiguration::*get)() const;
    unsigned largest;  // largest accepted value
    unsigned bit;
};

void PrintTo(const UnsignedSetterCase& c, std::ostream* out)
{
    *out << c.label;  // cases may hold megabytes of bytes
}

class OrvixConfigurationUnsignedSetter : public ::testing::TestWithParam<UnsignedSetterCase> {};

TEST_P(OrvixConfigurationUnsignedSetter, AcceptsZeroToItsLargestValue)
{
    const UnsignedSetterCase& c = GetParam();
    OrvixConfiguration config;
    config.getChanges();
    for (unsigned value = 0; value <= c.largest; ++value) {
        EXPECT_TRUE((config.*c.set)(value)) << value;
        EXPECT_EQ((config.*c.get)(), value);
        EXPECT_EQ(config.getChanges(), c.bit);
    }
    for (unsigned refused : {c.largest + 1, 100u, ~0u}) {
        EXPECT_FALSE((config.*c.set)(refused)) << refused;
        EXPECT_EQ((config.*c.get)(), c.largest);
        EXPECT_EQ(config.getChanges(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Setters, OrvixConfigurationUnsignedSetter,
    ::testing::Values(
        UnsignedSetterCase{"refineLandmarks", &C::setRefineLandmarks, &C::getRefineLandmarks, 1, 0x80},
        UnsignedSetterCase{"refineEars", &C::setRefineEars, &C::getRefineEars, 1, 0x2},
        UnsignedSetterCase{"processEyes", &C::setProcessEyes, &C::getProcessEyes, 3, 0x4},
        UnsignedSetterCase{"enableSmoothing", &C::setEnableSmoothing, &C::getEnableSmoothing, 1, 0x2000},
        UnsignedSetterCase{"denoise", &C::setTemporallyDenoiseInput, &C::getTemporallyDenoiseInput, 1, 0x4000}),
    [](const ::testing::TestParamInfo<UnsignedSetterCase>& info) { return std::string(info.param.label); });

struct AlgorithmCase {
    const char* value;
    bool accepted;
    const char* stored;  // after the call; the algorithm starts at its default
};

TEST(OrvixConfigurationSetters, FittingAlgorithmAcceptsOnlyKnownNames)
{
    const AlgorithmCase cases[] = {
        {"none", true, ""},
        {"", true, ""},
        {"eif_pose_su_au", true, "eif_pose_su_au"},
        {"EIF_POSE_SU_AU", false, "eif_pose_su_au"},
        {"none ", false, "eif_pose_su_au"},
        {"eif_pose_su_au_standalone", false, "eif_pose_su_au"},
    };
    for (const AlgorithmCase& c : cases) {
        OrvixConfiguration config;
        config.getChanges();
        EXPECT_EQ(config.setFittingAlgorithm(c.value), c.accepted) << '"' << c.value << '"';
        EXPECT_EQ(config.getFittingAlgorithm(), c.stored) << '"' << c.value << '"';
        EXPECT_EQ(config.getChanges(), c.accepted ? 0x8000u : 0u) << '"' << c.value << '"';
    }
}

struct PathSetterCase {
    const char* label;
    bool (OrvixConfiguration::*set)(std::string);
    std::string (OrvixConfiguration::*get)() const;
    unsigned bit;
};

void PrintTo(const PathSetterCase& c, std::ostream* out)
{
    *out << c.label;  // cases may hold megabytes of bytes
}

class OrvixConfigurationPathSetter : public ::testing::TestWithParam<PathSetterCase> {};

TEST_P(OrvixConfigurationPathSetter, StoresTheFolderBehindTheConfigurationFolder)
{
    const PathSetterCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.write("tracker.cfg", "camera_focus 1\n");
    OrvixConfiguration config(path.c_str());
    config.getChanges();

    EXPECT_FALSE((config.*c.set)(""));
    EXPECT_EQ((config.*c.get)(), dir.path());
    EXPECT_EQ(config.getChanges(), 0u);

    EXPECT_TRUE((config.*c.set)("models/x"));
    EXPECT_EQ((config.*c.get)(), dir.path() + "models/x");
    EXPECT_EQ(config.getChanges(), c.bit);
}

INSTANTIATE_TEST_SUITE_P(
    Setters, OrvixConfigurationPathSetter,
    ::testing::Values(PathSetterCase{"ofd", &C::setOfdDataPath, &C::getOfdDataPath, 0x100},
                      PathSetterCase{"oft", &C::setOftDataPath, &C::getOftDataPath, 0x200},
                      PathSetterCase{"er", &C::setErDataPath, &C::getErDataPath, 0x400},
                      PathSetterCase{"pr", &C::setPrDataPath, &C::getPrDataPath, 0x800}),
    [](const ::testing::TestParamInfo<PathSetterCase>& info) { return std::string(info.param.label); });

TEST(OrvixConfigurationSetters, SmoothingFactorsNeedEightNumbersAndExistingFactors)
{
    const float eight[8] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f};

    OrvixConfiguration withoutFile;
    withoutFile.getChanges();
    EXPECT_FALSE(withoutFile.setSmoothingFactors(OxCfgArr<float>(eight, 8)));
    EXPECT_EQ(withoutFile.getSmoothingFactors().size, 0);
    EXPECT_EQ(withoutFile.getChanges(), 0u);

    TempDir dir;
    const std::string path = dir.write("tracker.cfg", "smoothing_factors 1 1 1 1 1 1 1 1");
    OrvixConfiguration config(path.c_str());
    config.getChanges();
    float withNaN[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    withNaN[7] = kNaN;
    for (const OxCfgArr<float>& refused :
         {OxCfgArr<float>(eight, 7), OxCfgArr<float>(9), OxCfgArr<float>(), OxCfgArr<float>(withNaN, 8)}) {
        EXPECT_FALSE(config.setSmoothingFactors(refused)) << refused.size;
        EXPECT_EQ(factorsOf(config), std::vector<float>(8, 1.0f));
        EXPECT_EQ(config.getChanges(), 0u);
    }

    EXPECT_TRUE(config.setSmoothingFactors(OxCfgArr<float>(eight, 8)));
    EXPECT_EQ(factorsOf(config), std::vector<float>(eight, eight + 8));
    EXPECT_EQ(config.getChanges(), 0x20u);
}

// ---------------------------------------------------------------------------
// Fitting-model configurations and model switches

TEST(OrvixConfigurationModels, SetterLoadsTheFileOrChangesNothing)
{
    TempDir dir;
    writeModelFiles(dir);
    const std::string path = dir.write("tracker.cfg", "camera_focus 1\n");
    OrvixConfiguration config(path.c_str());
    config.getChanges();

    EXPECT_TRUE(config.setPoseFittingModelConfiguration("pose.cfg"));
    EXPECT_EQ(config.getPoseFittingModelConfiguration(), dir.path() + "pose.cfg");
    ASSERT_NE(config.getPoseModelConfiguration(), nullptr);
    EXPECT_EQ(config.getPoseModelConfiguration()->getAuCount(), 3);
    EXPECT_EQ(config.getModelConfiguration(1), config.getPoseModelConfiguration());
    EXPECT_EQ(config.getChanges(), 0x1u);

    const ModelConfiguration* loaded = config.getPoseModelConfiguration();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(config.setPoseFittingModelConfiguration("missing.cfg"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error opening file missing.cfg.\n");
    EXPECT_EQ(config.getPoseFittingModelConfiguration(), dir.path() + "pose.cfg");
    EXPECT_EQ(config.getPoseModelConfiguration(), loaded);
    EXPECT_EQ(config.getChanges(), 0u);

    EXPECT_TRUE(config.setPoseFittingModelConfiguration("none"));
    EXPECT_EQ(config.getPoseFittingModelConfiguration(), "");
    EXPECT_EQ(config.getPoseModelConfiguration(), nullptr);
    EXPECT_EQ(config.getChanges(), 0x1u);

    EXPECT_TRUE(config.setAuFittingModelConfiguration("au.cfg"));
    EXPECT_TRUE(config.setMeshFittingModelConfiguration("pose.cfg"));
    ASSERT_NE(config.getModelConfiguration(2), nullptr);
    ASSERT_NE(config.getModelConfiguration(3), nullptr);
    EXPECT_EQ(config.getModelConfiguration(2)->getAuUse()[0], 0);
    EXPECT_EQ(config.getModelConfiguration(3)->getAuUse()[0], 1);
    EXPECT_TRUE(config.setAuFittingModelConfiguration(""));
    EXPECT_EQ(config.getModelConfiguration(2), nullptr);
    EXPECT_EQ(config.getModelConfiguration(0), nullptr);
    EXPECT_EQ(config.getModelConfiguration(4), nullptr);
}

TEST(OrvixConfigurationModels, FileLoadsNamedModelsAndKeepsTheWordOfOneThatFails)
{
    TempDir dir;
    writeModelFiles(dir);
    const std::string path = dir.write("tracker.cfg",
                                       "pose_fitting_model_configuration pose.cfg\n"
                                       "au_fitting_model_configuration missing.cfg\n"
                                       "mesh_fitting_model_configuration none\n");
    testing::internal::CaptureStdout();
    OrvixConfiguration config(path.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error opening file missing.cfg.\n");

    EXPECT_EQ(config.getPoseFittingModelConfiguration(), dir.path() + "pose.cfg");
    ASSERT_NE(config.getPoseModelConfiguration(), nullptr);
    EXPECT_EQ(config.getPoseModelConfiguration()->getFolder(), dir.path());
    EXPECT_EQ(config.getAuFittingModelConfiguration(), "missing.cfg");
    EXPECT_EQ(config.getAuModelConfiguration(), nullptr);
    EXPECT_EQ(config.getMeshFittingModelConfiguration(), "");
    EXPECT_EQ(config.getMeshModelConfiguration(), nullptr);
    EXPECT_EQ(config.getChanges(), kAll);
}

TEST(OrvixConfigurationModels, SwitchesRaiseTheirBitOnlyOnAChange)
{
    typedef void (OrvixConfiguration::*Switch)();
    struct SwitchCase {
        Switch disable;
        Switch enable;
        bool (OrvixConfiguration::*isDisabled)() const;
    };
    const SwitchCase cases[] = {
        {&C::disableAuModel, &C::enableAuModel, &C::isAuModelDisabled},
        {&C::disableMeshModel, &C::enableMeshModel, &C::isMeshModelDisabled},
    };
    for (const SwitchCase& c : cases) {
        OrvixConfiguration config;
        config.getChanges();
        (config.*c.enable)();
        EXPECT_EQ(config.getChanges(), 0u);

        (config.*c.disable)();
        (config.*c.disable)();
        EXPECT_TRUE((config.*c.isDisabled)());
        EXPECT_EQ(config.getChanges(), 0x1u);
        EXPECT_EQ(config.getChanges(), 0u);

        (config.*c.enable)();
        (config.*c.enable)();
        EXPECT_FALSE((config.*c.isDisabled)());
        EXPECT_EQ(config.getChanges(), 0x1u);
    }
}

TEST(OrvixConfigurationModels, ReadingAFileSwitchesBothModelsOnAgain)
{
    TempDir dir;
    const std::string path = dir.write("tracker.cfg", "camera_focus 1\n");
    OrvixConfiguration config;
    config.disableAuModel();
    config.disableMeshModel();
    config.setConfigurationFile(path.c_str());
    EXPECT_FALSE(config.isAuModelDisabled());
    EXPECT_FALSE(config.isMeshModelDisabled());
}

TEST(OrvixConfigurationChanges, BitsAccumulateUntilTaken)
{
    OrvixConfiguration config;
    config.getChanges();
    config.setCameraFocus(1.0f);
    config.setRefineEars(1);
    config.setFittingAlgorithm("none");
    config.disableMeshModel();
    EXPECT_EQ(config.getChanges(), 0x8u | 0x2u | 0x8000u | 0x1u);
    EXPECT_EQ(config.getChanges(), 0u);
    config.changes = 0x40;
    EXPECT_EQ(config.getChanges(), 0x40u);
}

// ---------------------------------------------------------------------------
// Copying

void expectSameSettings(const OrvixConfiguration& a, const OrvixConfiguration& b)
{
    EXPECT_EQ(a.changes, b.changes);
    EXPECT_EQ(a.getCameraFocus(), b.getCameraFocus());
    EXPECT_EQ(a.getRecoveryTimeout(), b.getRecoveryTimeout());
    EXPECT_EQ(factorsOf(a), factorsOf(b));
    EXPECT_EQ(a.getEnableSmoothing(), b.getEnableSmoothing());
    EXPECT_EQ(a.getOftDataPath(), b.getOftDataPath());
    EXPECT_EQ(a.getOfdDataPath(), b.getOfdDataPath());
    EXPECT_EQ(a.getPrDataPath(), b.getPrDataPath());
    EXPECT_EQ(a.getErDataPath(), b.getErDataPath());
    EXPECT_EQ(a.getProcessEyes(), b.getProcessEyes());
    EXPECT_EQ(a.getMinFaceScale(), b.getMinFaceScale());
    EXPECT_EQ(a.getFittingAlgorithm(), b.getFittingAlgorithm());
    EXPECT_EQ(a.getPoseFittingModelConfiguration(), b.getPoseFittingModelConfiguration());
    EXPECT_EQ(a.getAuFittingModelConfiguration(), b.getAuFittingModelConfiguration());
    EXPECT_EQ(a.isAuModelDisabled(), b.isAuModelDisabled());
    EXPECT_EQ(a.isMeshModelDisabled(), b.isMeshModelDisabled());
    EXPECT_EQ(a.getLogFileName(), b.getLogFileName());
    EXPECT_EQ(a.getConfigDir(), b.getConfigDir());
    EXPECT_EQ(a.getPoseModelConfiguration() != nullptr, b.getPoseModelConfiguration() != nullptr);
    EXPECT_EQ(a.getAuModelConfiguration() != nullptr, b.getAuModelConfiguration() != nullptr);
    EXPECT_EQ(a.getMeshModelConfiguration() != nullptr, b.getMeshModelConfiguration() != nullptr);
}

class OrvixConfigurationCopy : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeModelFiles(dir);
        path = dir.write("tracker.cfg",
                         "camera_focus 3\nsmoothing_factors 1 2 3 4 5 6 7 8\nofd_data_path det\n"
                         "pose_fitting_model_configuration pose.cfg\nau_fitting_model_configuration au.cfg\n");
    }

    TempDir dir;
    std::string path;
};

TEST_F(OrvixConfigurationCopy, CopiesAreDeepAndCarryTheChangeFlags)
{
    OrvixConfiguration* source = new OrvixConfiguration(path.c_str());
    source->disableMeshModel();
    source->getChanges();
    source->setRecoveryTimeout(10.0f);

    OrvixConfiguration constructed(*source);
    OrvixConfiguration assigned;
    assigned = *source;
    for (const OrvixConfiguration* copy : {&constructed, &assigned}) {
        expectSameSettings(*copy, *source);
        EXPECT_EQ(copy->changes, 0x10u);
        EXPECT_NE(copy->getSmoothingFactorsMatrix(), source->getSmoothingFactorsMatrix());
        EXPECT_NE(copy->getPoseModelConfiguration(), source->getPoseModelConfiguration());
        EXPECT_NE(copy->getAuModelConfiguration(), source->getAuModelConfiguration());
    }

    // The copies own their objects: they outlive the source and change alone.
    const std::vector<float> factors = factorsOf(*source);
    delete source;
    EXPECT_TRUE(constructed.setSmoothingFactors(OxCfgArr<float>(8)));
    EXPECT_EQ(factorsOf(constructed), std::vector<float>(8, 0.0f));
    EXPECT_EQ(factorsOf(assigned), factors);
    EXPECT_EQ(assigned.getPoseModelConfiguration()->getAuNames()[2], "c");
    EXPECT_EQ(constructed.getAuModelConfiguration()->getAuUse()[1], 1);
}

TEST_F(OrvixConfigurationCopy, SelfAssignmentAndSwapKeepEverything)
{
    OrvixConfiguration config(path.c_str());
    OrvixConfiguration reference(config);
    OrvixConfiguration& alias = config;
    config = alias;
    expectSameSettings(config, reference);

    OrvixConfiguration empty;
    empty.getChanges();
    OrvixConfiguration::swap(config, empty);
    expectSameSettings(empty, reference);
    EXPECT_EQ(config.changes, 0u);
    EXPECT_EQ(config.getSmoothingFactorsMatrix(), nullptr);
    EXPECT_EQ(config.getPoseModelConfiguration(), nullptr);
    EXPECT_EQ(config.getConfigDir(), "");
}

}  // namespace
