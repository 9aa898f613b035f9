#include "support/direxists.h"

#include "tests/unit/support_tempdir.h"

#include <gtest/gtest.h>
#include <string>

namespace {

class DirectoryHelpers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(dir_.FsPath() / "docs" / "sub");
        WriteBytes(dir_.File("report.doc"), "x");
    }
    // The folder with '/' between the parts, as the folder field gives it.
    std::string Slashed(const std::string &relative) const
    {
        return dir_.FsPath().generic_string() + "/" + relative;
    }
    TempDir dir_;
};

TEST_F(DirectoryHelpers, ExistenceTable)
{
    struct Row
    {
        const char *relative;
        bool path;
        bool directory;
    };
    const Row rows[] = {
        {"docs", true, true},      {"docs/sub", true, true},       {"report.doc", true, false},
        {"missing", false, false}, {"docs/missing", false, false}, {"missing/", false, false},
        {"docs\\", false, false}, // the trailing backslash is kept and nothing has that name
    };
    for (const Row &row : rows) {
        std::string path = Slashed(row.relative);
        const std::string before = path;
        EXPECT_EQ(PathExists(path.c_str()), row.path) << path;
        EXPECT_EQ(DirectoryExists(path.c_str()), row.directory) << path;
        EXPECT_EQ(path, before);
    }
}

TEST_F(DirectoryHelpers, OneTrailingSlashIsIgnored)
{
    std::string path = Slashed("docs/");
    EXPECT_TRUE(DirectoryExists(path.c_str()));
    EXPECT_EQ(path, Slashed("docs/")) << "the caller's path is not changed";
    EXPECT_FALSE(DirectoryExists(Slashed("report.doc/").c_str()));
}

TEST(DirectoryHelpersEmpty, EmptyPathIsNeverFound)
{
    EXPECT_FALSE(PathExists(""));
    EXPECT_FALSE(DirectoryExists(""));
}

#ifndef _WIN32

TEST_F(DirectoryHelpers, BackslashIsPartOfTheName_Posix)
{
    std::filesystem::create_directories(dir_.FsPath() / "odd\\");
    EXPECT_TRUE(DirectoryExists(Slashed("odd\\").c_str()));
    EXPECT_FALSE(DirectoryExists(Slashed("odd").c_str()));
}

TEST_F(DirectoryHelpers, NamesAreBytes_Posix)
{
    std::filesystem::create_directories(dir_.FsPath() / "\xe6\x96\x87\xe6\xa1\xa3");
    EXPECT_TRUE(DirectoryExists(Slashed("\xe6\x96\x87\xe6\xa1\xa3/").c_str()));
    EXPECT_FALSE(DirectoryExists(Slashed("\xe6\x96\x87").c_str()));
}

TEST(DirectoryHelpersRoot, RootIsADirectory_Posix)
{
    EXPECT_TRUE(DirectoryExists("/"));
    EXPECT_TRUE(PathExists("/"));
}

// A folder deeper than the 1023 bytes the helper copies is refused, not overrun.
TEST_F(DirectoryHelpers, OverlongPathIsRefused_Posix)
{
    std::filesystem::path deep = dir_.FsPath();
    while (deep.string().size() < 1100)
        deep /= std::string(200, 'd');
    std::filesystem::create_directories(deep);
    const std::string path = deep.string() + "/";
    ASSERT_GE(path.size(), 1024u);
    EXPECT_TRUE(PathExists(path.c_str()));
    EXPECT_FALSE(DirectoryExists(path.c_str()));
}

#endif

} // namespace
