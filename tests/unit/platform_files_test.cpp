#include "platform/fileinfo.h"
#include "platform/fileops.h"
#include "platform/selfpath.h"
#include "platform/sleep.h"

#include "tests/unit/support_tempdir.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(FileInfo, QueryPathEntry)
{
    TempDir dir;
    std::filesystem::create_directories(dir.FsPath() / "folder");
    WriteBytes(dir.File("file.txt"), "x");
    struct Row
    {
        std::string path;
        bool found;
        bool directory;
    };
    const Row rows[] = {
        {dir.File("folder"), true, true},
        {dir.File("file.txt"), true, false},
        {dir.File("missing"), false, false},
        {"", false, false},
    };
    for (const Row &row : rows) {
        bool isDirectory = !row.directory; // must be overwritten either way
        EXPECT_EQ(QueryPathEntry(row.path.c_str(), &isDirectory), row.found) << row.path;
        EXPECT_EQ(isDirectory, row.directory) << row.path;
        EXPECT_EQ(QueryPathEntry(row.path.c_str(), nullptr), row.found) << row.path;
    }
    EXPECT_FALSE(QueryPathEntry(nullptr, nullptr));
}

TEST(FileInfo, ReplaceFileWith)
{
    TempDir dir;
    const std::string target = dir.File("Quillmark.kov");
    const std::string source = dir.File("Quillmark.kov.new");
    WriteBytes(target, "old");
    WriteBytes(source, "new");
    EXPECT_TRUE(ReplaceFileWith(source.c_str(), target.c_str()));
    EXPECT_EQ(ReadBytes(target), "new");
    EXPECT_FALSE(std::filesystem::exists(source));

    EXPECT_FALSE(ReplaceFileWith(source.c_str(), target.c_str())) << "the source is gone";
    EXPECT_EQ(ReadBytes(target), "new");

    WriteBytes(source, "created");
    const std::string fresh = dir.File("fresh.kov");
    EXPECT_TRUE(ReplaceFileWith(source.c_str(), fresh.c_str()));
    EXPECT_EQ(ReadBytes(fresh), "created");
}

TEST(SelfPath, PathDoesNotFitCapacity)
{
    char out[4] = "xyz";
    EXPECT_EQ(OwnExecutablePath("C:\\Tools\\Quillmark.exe", out, sizeof out), -1);
    EXPECT_STREQ(out, "");
}

TEST(Sleep, SleepsAtLeastTheGivenTime)
{
    const auto start = std::chrono::steady_clock::now();
    SleepMs(60);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
}

} // namespace

#ifdef _WIN32

TEST(SelfPath, ArgumentZeroAsGiven_Windows)
{
    char out[1024];
    EXPECT_EQ(OwnExecutablePath("C:\\Tools\\Quillmark.exe", out, sizeof out), 0);
    EXPECT_STREQ(out, "C:\\Tools\\Quillmark.exe");
    EXPECT_EQ(OwnExecutablePath("Quillmark.exe", out, sizeof out), 0);
    EXPECT_STREQ(out, "Quillmark.exe");
    EXPECT_EQ(OwnExecutablePath(nullptr, out, sizeof out), -1);
}

#else

#include <csignal>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

TEST(SelfPath, RealPathOfTheRunningFile_Posix)
{
    char out[4096];
    // argv[0] plays no part: on Linux it may be anything the parent chose.
    ASSERT_EQ(OwnExecutablePath("Quillmark", out, sizeof out), 0);
    EXPECT_EQ(out[0], '/');
    bool isDirectory = true;
    EXPECT_TRUE(QueryPathEntry(out, &isDirectory));
    EXPECT_FALSE(isDirectory);
    EXPECT_EQ(std::filesystem::path(out).filename().string(), "platform_test");
    EXPECT_EQ(std::filesystem::path(out), std::filesystem::canonical(out));
}

void OnAlarm(int) {}

TEST(Sleep, SignalsDoNotCutThePauseShort_Posix)
{
    struct sigaction action = {}, previous = {};
    action.sa_handler = OnAlarm; // no SA_RESTART: the sleep is interrupted
    sigaction(SIGALRM, &action, &previous);
    itimerval timer = {};
    timer.it_value.tv_usec = 10000;
    timer.it_interval.tv_usec = 10000;
    setitimer(ITIMER_REAL, &timer, nullptr);

    const auto start = std::chrono::steady_clock::now();
    SleepMs(100);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    const itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    EXPECT_GE(elapsed, std::chrono::milliseconds(100));
}

// The file is made with its final mode: there is no moment in which another user could open it, whatever
// the umask says.
TEST(CreateNewFile, OwnerOnlyFromTheStart_Posix)
{
    TempDir dir;
    const mode_t before = umask(0);
    const std::string owned = dir.File("owned");
    const std::string shared = dir.File("shared");
    std::FILE *ownerOnly = CreateNewFile(owned.c_str(), true);
    std::FILE *plain = CreateNewFile(shared.c_str());
    umask(before);
    ASSERT_NE(ownerOnly, nullptr);
    ASSERT_NE(plain, nullptr);
    // Looked at while the file is still open, before anything else was done to it.
    struct stat info;
    ASSERT_EQ(fstat(fileno(ownerOnly), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(fstat(fileno(plain), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666u);
    std::fclose(ownerOnly);
    std::fclose(plain);
}

TEST(CreateNewFile, NothingThereIsOpened_Posix)
{
    TempDir dir;
    const std::string existing = dir.File("existing");
    const std::string target = dir.File("target");
    const std::string link = dir.File("link");
    const std::string dangling = dir.File("dangling");
    std::FILE *first = CreateNewFile(existing.c_str());
    ASSERT_NE(first, nullptr);
    std::fclose(first);
    ASSERT_EQ(symlink(target.c_str(), dangling.c_str()), 0);
    ASSERT_EQ(symlink(existing.c_str(), link.c_str()), 0);
    for (const std::string &path : {existing, link, dangling}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(CreateNewFile(path.c_str()), nullptr);
    }
    struct stat info;
    EXPECT_NE(stat(target.c_str(), &info), 0); // the dangling link's target was not made
}

TEST(RemoveFolderTree, RemovesEverythingButFollowsNoLink_Posix)
{
    TempDir dir;
    const std::string outside = dir.File("outside");
    const std::string tree = dir.File("tree");
    ASSERT_TRUE(MakeFolder(outside.c_str()));
    std::FILE *kept = CreateNewFile((outside + "/kept").c_str());
    ASSERT_NE(kept, nullptr);
    std::fclose(kept);
    ASSERT_TRUE(MakeFolder(tree.c_str()));
    ASSERT_TRUE(MakeFolder((tree + "/sub").c_str()));
    ASSERT_TRUE(MakeFolder((tree + "/sub/x\xff").c_str()));
    std::FILE *inner = CreateNewFile((tree + "/sub/x\xff/\xd6\xd0.txt").c_str());
    ASSERT_NE(inner, nullptr);
    std::fclose(inner);
    ASSERT_EQ(symlink(outside.c_str(), (tree + "/sub/link").c_str()), 0);
    EXPECT_TRUE(RemoveFolderTree(tree.c_str()));
    struct stat info;
    EXPECT_NE(lstat(tree.c_str(), &info), 0);
    EXPECT_EQ(stat((outside + "/kept").c_str(), &info), 0);
}

} // namespace

#endif
