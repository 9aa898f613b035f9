// Writing the failure list's file: whole or not at all, and never through a link planted at its name.

#include "platform/textfile.h"

#include "tests/unit/support_tempdir.h"
#ifndef _WIN32
#include "tests/unit/filesizelimit.h"
#endif

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
const std::string LineEnd = "\r\n";
#else
const std::string LineEnd = "\n";
#endif

bool Write(const std::string &path, const std::string &text)
{
    return WriteTextFileReplacing(path.c_str(), text.data(), text.size());
}

TEST(TextFile, WritesInTextMode)
{
    struct Row
    {
        std::string text;
        std::string expected;
    };
    const Row rows[] = {
        {"", ""},
        {"a\n", "a" + LineEnd},
        {"one\ntwo\n", "one" + LineEnd + "two" + LineEnd},
        {std::string("\xce\xc4\xb5\xb5\xff\0z\n", 8), std::string("\xce\xc4\xb5\xb5\xff\0z", 7) + LineEnd},
        {std::string(300000, 'x') + "\n", std::string(300000, 'x') + LineEnd},
    };
    for (const Row &row : rows) {
        TempDir dir;
        const std::string path = dir.File("list.txt");
        EXPECT_TRUE(Write(path, row.text));
        EXPECT_EQ(ReadBytes(path), row.expected) << row.text.size() << " bytes";
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"list.txt"}) << "no temporary file is left";
    }
}

TEST(TextFile, ReplacesAnExistingFile)
{
    TempDir dir;
    const std::string path = dir.File("list.txt");
    WriteBytes(path, std::string(5000, 'o'));
    EXPECT_TRUE(Write(path, "new\n"));
    EXPECT_EQ(ReadBytes(path), "new" + LineEnd);
}

TEST(TextFile, FailureLeavesNothingBehind)
{
    TempDir dir;
    // A missing folder, and a folder standing where the file should go.
    EXPECT_FALSE(Write(dir.File("missing") + "/list.txt", "a\n"));
    std::filesystem::create_directories(dir.FsPath() / "taken" / "inner");
    EXPECT_FALSE(Write(dir.File("taken"), "a\n"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.FsPath() / "taken" / "inner"));
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"taken"});
}

#ifndef _WIN32
TEST(TextFile, LinkAtThePathIsReplacedNotFollowed_Posix)
{
    TempDir dir;
    const std::string target = dir.File("precious.txt");
    const std::string path = dir.File("list.txt");
    WriteBytes(target, "keep me");
    struct Row
    {
        const char *what;
        std::string linkTo;
        std::string linkTarget;
    };
    const Row rows[] = {
        {"link to a file", target, target},
        {"dangling link", dir.File("created-through-link.txt"), dir.File("created-through-link.txt")},
    };
    for (const Row &row : rows) {
        unlink(path.c_str());
        ASSERT_EQ(symlink(row.linkTo.c_str(), path.c_str()), 0) << row.what;
        EXPECT_TRUE(Write(path, "list\n")) << row.what;
        struct stat info;
        ASSERT_EQ(lstat(path.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode)) << row.what << ": the link itself is replaced";
        EXPECT_EQ(ReadBytes(path), "list\n") << row.what;
    }
    EXPECT_EQ(ReadBytes(target), "keep me");
    EXPECT_FALSE(std::filesystem::exists(dir.File("created-through-link.txt")));
}

TEST(TextFile, ReadableByOthers_Posix)
{
    TempDir dir;
    const std::string path = dir.File("list.txt");
    ASSERT_TRUE(Write(path, "a\n"));
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(TextFile, FailedWriteKeepsTheOldFile_Posix)
{
    TempDir dir;
    const std::string path = dir.File("list.txt");
    WriteBytes(path, "old\n");
    bool written;
    {
        FileSizeLimit limit(1024);
        ASSERT_TRUE(limit.active());
        written = Write(path, std::string(4000, 'y') + "\n");
    }

    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes(path), "old\n");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"list.txt"}) << "the temporary file is removed";
}
#endif

} // namespace
