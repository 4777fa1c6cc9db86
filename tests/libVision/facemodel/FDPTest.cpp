#include "OrvixSDK/FDP.h"

#include <cmath>
#include <cstring>
#include <locale>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "TestSupport.h"

using OrvixSDK::FDP;
using OrvixSDK::FeaturePoint;

namespace {

bool samePoint(const FeaturePoint& a, const FeaturePoint& b)
{
    return std::memcmp(a.position, b.position, sizeof(a.position)) == 0 && a.defined == b.defined &&
           a.detected == b.detected && a.quality == b.quality && a.vertexIndex == b.vertexIndex &&
           a.surfaceName == b.surfaceName && a.reserved0 == b.reserved0 && a.reserved1 == b.reserved1;
}

// Compares every point of two sets; reports the first difference.
::testing::AssertionResult samePoints(const FDP& a, const FDP& b)
{
    for (int g = 2; g <= 17; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            if (!samePoint(a.getFP(g, i), b.getFP(g, i)))
                return ::testing::AssertionFailure() << "point " << g << "." << i << " differs";
        }
    }
    return ::testing::AssertionSuccess();
}

int definedCount(const FDP& set)
{
    int count = 0;
    for (int g = 2; g <= 17; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i)
            count += set.FPIsDefined(g, i) ? 1 : 0;
    }
    return count;
}

// A set with every field of a few points changed from its default.
FDP makeFilledSet()
{
    FDP set;
    set.setFPPos(3, 5, 0.25f, 0.5f, -1.0f);
    set.setFPQuality(3, 5, 0.75f);
    set.setFPSurfVert(3, 5, "2", 117);
    set.getFP(3, 5).detected = 1;
    set.getFP(3, 5).reserved0 = 7;
    set.getFP(3, 5).reserved1 = 8;
    set.setFPPos(17, 20, 1.0f, 2.0f, 3.0f);
    set.setFPPos(2, 1, -0.5f, 0.125f, 4.0f);
    return set;
}

// Builds a path of exactly `length` characters inside dir (dir must be
// shorter than length - 1).
std::string pathOfLength(const OrvixTest::TempDir& dir, std::size_t length)
{
    const std::string& base = dir.path();
    return base + std::string(length - base.size(), 'p');
}

bool fileExists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction, tables and names

TEST(FDPTest, NewSetHasDefaultPointsAndFlags)
{
    const FDP set;
    const FeaturePoint defaults;
    EXPECT_TRUE(set.isInitialized());
    EXPECT_FALSE(set.isNormalized());
    EXPECT_STREQ("", set.getFileName());
    EXPECT_EQ(0, definedCount(set));
    for (int g = 2; g <= 17; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i)
            ASSERT_TRUE(samePoint(defaults, set.getFP(g, i))) << g << "." << i;
    }
    EXPECT_EQ(-1.0f, defaults.quality);
    EXPECT_EQ(-1, defaults.vertexIndex);
}

TEST(FDPTest, GroupSizesAndValidity)
{
    const int sizes[18] = {0, 0, 14, 14, 6, 4, 4, 1, 10, 15, 24, 6, 47, 17, 26, 17, 28, 20};
    int total = 0;
    for (int g = -1; g <= 19; ++g) {
        const int expected = (g >= 0 && g < 18) ? sizes[g] : 0;
        EXPECT_EQ(expected, FDP::groupSize(g)) << g;
        total += FDP::groupSize(g);
        EXPECT_FALSE(FDP::FPIsValid(g, 0));
        EXPECT_FALSE(FDP::FPIsValid(g, expected + 1));
        if (expected > 0) {
            EXPECT_TRUE(FDP::FPIsValid(g, 1));
            EXPECT_TRUE(FDP::FPIsValid(g, expected));
        }
    }
    EXPECT_EQ(253, total);
}

TEST(FDPTest, ParseFPNameCases)
{
    struct Case
    {
        const char* name;
        bool parsed;
        int group;
        int index;
        bool valid;
    };
    const Case cases[] = {
        {"3.5", true, 3, 5, true},
        {" 3.5", true, 3, 5, true},
        {"17.20", true, 17, 20, true},
        {"3.5.1", true, 3, 5, true},   // index part stops at the second '.'
        {"3.15", true, 3, 15, false},
        {"-2.1", true, -2, 1, false},
        {"0.1", true, 0, 1, false},
        {"35", false, 0, 0, false},    // no '.'
        {"", false, 0, 0, false},
        {".", false, 0, 0, false},
        {"abc.1", false, 0, 1, false},
        {"3.x", false, 3, 0, false},
        {"99999999999.1", false, 0, 1, false},  // does not fit in an int
        {"3.99999999999", false, 3, 0, false},
    };
    for (const Case& c : cases) {
        int group = 123;
        int index = 456;
        EXPECT_EQ(c.parsed, FDP::parseFPName(c.name, group, index)) << c.name;
        EXPECT_EQ(c.group, group) << c.name;
        EXPECT_EQ(c.index, index) << c.name;
        EXPECT_EQ(c.valid, FDP::FPIsValid(std::string(c.name))) << c.name;
    }
}

TEST(FDPTest, EveryPointNameRoundTrips)
{
    EXPECT_EQ("3.5", FDP::getFPName(3, 5));
    EXPECT_EQ("-2.10", FDP::getFPName(-2, 10));
    for (int g = 2; g <= 17; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            int group = 0;
            int index = 0;
            ASSERT_TRUE(FDP::parseFPName(FDP::getFPName(g, i), group, index));
            EXPECT_EQ(g, group);
            EXPECT_EQ(i, index);
        }
    }
}

// ---------------------------------------------------------------------------
// Accessors

TEST(FDPTest, PositionQualityAndLinkAccessors)
{
    FDP set;
    const float xyz[3] = {0.1f, 0.2f, 0.3f};
    set.setFPPos(3, 5, xyz);
    EXPECT_TRUE(set.FPIsDefined(3, 5));
    EXPECT_FALSE(set.FPIsDetected(3, 5));
    EXPECT_EQ(0.2f, set.getFPPos(3, 5)[1]);

    set.setFPPos("3.6", 1.0f, 2.0f, 3.0f);
    EXPECT_TRUE(set.FPIsDefined(std::string("3.6")));
    EXPECT_EQ(3.0f, set.getFPPos(std::string("3.6"))[2]);

    set.setFPQuality("9.3", 0.5f);
    EXPECT_EQ(0.5f, set.getFPQuality(9, 3));
    EXPECT_FALSE(set.FPIsDefined(9, 3));   // quality alone does not define

    // Link getter: undefined point leaves the outputs alone.
    std::string surface = "untouched";
    int vertex = 99;
    EXPECT_FALSE(set.getFPSurfVert(2, 1, surface, vertex));
    EXPECT_EQ("untouched", surface);
    EXPECT_EQ(99, vertex);

    // Defined without link: outputs copied, result false.
    EXPECT_FALSE(set.getFPSurfVert(3, 5, surface, vertex));
    EXPECT_EQ("", surface);
    EXPECT_EQ(-1, vertex);

    set.setFPSurfVert("2.1", "1", 42);
    EXPECT_TRUE(set.FPIsDefined(2, 1));
    EXPECT_TRUE(set.getFPSurfVert("2.1", surface, vertex));
    EXPECT_EQ("1", surface);
    EXPECT_EQ(42, vertex);

    // setFP copies the whole record, flags included.
    FeaturePoint point;
    point.detected = 1;
    point.defined = 0;
    point.quality = 0.9f;
    point.reserved1 = 5;
    set.setFP(3, 5, point);
    EXPECT_TRUE(samePoint(point, set.getFP(3, 5)));
    EXPECT_TRUE(set.FPIsDetected("3.5"));
    EXPECT_FALSE(set.FPIsDefined("3.5"));
}

// Name forms given a name that is not a valid point neither read nor write
// outside the tables: setters change nothing, getters give neutral values.
TEST(FDPTest, NameFormsIgnoreInvalidNames)
{
    const char* names[] = {"35", "", ".", "0.1", "1.1", "18.1", "3.15", "3.0", "-2.1", "99999999999.1",
                           "abc", "7.2", "2.-1"};
    FDP set = makeFilledSet();
    const FDP before = set;
    const FeaturePoint defaults;
    const float xyz[3] = {9.0f, 9.0f, 9.0f};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const std::string text(name);
        set.setFPPos(name, xyz);
        set.setFPPos(text, xyz);
        set.setFPPos(name, 1.0f, 2.0f, 3.0f);
        set.setFPPos(text, 1.0f, 2.0f, 3.0f);
        set.setFPQuality(name, 0.5f);
        set.setFPQuality(text, 0.5f);
        set.setFPSurfVert(name, "3", 3);
        set.setFPSurfVert(text, "3", 3);
        FeaturePoint point;
        point.defined = 1;
        set.setFP(name, point);
        set.setFP(text, point);

        EXPECT_TRUE(samePoint(defaults, set.getFP(name)));
        EXPECT_TRUE(samePoint(defaults, set.getFP(text)));
        EXPECT_FALSE(set.FPIsDefined(name));
        EXPECT_FALSE(set.FPIsDetected(text));
        EXPECT_EQ(-1.0f, set.getFPQuality(name));
        const float* position = set.getFPPos(text);
        ASSERT_NE(nullptr, position);
        EXPECT_EQ(0.0f, position[0]);
        std::string surface = "keep";
        int vertex = 5;
        EXPECT_FALSE(set.getFPSurfVert(name, surface, vertex));
        EXPECT_EQ("keep", surface);
        EXPECT_EQ(5, vertex);
    }
    EXPECT_TRUE(samePoints(before, set));
    const char* nullName = nullptr;
    set.setFPPos(nullName, 1.0f, 1.0f, 1.0f);
    EXPECT_FALSE(set.FPIsDefined(nullName));
    EXPECT_TRUE(samePoints(before, set));
}

TEST(FDPTest, ResetClearsPointsButKeepsQualityAndFileName)
{
    OrvixTest::TempDir dir;
    FDP set = makeFilledSet();
    ASSERT_TRUE(set.saveToFile((dir.path() + "a.fdp").c_str()));
    set.reset();
    EXPECT_EQ(0, definedCount(set));
    const FeaturePoint& point = set.getFP(3, 5);
    EXPECT_EQ(0.75f, point.quality);
    EXPECT_EQ(0, point.detected);
    EXPECT_EQ(0, point.reserved0);
    EXPECT_EQ(0, point.reserved1);
    EXPECT_EQ(-1, point.vertexIndex);
    EXPECT_EQ("", point.surfaceName);
    EXPECT_EQ(0.0f, point.position[0]);
    EXPECT_FALSE(set.isNormalized());
    EXPECT_TRUE(set.isInitialized());
    EXPECT_EQ(dir.path() + "a.fdp", set.getFileName());
}

TEST(FDPTest, CopyAndAssignmentAreDeep)
{
    OrvixTest::TempDir dir;
    FDP original = makeFilledSet();
    ASSERT_TRUE(original.saveToFile((dir.path() + "orig.fdp").c_str()));

    FDP copy(original);
    EXPECT_TRUE(samePoints(original, copy));
    EXPECT_STREQ(original.getFileName(), copy.getFileName());

    FDP assigned;
    assigned.setFPPos(5, 1, 1.0f, 1.0f, 1.0f);
    assigned = original;
    EXPECT_TRUE(samePoints(original, assigned));
    EXPECT_STREQ(original.getFileName(), assigned.getFileName());

    // Changing a copy leaves the original alone.
    copy.setFPPos(3, 5, 9.0f, 9.0f, 9.0f);
    copy.getFP(3, 5).surfaceName = "other";
    EXPECT_EQ(0.25f, original.getFPPos(3, 5)[0]);
    EXPECT_EQ("2", original.getFP(3, 5).surfaceName);

    // The initialized flag travels with copies.
    FDP notInitialized((dir.path() + "missing.fdp").c_str());
    ASSERT_FALSE(notInitialized.isInitialized());
    EXPECT_FALSE(FDP(notInitialized).isInitialized());
    assigned = notInitialized;
    EXPECT_FALSE(assigned.isInitialized());

    FDP& alias = original;
    const FDP snapshot = original;
    original = alias;
    EXPECT_TRUE(samePoints(snapshot, original));
}

// ---------------------------------------------------------------------------
// Point sides and mirror points

TEST(FDPTest, PointTypesFollowTheSideTable)
{
    // Expected class of every point, group by group, index 1 first.
    const std::vector<std::vector<int>> classes = {
        {},
        {},
        {2, 2, 2, 1, 3, 1, 3, 1, 3, -1, -1, -1, -1, -1},
        {1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3},
        {1, 3, 1, 3, 1, 3},
        {-1, -1, -1, -1},
        {-1, -1, -1, -1},
        {-1},
        {2, 2, 1, 3, 1, 3, 1, 3, 3, 1},
        {1, 3, 2, 3, 1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2},
        {1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3},
        {-1, -1, -1, -1, -1, -1},
        {-1, -1, -1, -1, 1, 3, 1, 3, 1, 3, 1, 3, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
         -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
        {1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 2},
        {1, 3, 1, 3, 1, 3, 1, 3, 3, 1, 1, 3, 3, 1, 3, 1, 3, 1, 3, 1, 2, 2, 2, 2, 2, -1},
        {1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 2},
        {1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3},
        {-1, -1, -1, -1, 1, 3, 1, 3, 3, 1, 1, 3, 3, 1, 3, 1, 3, 1, 3, 1},
    };
    for (int g = 2; g <= 17; ++g) {
        ASSERT_EQ(static_cast<std::size_t>(FDP::groupSize(g)), classes[g].size()) << g;
        for (int i = 1; i <= FDP::groupSize(g); ++i)
            EXPECT_EQ(classes[g][i - 1], FDP::getPointType(g, i)) << g << "." << i;
    }
    EXPECT_EQ(-1, FDP::getPointType(1, 1));
    EXPECT_EQ(-1, FDP::getPointType(3, 15));
    EXPECT_EQ(-1, FDP::getPointType(18, 1));
}

TEST(FDPTest, MirrorPointsAreConsistentWithSides)
{
    for (int g = 2; g <= 17; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            SCOPED_TRACE(FDP::getFPName(g, i));
            const int type = FDP::getPointType(g, i);
            const int mirror = FDP::getMirrorPointIndex(g, i);
            switch (type) {
            case 2:
                EXPECT_EQ(i, mirror);
                break;
            case -1:
                EXPECT_EQ(-1, mirror);
                break;
            case 1:
            case 3:
                ASSERT_TRUE(FDP::FPIsValid(g, mirror));
                EXPECT_EQ(4 - type, FDP::getPointType(g, mirror));
                EXPECT_EQ(i, FDP::getMirrorPointIndex(g, mirror));
                break;
            default:
                ADD_FAILURE() << "unknown class " << type;
            }
        }
    }

    struct Case
    {
        int group, index, mirror;
    };
    const Case cases[] = {
        {3, 7, 12}, {3, 8, 11}, {3, 9, 10}, {3, 13, 14}, {16, 9, 22}, {16, 1, 6},  {16, 2, 5},
        {16, 26, 27}, {16, 13, 18}, {2, 1, 1}, {2, 4, 5},  {5, 1, -1},  {2, 10, -1}, {8, 9, 10},
        {8, 10, 9}, {9, 5, 4},   {9, 1, 2},  {12, 5, 10}, {12, 6, 9}, {12, 13, -1}, {14, 9, 10},
        {14, 20, 19}, {14, 23, 23}, {14, 26, -1}, {17, 5, 6}, {17, 9, 10}, {17, 1, -1}, {13, 17, 17},
        {10, 23, 24}, {0, 1, -1},  {3, 0, -1}, {3, 15, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.mirror, FDP::getMirrorPointIndex(c.group, c.index)) << c.group << "." << c.index;
}

// ---------------------------------------------------------------------------
// Reading .fdp files

namespace {

struct ReadCase
{
    const char* label;
    std::string content;
    int result;
    // Points expected defined afterwards, with x and link ("" = none expected).
    std::vector<const char*> definedPoints;
};

std::vector<ReadCase> readCases()
{
    const std::string v = "# FDP file.\n1.0 somewhere.fdp 0 0 0 0 0 0\n";
    const char zeroLine[] = "3.5 0.1\0 0.2 0.3 2.1\n";
    const std::string withZero(zeroLine, sizeof(zeroLine) - 1);
    return {
        {"empty file", "", 1, {}},
        {"comments only", "# one\n#two\n\n", 1, {}},
        {"version only", v, 1, {}},
        {"wrong version", "# c\n2.0 x\n    3.5 0.1 0.2 0.3 2.117\n", 0, {}},
        {"version as substring", "v11.0\n    3.5 0.1 0.2 0.3 2.117\n", 1, {"3.5"}},
        {"one-character lines before the version", "x\n\n1\n1.0\n    3.5 0.1 0.2 0.3 2.1\n", 1, {"3.5"}},
        {"linked point", v + "    3.5 0.1 0.2 0.3 2.117\n", 1, {"3.5"}},
        {"cleared link counts as linked", v + "    3.5 0.1 0.2 0.3 -1.0\n", 1, {"3.5"}},
        {"point without link", v + "    3.5 0.1 0.2 0.3 \n", -1, {"3.5"}},
        {"unreadable link", v + "    3.5 0.1 0.2 0.3 a.b\n", -1, {"3.5"}},
        {"link without vertex", v + "    3.5 0.1 0.2 0.3 2.\n", -1, {"3.5"}},
        {"all coordinates below -9999", v + "    3.5 -10000 -10000 -10000 2.1\n", 1, {}},
        {"two coordinates below -9999", v + "    3.5 0.1 -10000 -10000 2.1\n", 1, {"3.5"}},
        {"hash after the numbers", v + "    3.5 0.1 0.2 0.3 2.1 # note\n", 1, {}},
        {"word line", v + "abc 0.1 0.2 0.3\n", 1, {}},
        {"blank line", v + "    \t \n", 1, {}},
        {"CRLF line ends", "1.0 x\r\n\r\n    3.5 0.1 0.2 0.3 2.117\r\n", 1, {"3.5"}},
        {"any separator", v + "3,5 0.1 0.2 0.3 2.117\n", 1, {"3.5"}},
        {"link needs a dot", v + "3.5 0.1 0.2 0.3 2,117\n", -1, {"3.5"}},
        {"number forms", v + "3.5 +0.1 -1e-2 .25 2.117\n", 1, {"3.5"}},
        {"several points", v + "3.5 0.1 0 0 2.1\n 17.20 0.1 0 0 2.2\n2.14 0.1 0 0 2.3\n", 1,
         {"3.5", "17.20", "2.14"}},
        // Point lines that name no valid point or hold unreadable numbers.
        {"group 0", v + "0.1 0.1 0.2 0.3 2.1\n", 1, {}},
        {"group 18", v + "18.1 0.1 0.2 0.3 2.1\n", 1, {}},
        {"index past the group", v + "3.15 0.1 0.2 0.3 2.1\n", 1, {}},
        {"index 0", v + "3.0 0.1 0.2 0.3 2.1\n", 1, {}},
        {"negative group", v + "-2.1 0.1 0.2 0.3 2.1\n", 1, {}},
        {"huge group", v + "99999999999.1 0.1 0.2 0.3 2.1\n", 1, {}},
        {"word after blanks", v + "    word 0.1 0.2 0.3\n", 1, {}},
        {"unreadable numbers", v + "3.5 x y z 2.1\n", 1, {}},
        {"too few numbers", v + "3.5 0.1 0.2\n", 1, {}},
        {"number out of range", v + "3.5 1e99 0 0 2.1\n", 1, {}},
        {"name only", v + "3.5\n", 1, {}},
        {"group only", v + "3\n", 1, {}},
        {"truncated last line", v + "    3.5 0.1 0.2 0.3 2.117\n    3.6 0.4 0", 1, {"3.5"}},
        {"truncated link", v + "    3.5 0.1 0.2 0.3 2", -1, {"3.5"}},
        {"embedded zero bytes", v + withZero + "3.6 0.1 0.2 0.3 2.1\n", 1, {"3.6"}},
        {"long version line", std::string(100000, 'x') + "1.0\n3.5 0.1 0.2 0.3 2.1\n", 1, {"3.5"}},
        {"long blank prefix", v + std::string(100000, ' ') + "3.5 0.1 0.2 0.3 2.1\n", 1, {"3.5"}},
        {"long digit run", v + "3.5 " + std::string(100000, '1') + " 0 0 2.1\n", 1, {}},
        {"long link", v + "3.5 0.1 0.2 0.3 2." + std::string(100000, '9') + "\n", -1, {"3.5"}},
    };
}

}  // namespace

TEST(FDPTest, ReaderCaseTable)
{
    OrvixTest::TempDir dir;
    int fileNumber = 0;
    for (const ReadCase& c : readCases()) {
        SCOPED_TRACE(c.label);
        const std::string path = dir.write("case" + std::to_string(fileNumber++) + ".fdp", c.content);
        FDP set;
        testing::internal::CaptureStdout();
        const int result = set.readFromFile(path.c_str());
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(static_cast<int>(c.definedPoints.size()), definedCount(set));
        for (const char* name : c.definedPoints) {
            EXPECT_TRUE(set.FPIsDefined(name)) << name;
            EXPECT_NEAR(0.1f, set.getFPPos(name)[0], 1e-6f) << name;
        }
        // A wrong version leaves fileName alone; every read file is recorded.
        EXPECT_EQ(result == 0 ? std::string() : path, set.getFileName());
    }
}

TEST(FDPTest, ReaderSetsValuesAndLinks)
{
    OrvixTest::TempDir dir;
    const std::string path = dir.write("links.fdp",
                                       "# c\n1.0 x\n"
                                       "    3.5 0.1 0.2 0.3 2.117\n"
                                       "    3.6 -10000 -10000 0 -1.0\n"
                                       "3.7 +0.5 -1e-2 .25 0.0\n"
                                       "3.8 1 2 3\n");
    FDP set;
    set.setFPSurfVert(3, 6, "5", 5);
    set.setFPSurfVert(3, 8, "4", 44);
    set.setFPPos(4, 1, 0.5f, 0.5f, 0.5f);   // not named in the file: kept
    EXPECT_EQ(-1, set.readFromFile(path.c_str()));

    std::string surface;
    int vertex = 0;
    EXPECT_TRUE(set.getFPSurfVert(3, 5, surface, vertex));
    EXPECT_EQ("2", surface);
    EXPECT_EQ(117, vertex);
    EXPECT_EQ(0.3f, set.getFPPos(3, 5)[2]);

    EXPECT_FALSE(set.getFPSurfVert(3, 6, surface, vertex));
    EXPECT_EQ("", surface);
    EXPECT_EQ(-1, vertex);
    EXPECT_EQ(-10000.0f, set.getFPPos(3, 6)[0]);

    EXPECT_TRUE(set.getFPSurfVert(3, 7, surface, vertex));
    EXPECT_EQ("0", surface);
    EXPECT_EQ(0, vertex);
    EXPECT_EQ(0.5f, set.getFPPos(3, 7)[0]);
    EXPECT_EQ(-0.01f, set.getFPPos(3, 7)[1]);
    EXPECT_EQ(0.25f, set.getFPPos(3, 7)[2]);

    // A line without link keeps the link the point had.
    EXPECT_TRUE(set.getFPSurfVert(3, 8, surface, vertex));
    EXPECT_EQ("4", surface);
    EXPECT_EQ(44, vertex);
    EXPECT_EQ(2.0f, set.getFPPos(3, 8)[1]);

    EXPECT_TRUE(set.FPIsDefined(4, 1));
    EXPECT_EQ(0.5f, set.getFPPos(4, 1)[0]);
}

TEST(FDPTest, ReaderSurvivesBinaryInput)
{
    OrvixTest::TempDir dir;
    unsigned state = 12345u;
    for (int round = 0; round < 20; ++round) {
        std::string content = round % 2 == 0 ? "1.0\n" : "";
        for (int k = 0; k < 4000; ++k) {
            state = state * 1103515245u + 12345u;
            content.push_back(static_cast<char>((state >> 16) & 0xff));
        }
        const std::string path = dir.write("bin.fdp", content);
        FDP set;
        testing::internal::CaptureStdout();
        const int result = set.readFromFile(path.c_str());
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(result == 0 || result == 1 || result == -1) << result;
    }
}

TEST(FDPTest, UnreadablePathsFail)
{
    OrvixTest::TempDir dir;
    FDP set;
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, set.readFromFile((dir.path() + "missing.fdp").c_str()));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("FDP::readFromFile: Could not open the FDP file " + dir.path() +
                  "missing.fdp! (file missing?)\n",
              out);

    testing::internal::CaptureStdout();
    EXPECT_EQ(0, set.readFromFile(dir.path().c_str()));   // a folder
    EXPECT_EQ(0, set.readFromFile(nullptr));
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ("", set.getFileName());

    testing::internal::CaptureStdout();
    const FDP fromMissing((dir.path() + "missing.fdp").c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(fromMissing.isInitialized());

    const std::string wrong = dir.write("wrong.fdp", "2.0\n");
    testing::internal::CaptureStdout();
    const FDP fromWrong(wrong.c_str());
    out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(fromWrong.isInitialized());
    EXPECT_EQ("Error 072\nFDP file format error: wrong version!\n", out);
}

TEST(FDPTest, ConstructorInitialisesOnlyOnCompleteLinks)
{
    OrvixTest::TempDir dir;
    EXPECT_TRUE(FDP(dir.write("a.fdp", "1.0\n3.5 0 0 0 2.1\n").c_str()).isInitialized());
    EXPECT_TRUE(FDP(dir.write("b.fdp", "").c_str()).isInitialized());
    EXPECT_FALSE(FDP(dir.write("c.fdp", "1.0\n3.5 0 0 0 2.1\n3.6 0 0 0\n").c_str()).isInitialized());
}

// ---------------------------------------------------------------------------
// Writing

TEST(FDPTest, SaveWritesTheFileFormat)
{
    OrvixTest::TempDir dir;
    const std::string path = dir.path() + "out.fdp";
    FDP set;
    set.setFPPos(17, 20, 1.0f, 2.5f, -3.0f);
    set.setFPPos(3, 5, 1.0f / 3.0f, 1234567.0f, 0.0f);
    set.setFPSurfVert(3, 5, "2", 117);
    set.setFPQuality(4, 1, 0.5f);   // not defined: not written
    ASSERT_TRUE(set.saveToFile(path.c_str()));
    EXPECT_EQ(path, set.getFileName());
    EXPECT_EQ("# FDP file.\n"
              "1.0 " + path + " 0 0 0 0 0 0\n"
              "    3.5 0.333333 1.23457e+06 0 \n"
              "    17.20 1 2.5 -3 \n",
              OrvixTest::TempDir::read(path));
}

namespace {

// Decimal comma, to check that files do not depend on the global locale.
struct CommaNumpunct : std::numpunct<char>
{
    char do_decimal_point() const override { return ','; }
};

class GlobalLocaleGuard
{
public:
    explicit GlobalLocaleGuard(const std::locale& locale)
        : previous(std::locale::global(locale))
    {
    }
    ~GlobalLocaleGuard() { std::locale::global(previous); }

private:
    std::locale previous;
};

}  // namespace

TEST(FDPTest, SaveAndReadBackRoundTrips)
{
    OrvixTest::TempDir dir;
    const std::string path = dir.path() + "round.fdp";
    FDP set;
    float value = 0.0f;
    for (int g = 2; g <= 17; g += 3) {
        for (int i = 1; i <= FDP::groupSize(g); i += 2) {
            value += 0.123457f;
            set.setFPPos(g, i, value, -value, value * 100.0f);
        }
    }
    {
        const GlobalLocaleGuard guard(std::locale(std::locale::classic(), new CommaNumpunct));
        ASSERT_TRUE(set.saveToFile(path.c_str()));
    }
    EXPECT_EQ(std::string::npos, OrvixTest::TempDir::read(path).find(','));

    testing::internal::CaptureStdout();
    const FDP back(path.c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(back.isInitialized());   // written lines carry no links
    for (int g = 2; g <= 17; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            SCOPED_TRACE(FDP::getFPName(g, i));
            ASSERT_EQ(set.FPIsDefined(g, i), back.FPIsDefined(g, i));
            for (int k = 0; k < 3; ++k) {
                const float expected = set.getFPPos(g, i)[k];
                EXPECT_NEAR(expected, back.getFPPos(g, i)[k], 1e-5f * (1.0f + std::abs(expected)));
            }
        }
    }
    // A set with no defined points writes no point lines and reads back complete.
    FDP empty;
    ASSERT_TRUE(empty.saveToFile((dir.path() + "empty.fdp").c_str()));
    EXPECT_TRUE(FDP((dir.path() + "empty.fdp").c_str()).isInitialized());
}

TEST(FDPTest, SaveFailuresAreReportedByResultOnly)
{
    OrvixTest::TempDir dir;
    FDP set;
    EXPECT_FALSE(set.saveToFile());   // no file name yet
    testing::internal::CaptureStdout();
    EXPECT_FALSE(set.saveToFile((dir.path() + "no/such/folder.fdp").c_str()));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_FALSE(set.saveToFile(static_cast<const char*>(nullptr)));
}

TEST(FDPTest, CreateNewFileWritesAnEmptySetAndReadsIt)
{
    OrvixTest::TempDir dir;
    const std::string path = dir.path() + "new.fdp";
    FDP set;
    set.setFPPos(3, 5, 0.5f, 0.5f, 0.5f);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(set.createNewFile(path.c_str()));
    EXPECT_EQ("FDP::CreateNewFile: Creating a new fdp file\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ("# FDP file, created by orvix|annotator.\n1.0 " + path + " 0 0 0 0 0 0\n",
              OrvixTest::TempDir::read(path));
    EXPECT_EQ(path, set.getFileName());
    EXPECT_TRUE(set.FPIsDefined(3, 5));   // the reader does not clear the set
}

// fileName holds at most 211 characters.  Longer paths are refused, never
// cut: a cut path would make saveToFile write to another file.
TEST(FDPTest, PathsLongerThanTheFileNameBufferAreRefused)
{
    OrvixTest::TempDir dir;
    ASSERT_LT(dir.path().size(), 150u);
    const std::string fits = pathOfLength(dir, FDP::fileNameSize - 1);
    const std::string tooLong = pathOfLength(dir, FDP::fileNameSize);
    const std::string cut = tooLong.substr(0, FDP::fileNameSize - 1);
    ASSERT_EQ(fits, cut);

    FDP set;
    set.setFPPos(3, 5, 0.5f, 0.5f, 0.5f);
    EXPECT_TRUE(set.saveToFile(fits.c_str()));
    EXPECT_EQ(fits, set.getFileName());
    const std::string written = OrvixTest::TempDir::read(fits);

    set.setFPPos(3, 6, 0.5f, 0.5f, 0.5f);
    EXPECT_FALSE(set.saveToFile(tooLong.c_str()));
    EXPECT_FALSE(fileExists(tooLong));
    EXPECT_EQ(fits, set.getFileName());
    EXPECT_EQ(written, OrvixTest::TempDir::read(fits));   // the shorter file is untouched

    testing::internal::CaptureStdout();
    EXPECT_FALSE(set.createNewFile(tooLong.c_str()));
    EXPECT_FALSE(fileExists(tooLong));

    dir.write(std::string(tooLong.substr(dir.path().size())), "1.0\n3.7 0 0 0 1.1\n");
    ASSERT_TRUE(fileExists(tooLong));
    FDP reader;
    EXPECT_EQ(0, reader.readFromFile(tooLong.c_str()));
    EXPECT_FALSE(reader.FPIsDefined(3, 7));
    EXPECT_STREQ("", reader.getFileName());
    EXPECT_EQ(-1, reader.readFromFile(fits.c_str()));   // written lines carry no links
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(fits, reader.getFileName());
}

TEST(FDPTest, PrintListsDefinedPoints)
{
    FDP set;
    set.setFPPos(3, 5, 0.1f, 0.25f, -1.0f);
    set.setFPPos(17, 1, 1.0f, 2.0f, 3.0f);
    testing::internal::CaptureStdout();
    set.print();
    EXPECT_EQ("defined FDP:\nfdp: 3.5 0.100 0.250 -1.000\nfdp: 17.1 1.000 2.000 3.000\n\n",
              testing::internal::GetCapturedStdout());

    OrvixTest::TempDir dir;
    testing::internal::CaptureStdout();
    const FDP missing((dir.path() + "none.fdp").c_str());
    testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    missing.print();
    EXPECT_EQ("FDP::Print: FDP structure not initialized.\n", testing::internal::GetCapturedStdout());
}

// ---------------------------------------------------------------------------
// Free functions

TEST(FDPTest, FeaturePointToPixels)
{
    struct Case
    {
        float x, y;
        int width, height;
        bool flipY;
        int px, py;
    };
    const Case cases[] = {
        {0.5f, 0.25f, 640, 480, false, 320, 120},
        {0.5f, 0.25f, 640, 480, true, 320, 360},
        {0.5f, 0.5f, 5, 7, false, 2, 4},     // 2.5 -> 2, 3.5 -> 4: halves to even
        {0.5f, 0.5f, 5, 7, true, 2, 4},
        {0.0f, 1.0f, 100, 100, true, 0, 0},
        {-0.1f, 1.1f, 100, 100, false, -10, 110},
        {1e30f, -1e30f, 100, 100, false, 2147483647, -2147483647 - 1},   // clamped, no overflow
    };
    for (const Case& c : cases) {
        FDP set;
        set.setFPPos(3, 5, c.x, c.y, 0.0f);
        CvPoint out = cvPoint(-7, -7);
        EXPECT_TRUE(OrvixSDK::getFeaturePointFromFDP(out, &set, 3, 5, c.width, c.height, c.flipY));
        EXPECT_EQ(c.px, out.x) << c.x << " " << c.width;
        EXPECT_EQ(c.py, out.y) << c.y << " " << c.height;
    }

    FDP set;
    CvPoint out = cvPoint(-7, -7);
    EXPECT_FALSE(OrvixSDK::getFeaturePointFromFDP(out, &set, 3, 5, 10, 10, false));   // not defined
    EXPECT_FALSE(OrvixSDK::getFeaturePointFromFDP(out, nullptr, 3, 5, 10, 10, false));
    EXPECT_FALSE(OrvixSDK::getFeaturePointFromFDP(out, &set, 18, 1, 10, 10, false));
}

TEST(FDPTest, NextNumberStringSplitsText)
{
    struct Case
    {
        const char* text;
        const char* token;
        const char* rest;
        float number;
    };
    const Case cases[] = {
        {"  12.5 rest of it", "12.5", "rest of it", 12.5f},
        {"7", "7", "", 7.0f},
        {"1\t\t2", "1", "\t2", 1.0f},
        {"-2e3\n", "-2e3", "", -2000.0f},
        {"3,5 x", "3,5", "x", 3.0f},   // decimal point only
        {"abc 1", "abc", "1", 0.0f},
        {"", "", "", 0.0f},
        {"   ", "", "", 0.0f},
        {"1e99 2", "1e99", "2", 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<char> text(c.text, c.text + std::strlen(c.text) + 1);
        std::vector<char> rest(text.size() + 1, 'z');
        EXPECT_STREQ(c.token, OrvixSDK::getNextNumberString(text.data(), rest.data()));
        EXPECT_STREQ(c.rest, rest.data());

        std::vector<char> text2(c.text, c.text + std::strlen(c.text) + 1);
        EXPECT_EQ(c.number, OrvixSDK::getNextNumber(text2.data(), rest.data()));
        EXPECT_STREQ(c.rest, rest.data());
    }
    char rest[4] = "zzz";
    EXPECT_STREQ("", OrvixSDK::getNextNumberString(nullptr, rest));
    EXPECT_STREQ("", rest);
    EXPECT_EQ(0.0f, OrvixSDK::getNextNumber(nullptr, rest));
}
