#include <string>

#include <gtest/gtest.h>

#include "support/Common.h"

using OrvixSDK::Common;

namespace {

struct FolderCase {
    const char* path;
    const char* folder;
};

void PrintTo(const FolderCase& c, std::ostream* os)
{
    *os << '"' << c.path << "\" -> \"" << c.folder << '"';
}

class SetCfgDirPathTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(SetCfgDirPathTest, KeepsEverythingUpToTheLastSeparator)
{
    char folder[Common::kPathBufferSize];
    Common::setCfgDirPath(GetParam().path, folder);
    EXPECT_STREQ(folder, GetParam().folder);
}

INSTANTIATE_TEST_SUITE_P(Paths, SetCfgDirPathTest,
    ::testing::Values(
        FolderCase{"tracker.cfg", ""},
        FolderCase{"", ""},
        FolderCase{"/data/cfg/tracker.cfg", "/data/cfg/"},
        FolderCase{"C:\\data\\cfg\\tracker.cfg", "C:\\data\\cfg\\"},
        FolderCase{"mixed/dir\\file.cfg", "mixed/dir\\"},
        FolderCase{"a\\b/c.cfg", "a\\b/"},
        FolderCase{"/only/folder/", "/only/folder/"}));

TEST(SetCfgDirPath, NullPathGivesEmptyFolder)
{
    char folder[Common::kPathBufferSize] = "stale";
    Common::setCfgDirPath(nullptr, folder);
    EXPECT_STREQ(folder, "");
}

TEST(SetCfgDirPath, OverlongPathIsCutToTheBuffer)
{
    // A separator past the 1023rd character is not seen; the folder is taken
    // from the kept prefix and never overflows the buffer.
    std::string path = "/root/" + std::string(2000, 'x') + "/file.cfg";
    char folder[Common::kPathBufferSize];
    Common::setCfgDirPath(path.c_str(), folder);
    EXPECT_STREQ(folder, "/root/");

    std::string deep;
    while (deep.size() < 1500)
        deep += "abcdefg/";
    Common::setCfgDirPath(deep.c_str(), folder);
    EXPECT_LE(std::string(folder).size(), 1023u);
    EXPECT_EQ(folder[std::string(folder).size() - 1], '/');
    EXPECT_EQ(deep.compare(0, std::string(folder).size(), folder), 0);
}

}  // namespace
