#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>

#include "TestSupport.h"
#include "config/FileIO.h"

using OrvixSDK::FileIO;
using OrvixTest::TempDir;

namespace {

using OrvixTest::NamedContent;
using OrvixTest::randomBytes;

const float kUnset = -1.0f;

// An 8 x 1 float matrix filled with kUnset, released with the object.
class FloatColumn {
public:
    explicit FloatColumn(int rows = 8)
        : m(cvCreateMat(rows, 1, CV_32FC1))
    {
        cvSet(m, cvScalarAll(kUnset));
    }
    ~FloatColumn() { cvReleaseMat(&m); }
    FloatColumn(const FloatColumn&) = delete;
    FloatColumn& operator=(const FloatColumn&) = delete;

    std::vector<float> values() const
    {
        std::vector<float> out;
        for (int i = 0; i < m->rows; ++i)
            out.push_back(CV_MAT_ELEM(*m, float, i, 0));
        return out;
    }

    CvMat* m;
};

// ---------------------------------------------------------------------------
// Reading files

TEST(FileIOReadFile, MissingFilePrintsTheNameAndGivesEmptyText)
{
    TempDir dir;
    testing::internal::CaptureStdout();
    const std::string text = FileIO::read_file("absent.cfg", dir.path().c_str(), false);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(text, "");
    EXPECT_EQ(output, "Error opening file absent.cfg.\n");
}

TEST(FileIOReadFile, ReadsFolderPlusNameAndAcceptsANullFolder)
{
    TempDir dir;
    dir.write("settings.cfg", "camera_focus 3\n");
    EXPECT_EQ(FileIO::read_file("settings.cfg", dir.path().c_str(), true), "camera_focus 3\n");
    EXPECT_EQ(FileIO::read_file(dir.path() + "settings.cfg", nullptr), "camera_focus 3\n");
}

struct ReadFileCase {
    const char* label;
    std::string content;
    std::string expected;
};

void PrintTo(const ReadFileCase& c, std::ostream* out)
{
    *out << c.label;  // cases may hold megabytes of bytes
}

class FileIOReadFileContent : public ::testing::TestWithParam<ReadFileCase> {};

TEST_P(FileIOReadFileContent, GivesTheTextUpToItsEnd)
{
    TempDir dir;
    dir.write("f.cfg", GetParam().content);
    testing::internal::CaptureStdout();
    const std::string text = FileIO::read_file("f.cfg", dir.path().c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(text, GetParam().expected);
}

const std::string kCap(FileIO::kMaxTextLength, 'a');
const std::string kCapMinusTwo(FileIO::kMaxTextLength - 2, 'a');

INSTANTIATE_TEST_SUITE_P(
    Contents, FileIOReadFileContent,
    ::testing::Values(
        ReadFileCase{"empty", "", ""},
        ReadFileCase{"plain", "a 1\nb 2\n", "a 1\nb 2\n"},
        ReadFileCase{"stopsAtFF", std::string("a 1\xff b 2", 8), "a 1"},
        ReadFileCase{"stopsAtNul", std::string("a 1\0 b 2", 8), "a 1"},
        ReadFileCase{"exactlyTheCap", kCap, kCap},
        // One character over the cap: the word running across it is dropped.
        ReadFileCase{"wordCutByTheCap", kCapMinusTwo + " 0.125", kCapMinusTwo + " "},
        // The cap falls on a blank: the last word is whole and kept.
        ReadFileCase{"capOnABlank", kCapMinusTwo + " 7 rest", kCapMinusTwo + " 7"},
        // A single line longer than the cap holds no whole word at all.
        ReadFileCase{"oneMegabyteLine", std::string(1 << 20, 'x'), ""}),
    [](const ::testing::TestParamInfo<ReadFileCase>& info) { return std::string(info.param.label); });

TEST(FileIOReadFile, WarnsOnceWhenTheFileIsLongerThanTheCap)
{
    TempDir dir;
    dir.write("long.cfg", std::string(FileIO::kMaxTextLength + 10, ' '));
    testing::internal::CaptureStdout();
    const std::string text = FileIO::read_file("long.cfg", dir.path().c_str());
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(text.size(), FileIO::kMaxTextLength);
    EXPECT_EQ(output, "Warning: long.cfg is longer than 32766 characters; the rest is ignored.\n");
}

TEST(FileIOReadFile, KeysBeyondTheCapAreMissing)
{
    TempDir dir;
    dir.write("long.cfg", "early 1\n" + std::string(40000, ' ') + "late 2\n");
    testing::internal::CaptureStdout();
    const std::string text = FileIO::read_file("long.cfg", dir.path().c_str());
    testing::internal::GetCapturedStdout();
    unsigned early = 0, late = 0;
    EXPECT_TRUE(FileIO::read_setting(text, "early", early));
    EXPECT_FALSE(FileIO::read_setting(text, "late", late));
    EXPECT_EQ(early, 1u);
    EXPECT_EQ(late, 0u);
}

TEST(FileIOWriteFile, ReplacesTheFileAndRoundTrips)
{
    TempDir dir;
    const std::string path = dir.write("out.cfg", "old content that is longer");
    const std::string text = "camera_focus 4\nbytes \x01\x7f";
    EXPECT_TRUE(FileIO::write_file(text, path));
    EXPECT_EQ(TempDir::read(path), text);
    EXPECT_EQ(FileIO::read_file("out.cfg", dir.path().c_str()), text);
    EXPECT_FALSE(FileIO::write_file(text, dir.path() + "no/such/folder/out.cfg"));
}

// ---------------------------------------------------------------------------
// Single values

struct FloatCase {
    const char* label;
    const char* text;
    const char* key;
    bool found;
    float value;  // expected; the value starts at kUnset
};

void PrintTo(const FloatCase& c, std::ostream* out)
{
    *out << c.label;  // cases may hold megabytes of bytes
}

class FileIOReadFloat : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FileIOReadFloat, FindsTheKeyAndExtractsOneValue)
{
    float value = kUnset;
    EXPECT_EQ(FileIO::read_setting(GetParam().text, GetParam().key, value), GetParam().found);
    EXPECT_FLOAT_EQ(value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileIOReadFloat,
    ::testing::Values(
        FloatCase{"secondKey", "min_face_scale 0.2 max_face_scale 0.9", "max_face_scale", true, 0.9f},
        FloatCase{"firstOccurrenceWins", "min_face_scale 0.2 max_face_scale 0.9", "face_scale", true, 0.2f},
        FloatCase{"tailOfALongerWord", "xcamera_focus 3", "camera_focus", true, 3.0f},
        FloatCase{"mentionBeforeTheKey", "see camera_focus below\ncamera_focus 3", "camera_focus", true, 0.0f},
        FloatCase{"valueOnTheNextLine", "min_face_scale\n0.5", "min_face_scale", true, 0.5f},
        FloatCase{"tabsAndCarriageReturns", "k\t\r\n -1.5e2", "k", true, -150.0f},
        FloatCase{"notANumber", "camera_focus abc", "camera_focus", true, 0.0f},
        FloatCase{"nextKeyInsteadOfAValue", "camera_focus\nrecovery_timeout 3", "camera_focus", true, 0.0f},
        FloatCase{"keyAtTheEnd", "a 1 camera_focus", "camera_focus", true, kUnset},
        FloatCase{"onlyBlanksAfterTheKey", "camera_focus  \n\t", "camera_focus", true, kUnset},
        FloatCase{"missingKey", "a 1", "camera_focus", false, kUnset},
        FloatCase{"emptyText", "", "camera_focus", false, kUnset},
        FloatCase{"emptyKeyIsNeverFound", "5", "", false, kUnset}),
    [](const ::testing::TestParamInfo<FloatCase>& info) { return std::string(info.param.label); });

struct UnsignedCase {
    const char* label;
    const char* text;
    bool found;
    unsigned value;  // expected; the value starts at 77
};

void PrintTo(const UnsignedCase& c, std::ostream* out)
{
    *out << c.label;  // cases may hold megabytes of bytes
}

class FileIOReadUnsigned : public ::testing::TestWithParam<UnsignedCase> {};

TEST_P(FileIOReadUnsigned, ExtractsAnUnsignedValue)
{
    unsigned value = 77;
    EXPECT_EQ(FileIO::read_setting(GetParam().text, "process_eyes", value), GetParam().found);
    EXPECT_EQ(value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileIOReadUnsigned,
    ::testing::Values(UnsignedCase{"plain", "process_eyes 2", true, 2u},
                      UnsignedCase{"fractionStopsAtThePoint", "process_eyes 3.9", true, 3u},
                      UnsignedCase{"word", "process_eyes yes", true, 0u},
                      UnsignedCase{"atTheEnd", "process_eyes", true, 77u},
                      UnsignedCase{"missing", "refine_ears 1", false, 77u}),
    [](const ::testing::TestParamInfo<UnsignedCase>& info) { return std::string(info.param.label); });

TEST(FileIOReadWord, ReadsOneRunOfNonBlankCharacters)
{
    std::string word = "unchanged";
    EXPECT_TRUE(FileIO::read_setting("ofd_data_path \n ../data/face detector", "ofd_data_path", word));
    EXPECT_EQ(word, "../data/face");

    word = "unchanged";
    EXPECT_TRUE(FileIO::read_setting("a 1 ofd_data_path \n", "ofd_data_path", word));
    EXPECT_EQ(word, "unchanged");

    EXPECT_FALSE(FileIO::read_setting("a 1", "ofd_data_path", word));
    EXPECT_EQ(word, "unchanged");
}

// ---------------------------------------------------------------------------
// Lists

struct ListCase {
    const char* label;
    const char* text;
    bool found;
    std::vector<float> values;  // expected, 8 rows starting at kUnset
};

void PrintTo(const ListCase& c, std::ostream* out)
{
    *out << c.label;  // cases may hold megabytes of bytes
}

class FileIOReadList : public ::testing::TestWithParam<ListCase> {};

TEST_P(FileIOReadList, FillsRowsInOrder)
{
    FloatColumn column;
    EXPECT_EQ(FileIO::read_settings_list_f32(GetParam().text, "smoothing_factors", column.m), GetParam().found);
    EXPECT_EQ(column.values(), GetParam().values);
}

TEST_P(FileIOReadList, UnsignedFormFillsTheSameRows)
{
    CvMat* m = cvCreateMat(8, 1, CV_32SC1);
    cvSet(m, cvScalarAll(-1));
    EXPECT_EQ(FileIO::read_settings_list_iu32(GetParam().text, "smoothing_factors", m), GetParam().found);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(CV_MAT_ELEM(*m, int, i, 0), static_cast<int>(GetParam().values[i])) << "row " << i;
    cvReleaseMat(&m);
}

const float u = kUnset;

INSTANTIATE_TEST_SUITE_P(
    Cases, FileIOReadList,
    ::testing::Values(
        ListCase{"full", "smoothing_factors 1 2 3 4 5 6 7 8 9", true, {1, 2, 3, 4, 5, 6, 7, 8}},
        ListCase{"shortAtTheEnd", "smoothing_factors 1 2 3", true, {1, 2, 3, u, u, u, u, u}},
        ListCase{"shortBeforeAKey", "smoothing_factors 1 2 3 enable_smoothing 1", true, {1, 2, 3, 0, u, u, u, u}},
        ListCase{"acrossLines", "smoothing_factors\n1\n2 3\n\n4", true, {1, 2, 3, 4, u, u, u, u}},
        ListCase{"garbageFirst", "smoothing_factors x 1 2", true, {0, u, u, u, u, u, u, u}},
        ListCase{"keyAtTheEnd", "smoothing_factors", true, {u, u, u, u, u, u, u, u}},
        ListCase{"missing", "enable_smoothing 1", false, {u, u, u, u, u, u, u, u}}),
    [](const ::testing::TestParamInfo<ListCase>& info) { return std::string(info.param.label); });

TEST(FileIOReadList, RefusesMatricesOfAnotherTypeAndNoMatrix)
{
    const std::string text = "k 1 2 3 4";
    CvMat* bytes = cvCreateMat(4, 1, CV_8UC1);
    cvSetZero(bytes);
    CvMat* wide = cvCreateMat(4, 1, CV_64FC1);
    cvSetZero(wide);
    EXPECT_FALSE(FileIO::read_settings_list_f32(text, "k", bytes));
    EXPECT_FALSE(FileIO::read_settings_list_iu32(text, "k", bytes));
    EXPECT_FALSE(FileIO::read_settings_list_f32(text, "k", wide));
    EXPECT_EQ(cvCountNonZero(bytes), 0);
    EXPECT_EQ(cvCountNonZero(wide), 0);
    EXPECT_FALSE(FileIO::read_settings_list_f32(text, "k", nullptr));
    EXPECT_FALSE(FileIO::read_settings_list_iu32(text, "k", nullptr));
    cvReleaseMat(&bytes);
    cvReleaseMat(&wide);
}

TEST(FileIOReadList, WritesOnlyColumnZeroOfAWiderMatrix)
{
    CvMat* m = cvCreateMat(3, 2, CV_32FC1);
    cvSet(m, cvScalarAll(-1));
    EXPECT_TRUE(FileIO::read_settings_list_f32("k 1 2 3 4 5 6", "k", m));
    for (int i = 0; i < 3; ++i) {
        EXPECT_FLOAT_EQ(CV_MAT_ELEM(*m, float, i, 0), static_cast<float>(i + 1));
        EXPECT_FLOAT_EQ(CV_MAT_ELEM(*m, float, i, 1), -1.0f);
    }
    cvReleaseMat(&m);
}

TEST(FileIOReadWords, ShortListsLeaveTheRestAndTakeFollowingKeysAsWords)
{
    std::string names[4];
    EXPECT_TRUE(FileIO::read_settings_list_string("au_names jaw lips", "au_names", 4, names));
    EXPECT_EQ(names[0], "jaw");
    EXPECT_EQ(names[1], "lips");
    EXPECT_EQ(names[2], "");
    EXPECT_EQ(names[3], "");

    std::string more[3];
    EXPECT_TRUE(FileIO::read_settings_list_string("au_names jaw\nsu_use 1 0", "au_names", 3, more));
    EXPECT_EQ(more[0], "jaw");
    EXPECT_EQ(more[1], "su_use");
    EXPECT_EQ(more[2], "1");

    std::string none[1] = {"kept"};
    EXPECT_FALSE(FileIO::read_settings_list_string("x", "au_names", 1, none));
    EXPECT_TRUE(FileIO::read_settings_list_string("au_names a", "au_names", 0, none));
    EXPECT_TRUE(FileIO::read_settings_list_string("au_names a", "au_names", 5, nullptr));
    EXPECT_EQ(none[0], "kept");
}

// ---------------------------------------------------------------------------
// Indexed settings

struct IntArrayCase {
    const char* label;
    const char* text;
    std::vector<int> values;  // expected for count = values.size()
};

void PrintTo(const IntArrayCase& c, std::ostream* out)
{
    *out << c.label;  // cases may hold megabytes of bytes
}

class FileIOReadIntArray : public ::testing::TestWithParam<IntArrayCase> {};

TEST_P(FileIOReadIntArray, MissingEntriesTakeEntryZero)
{
    const std::vector<int>& expected = GetParam().values;
    std::vector<int> values(expected.size() + 1, 55);  // one guard element
    FileIO::read_setting_array(GetParam().text, "n", static_cast<unsigned>(expected.size()), values.data());
    EXPECT_EQ(std::vector<int>(values.begin(), values.end() - 1), expected);
    EXPECT_EQ(values.back(), 55);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileIOReadIntArray,
    ::testing::Values(IntArrayCase{"gaps", "n[0] 4\nn[2] 7", {4, 4, 7}},
                      IntArrayCase{"noEntryZero", "n[1] 3", {0, 3, 0}},
                      IntArrayCase{"nothing", "", {0, 0}},
                      IntArrayCase{"minusThousandCountsAsMissing", "n[0] 2 n[1] -1000", {2, 2}},
                      IntArrayCase{"tenAndMore", "n[1] 1 n[10] 9", {0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 9}},
                      IntArrayCase{"countZero", "n[0] 4", {}}),
    [](const ::testing::TestParamInfo<IntArrayCase>& info) { return std::string(info.param.label); });

struct FloatArrayCase {
    const char* label;
    const char* text;
    unsigned entries;
    unsigned width;
    int copyFirst;
    std::vector<float> values;  // expected for entries * width elements
};

void PrintTo(const FloatArrayCase& c, std::ostream* out)
{
    *out << c.label;  // cases may hold megabytes of bytes
}

class FileIOReadFloatArray : public ::testing::TestWithParam<FloatArrayCase> {};

TEST_P(FileIOReadFloatArray, FillsEntriesOfWidthFloats)
{
    const FloatArrayCase& c = GetParam();
    std::vector<float> values(c.values.size() + 1, 55.0f);  // one guard element
    FileIO::read_setting_array(c.text, "w", c.entries, c.width, values.data(), c.copyFirst);
    EXPECT_EQ(std::vector<float>(values.begin(), values.end() - 1), c.values);
    EXPECT_EQ(values.back(), 55.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileIOReadFloatArray,
    ::testing::Values(
        FloatArrayCase{"widthOne", "w[0] 1.5 w[1] 2.5", 2, 1, 0, {1.5f, 2.5f}},
        FloatArrayCase{"pairs", "w[0] 1 2 w[1] 3 4", 2, 2, 0, {1, 2, 3, 4}},
        FloatArrayCase{"copyFirst", "w[0] 1 2", 3, 2, 1, {1, 2, 1, 2, 1, 2}},
        FloatArrayCase{"zerosWithoutCopyFirst", "w[0] 1 2", 3, 2, 0, {1, 2, 0, 0, 0, 0}},
        FloatArrayCase{"copyFirstOtherThanOne", "w[0] 1 2", 2, 2, 2, {1, 2, 0, 0}},
        FloatArrayCase{"noEntryZero", "w[1] 3 4", 2, 2, 1, {0, 0, 3, 4}},
        // An entry with too few values: the rest of it is 0, never leftovers.
        FloatArrayCase{"shortEntry", "w[0] 9", 2, 3, 1, {9, 0, 0, 9, 0, 0}},
        FloatArrayCase{"shortEntryBeforeTheNext", "w[0] 9 w[1] 5 6 7", 2, 3, 0, {9, 0, 0, 5, 6, 7}},
        FloatArrayCase{"entriesZero", "w[0] 1", 0, 2, 1, {}},
        FloatArrayCase{"widthZero", "w[0] 1", 3, 0, 1, {}}),
    [](const ::testing::TestParamInfo<FloatArrayCase>& info) { return std::string(info.param.label); });

TEST(FileIOReadArray, NullValuesAreIgnored)
{
    FileIO::read_setting_array("n[0] 1", "n", 3, nullptr);
    FileIO::read_setting_array("w[0] 1", "w", 3, 2, nullptr, 1);
}

// ---------------------------------------------------------------------------
// Hostile input: every lookup survives whatever the file held.

class FileIOHostileText : public ::testing::TestWithParam<NamedContent> {};

TEST_P(FileIOHostileText, EveryLookupSurvives)
{
    TempDir dir;
    dir.write("h.cfg", GetParam().content);
    testing::internal::CaptureStdout();
    const std::string text = FileIO::read_file("h.cfg", dir.path().c_str());
    testing::internal::GetCapturedStdout();
    ASSERT_LE(text.size(), FileIO::kMaxTextLength);

    unsigned number = 1;
    float real = 1.0f;
    std::string word = "w";
    FileIO::read_setting(text, "process_eyes", number);
    FileIO::read_setting(text, "camera_focus", real);
    FileIO::read_setting(text, "log_filename", word);

    FloatColumn column;
    FileIO::read_settings_list_f32(text, "smoothing_factors", column.m);
    CvMat* flags = cvCreateMat(5, 1, CV_32SC1);
    cvSetZero(flags);
    FileIO::read_settings_list_iu32(text, "au_use", flags);
    cvReleaseMat(&flags);

    std::string words[4];
    FileIO::read_settings_list_string(text, "au_names", 4, words);
    int indexed[3] = {0, 0, 0};
    FileIO::read_setting_array(text, "n", 3, indexed);
    float pairs[6] = {0, 0, 0, 0, 0, 0};
    FileIO::read_setting_array(text, "w", 3, 2, pairs, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileIOHostileText,
    ::testing::Values(
        NamedContent{"empty", ""},
        NamedContent{"randomBytes", randomBytes(4096, 1)},
        NamedContent{"randomBytesAfterKeys", "smoothing_factors 1 au_names a n[0] 2 w[0] 1 " + randomBytes(4096, 2)},
        NamedContent{"keysWithoutValues", "smoothing_factors au_use au_names n[0] w[0] w[1]"},
        NamedContent{"truncatedList", "smoothing_factors 1 2 3.5e"},
        NamedContent{"hugeNumbers", "process_eyes 99999999999999999999 camera_focus 1e999 n[0] -5 w[0] 1e400"},
        NamedContent{"oneMegabyteLine", std::string(1 << 20, 'k')},
        NamedContent{"longLineThenKeys", std::string(1 << 20, ' ') + "camera_focus 1"}),
    [](const ::testing::TestParamInfo<NamedContent>& info) { return std::string(info.param.label); });

}  // namespace
