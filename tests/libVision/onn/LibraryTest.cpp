#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "OnnTestSupport.h"
#include "TestSupport.h"
#include "onn/Library.h"
#include "onn/Utility.h"

using ONN::Library;

namespace {

// Each case copies the test plug-in into a fresh folder under a file name,
// then opens it by a name; the loader must find the copy.
struct NameCase {
    const char* label;
    const char* fileName;   // name of the copy
    const char* openedName; // name given to Library, relative to the folder
};

void PrintTo(const NameCase& c, std::ostream* out)
{
    *out << c.label;
}

class LibraryNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(LibraryNames, AbsoluteNamesFindTheFileVariants)
{
    const NameCase& c = GetParam();
    OrvixTest::TempDir dir;
    const std::string file = OnnTest::copyPlugin(dir, OnnTest::kPlugin, c.fileName);
    const std::string name = dir.path() + c.openedName;

    Library library(name);
    EXPECT_EQ(library.get_file_name(), name);
    ASSERT_TRUE(library.load()) << library.get_error_string();
    EXPECT_TRUE(library.is_loaded());
    EXPECT_EQ(library.get_error_string(), "");
    EXPECT_EQ(library.get_file_name(), file); // the loader's own path of it
    EXPECT_NE(library.get_method("Create"), nullptr);
    EXPECT_EQ(library.get_method("NoSuchSymbol"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Variants, LibraryNames,
                         ::testing::Values(NameCase{"AsGiven", "libfoo.so", "libfoo.so"},
                                           NameCase{"SuffixAdded", "foo.so", "foo"},
                                           NameCase{"PrefixAdded", "libfoo", "foo"},
                                           NameCase{"PrefixAndSuffixAdded", "libfoo.so", "foo"},
                                           NameCase{"PrefixAddedToNameWithSuffix", "libfoo.so", "foo.so"},
                                           NameCase{"VersionedNameAsGiven", "foo.so.1", "foo.so.1"}));

// Bare names go through the loader's search, which reaches the build's
// library folder through the test program's run path.
TEST(Library, BareNameVariantsReachOneLibrary)
{
    const std::vector<std::string> names = {"onn_test_plugin", "onn_test_plugin.so", "libonn_test_plugin",
                                            "libonn_test_plugin.so", OnnTest::builtPlugin(OnnTest::kPlugin)};
    void* create = nullptr;
    for (const std::string& name : names) {
        Library library(name);
        ASSERT_TRUE(library.load()) << name << ": " << library.get_error_string();
        const std::string file = library.get_file_name();
        EXPECT_EQ(file.substr(file.rfind('/') + 1), OnnTest::kPlugin) << name;
        void* method = library.get_method("Create");
        ASSERT_NE(method, nullptr) << name;
        if (create == nullptr)
            create = method;
        EXPECT_EQ(method, create) << name << " opened another copy";
    }
}

TEST(Library, TwoHandlesShareOneLoaderHandle)
{
    OrvixTest::TempDir dir;
    const std::string path = OnnTest::copyPlugin(dir, OnnTest::kPlugin, "libshared.so");
    Library first(path);
    Library second(path);
    ASSERT_TRUE(first.load());
    EXPECT_TRUE(second.is_loaded()); // the state is shared before second loads
    ASSERT_TRUE(second.load());
    EXPECT_EQ(first.get_method("Initialize"), second.get_method("Initialize"));

    // Loading twice through one handle counts once; unloading needs a load.
    EXPECT_TRUE(first.load());
    EXPECT_FALSE(first.unload()); // the second handle keeps the library open
    EXPECT_FALSE(first.unload());
    EXPECT_TRUE(second.is_loaded());
    EXPECT_TRUE(second.unload()); // the last user closes it
    EXPECT_FALSE(first.is_loaded());
}

TEST(Library, AFailedHandleDoesNotTryAgain)
{
    OrvixTest::TempDir dir;
    const std::string name = dir.path() + "late";
    Library library(name);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(library.load());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(library.get_error_string().rfind("Cannot load library " + name + " ", 0), 0u)
        << library.get_error_string();
    EXPECT_EQ(library.get_file_name(), name);

    // The file appears; this handle keeps its failure, a new one succeeds.
    OnnTest::copyPlugin(dir, OnnTest::kPlugin, "liblate.so");
    EXPECT_FALSE(library.load());
    Library fresh(name + "2");
    OnnTest::copyPlugin(dir, OnnTest::kPlugin, "liblate2.so");
    EXPECT_TRUE(fresh.load()) << fresh.get_error_string();
}

TEST(Library, AnAbsoluteFileThatExistsEndsTheSearch)
{
    // "foo" exists but is no library: the search stops there and does not
    // go on to the real library "libfoo.so" next to it.
    OrvixTest::TempDir dir;
    dir.write("foo", "not a library");
    OnnTest::copyPlugin(dir, OnnTest::kPlugin, "libfoo.so");
    Library library(dir.path() + "foo");
    EXPECT_FALSE(library.load());
    EXPECT_NE(library.get_error_string().find(dir.path() + "foo"), std::string::npos);

    Library direct(dir.path() + "libfoo.so");
    EXPECT_TRUE(direct.load());
}

TEST(Library, DamagedFilesAreRefused)
{
    OrvixTest::TempDir dir;
    const std::string plugin = OrvixTest::TempDir::read(OnnTest::builtPlugin(OnnTest::kPlugin));
    const std::vector<OrvixTest::NamedContent> files = {
        {"empty", ""},
        {"text", "hello\n"},
        {"header only", plugin.substr(0, 64)},
        {"random", OrvixTest::randomBytes(4096, 7)},
    };
    for (const auto& file : files) {
        const std::string path = dir.write(std::string("lib") + file.label + ".so", file.content);
        Library library(path);
        EXPECT_FALSE(library.load()) << file.label;
        EXPECT_FALSE(library.is_loaded()) << file.label;
        EXPECT_NE(library.get_error_string(), "") << file.label;
    }
}

TEST(Utility, LoadLibraryReportsAFailure)
{
    Library library("onn_no_such_library_anywhere");
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(ONN::Utility::LoadLibrary(library));
    const std::string output = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(output.rfind("ONNIE: Cannot load onn_no_such_library_anywhere. Cannot load library "
                           "onn_no_such_library_anywhere ",
                           0),
              0u)
        << output;
}

TEST(Utility, FileSizeAndReading)
{
    OrvixTest::TempDir dir;
    const std::string path = dir.write("data.bin", std::string("ab\0cd", 5));
    EXPECT_EQ(ONN::Utility::fileSize(path), 5);
    EXPECT_EQ(ONN::Utility::fileSize(path.c_str()), 5);
    EXPECT_EQ(ONN::Utility::fileSize(dir.write("empty", "")), 0);
    EXPECT_EQ(ONN::Utility::fileSize(dir.path() + "missing"), -1);
    EXPECT_EQ(ONN::Utility::fileSize(static_cast<const char*>(nullptr)), -1);

    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(ONN::Utility::readAllFile(path, buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer, 4), std::string("ab\0x", 4));
    EXPECT_EQ(ONN::Utility::readAllFile(path, buffer, sizeof buffer), 5u);
    EXPECT_EQ(ONN::Utility::readAllFile(dir.path() + "missing", buffer, sizeof buffer), 0u);
    EXPECT_EQ(ONN::Utility::readAllFile(path, nullptr, 4), 0u);
}

}  // namespace
