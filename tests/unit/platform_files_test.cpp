#include "platform/fileinfo.h"
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
#include <sys/time.h>

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

} // namespace

#endif
