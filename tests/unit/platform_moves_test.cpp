// Moving a finished file into a folder that others can write to: nothing there is replaced, no link below
// the folder is followed, and a file read or appended to is never reached through a link.

#include "platform/fileops.h"

#include "tests/unit/support_tempdir.h"

#include <gtest/gtest.h>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

struct MoveRow
{
    const char *name;
    const char
        *planted; // below the base: "file", "link-to-file", "dangling-link", "folder-link", "" (nothing)
    const char *plantedAt;
    const char *relative;
    bool replace;
    MoveResult result;
    const char *targetHolds; // what reading the target gives afterwards ("" when it is not a file of its own)
};

// The victim folder is outside the base; it must come out of every row as it went in. (Links: POSIX only.)
TEST(MoveFileBelow, NothingReplacedNoLinkFollowed)
{
    const MoveRow rows[] = {
        {"new place, folders made", "", "", "a/b/x.pdf", false, MoveResult::Moved, "new"},
        {"a file there is kept", "file", "x.pdf", "x.pdf", false, MoveResult::TargetExists, "old"},
        {"a link that leads nowhere counts", "dangling-link", "x.pdf", "x.pdf", false,
         MoveResult::TargetExists, ""},
        {"a link to a file is not written through", "link-to-file", "x.pdf", "x.pdf", false,
         MoveResult::TargetExists, ""},
        {"a folder link in the way", "folder-link", "sub", "sub/x.pdf", false, MoveResult::Failed, ""},
        {"a file in the way of a folder", "file", "sub", "sub/x.pdf", false, MoveResult::Failed, ""},
        {"replacing a file", "file", "x.pdf", "x.pdf", true, MoveResult::Moved, "new"},
        {"replacing a link replaces the link", "link-to-file", "x.pdf", "x.pdf", true, MoveResult::Moved,
         "new"},
        {"a folder link in the way, replacing", "folder-link", "sub", "sub/x.pdf", true, MoveResult::Failed,
         ""},
        {"up and out", "", "", "../x.pdf", false, MoveResult::Failed, ""},
        {"an empty name", "", "", "a//x.pdf", false, MoveResult::Failed, ""},
    };
    for (const MoveRow &row : rows) {
        const std::string kind = row.planted;
#ifdef _WIN32
        if (kind.find("link") != std::string::npos)
            continue;
#endif
        TempDir dir, victim;
        const std::string base = dir.File("base");
        std::filesystem::create_directories(base);
        WriteBytes(victim.File("keep.txt"), "precious");
        WriteBytes(dir.File("source.pdf"), "new");
        const std::string planted = base + "/" + row.plantedAt;
        if (kind == "file")
            WriteBytes(planted, "old");
        else if (kind == "link-to-file")
            std::filesystem::create_symlink(victim.File("keep.txt"), planted);
        else if (kind == "dangling-link")
            std::filesystem::create_symlink(victim.File("made.pdf"), planted);
        else if (kind == "folder-link")
            std::filesystem::create_directory_symlink(victim.FsPath(), planted);

        EXPECT_EQ(MoveFileBelow(dir.File("source.pdf").c_str(), base.c_str(), row.relative, row.replace),
                  row.result)
            << row.name;
        EXPECT_EQ(std::filesystem::exists(dir.File("source.pdf")), row.result != MoveResult::Moved)
            << row.name;
        const std::string target = base + "/" + row.relative;
        if (*row.targetHolds) {
            EXPECT_FALSE(std::filesystem::is_symlink(target)) << row.name;
            EXPECT_EQ(ReadBytes(target), row.targetHolds) << row.name;
        }
        EXPECT_EQ(victim.Entries(), std::vector<std::string>{"keep.txt"}) << row.name;
        EXPECT_EQ(ReadBytes(victim.File("keep.txt")), "precious") << row.name;
    }
}

} // namespace

#ifndef _WIN32

namespace {

// The PDF's private folder is often on another file system (a tmpfs /tmp): the bytes are copied to a new
// file beside the target, which is then placed as any move is, and nothing of it is left.
TEST(MoveFileBelow, AcrossFileSystems_Posix)
{
    TempDir dir;
    const std::string other = "/dev/shm/quillmark-move-" + std::to_string(getpid());
    struct stat here, there;
    if (stat(dir.Path().c_str(), &here) != 0 || !std::filesystem::create_directory(other) ||
        stat(other.c_str(), &there) != 0 || here.st_dev == there.st_dev) {
        std::filesystem::remove_all(other);
        GTEST_SKIP() << "no second file system at /dev/shm";
    }
    const std::string base = dir.File("base");
    std::filesystem::create_directories(base);
    WriteBytes(other + "/first", "first");
    WriteBytes(other + "/second", "second");
    EXPECT_EQ(MoveFileBelow((other + "/first").c_str(), base.c_str(), "sub/x.pdf", false), MoveResult::Moved);
    EXPECT_EQ(MoveFileBelow((other + "/second").c_str(), base.c_str(), "sub/x.pdf", false),
              MoveResult::TargetExists);
    EXPECT_EQ(ReadBytes(base + "/sub/x.pdf"), "first");
    EXPECT_FALSE(std::filesystem::exists(other + "/first"));
    EXPECT_TRUE(std::filesystem::exists(other + "/second"));
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(base + "/sub"))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"x.pdf"});
    std::filesystem::remove_all(other);
}

TEST(ReadRegularFile, OnlyAFileOfItsOwn_Posix)
{
    TempDir dir;
    WriteBytes(dir.File("file"), "bytes");
    std::filesystem::create_symlink(dir.File("file"), dir.File("link"));
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    std::string bytes;
    EXPECT_TRUE(ReadRegularFile(dir.File("file").c_str(), 5, bytes));
    EXPECT_EQ(bytes, "bytes");
    EXPECT_FALSE(ReadRegularFile(dir.File("file").c_str(), 4, bytes)) << "longer than the limit";
    EXPECT_FALSE(ReadRegularFile(dir.File("link").c_str(), 100, bytes));
    EXPECT_FALSE(ReadRegularFile(dir.File("fifo").c_str(), 100, bytes)) << "and it does not hang";
    EXPECT_FALSE(ReadRegularFile(dir.File("missing").c_str(), 100, bytes));
    EXPECT_EQ(QueryEntryNoFollow(dir.File("link").c_str()), EntryKind::Link);
    EXPECT_EQ(QueryEntryNoFollow(dir.File("file").c_str()), EntryKind::File);
    EXPECT_EQ(QueryEntryNoFollow(dir.File("fifo").c_str()), EntryKind::Other);
}

TEST(OpenFileForAppending, OwnerOnlyAndNeverThroughALink_Posix)
{
    TempDir dir;
    WriteBytes(dir.File("victim"), "precious");
    std::filesystem::create_symlink(dir.File("victim"), dir.File("link"));
    EXPECT_EQ(OpenFileForAppending(dir.File("link").c_str()), nullptr);
    EXPECT_EQ(ReadBytes(dir.File("victim")), "precious");
    for (int i = 0; i < 2; ++i) {
        std::FILE *file = OpenFileForAppending(dir.File("ledger").c_str());
        ASSERT_NE(file, nullptr);
        std::fputs("line\n", file);
        std::fclose(file);
    }
    EXPECT_EQ(ReadBytes(dir.File("ledger")), "line\nline\n");
    struct stat info;
    ASSERT_EQ(stat(dir.File("ledger").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

} // namespace

#endif
