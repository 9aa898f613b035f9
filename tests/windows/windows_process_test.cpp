// The instance guard's process calls (Toolhelp32, OpenProcess, TerminateProcess) against real processes:
// copies of a small idle program started with CreateProcessA under chosen names.

#include "platform/process.h"
#include "tests/windows/wintest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char kName[] = "QmGuard.exe";
const char kOtherCase[] = "qmguard.exe";
const char kOtherName[] = "QmGuard_copy.exe";

class WindowsInstanceGuard : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = wintest::MakeScratchFolder("guard");
        ASSERT_FALSE(dir.empty());
        ASSERT_TRUE(CreateDirectoryA((dir + "\\a").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((dir + "\\b").c_str(), nullptr));
        const std::string child = wintest::OwnFolder() + "\\windows_guard_child.exe";
        ASSERT_TRUE(CopyFileA(child.c_str(), Program(kName).c_str(), FALSE)) << child;
        ASSERT_TRUE(CopyFileA(child.c_str(), Program(kOtherName).c_str(), FALSE));
        // A case-insensitive file system holds one of the two spellings per folder.
        ASSERT_TRUE(CopyFileA(child.c_str(), (dir + "\\b\\" + kOtherCase).c_str(), FALSE));
        ASSERT_EQ(CountProcessesByName(kName), 0) << "a stray " << kName << " is running";
    }
    void TearDown() override { wintest::RemoveTree(dir); }

    std::string Program(const char *name) const { return dir + "\\a\\" + name; }

    std::string dir;
};

std::string OwnExecutableName()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string own(path, n < sizeof path ? n : 0);
    return own.substr(own.find_last_of('\\') + 1);
}

TEST(WindowsProcessCount, CountsTheCallingProcessItself)
{
    // Start-up relies on this: its own process is part of the count, so "more than one" means another.
    EXPECT_GE(CountProcessesByName(OwnExecutableName().c_str()), 1);
}

// With no other copy running, the guard finds only its caller, which it must never end (the test program
// would end here with exit code 0 and no summary).
TEST(WindowsProcessCount, CallerIsNeverEndedByItsOwnGuard)
{
    const std::string own = OwnExecutableName();
    ASSERT_EQ(CountProcessesByName(own.c_str()), 1);
    EXPECT_EQ(TerminateProcessByName(own.c_str()), 0);
    EXPECT_EQ(CountProcessesByName(own.c_str()), 1);
}

TEST(WindowsProcessCount, NullOrUnknownNameMatchesNothing)
{
    EXPECT_EQ(CountProcessesByName(nullptr), 0);
    EXPECT_EQ(TerminateProcessByName(nullptr), 0);
    EXPECT_EQ(CountProcessesByName("NoSuchQuillmarkProgram.exe"), 0);
    EXPECT_EQ(TerminateProcessByName("NoSuchQuillmarkProgram.exe"), 0);
    // A full path is not an executable file name.
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    EXPECT_EQ(CountProcessesByName(path), 0);
}

TEST_F(WindowsInstanceGuard, EndsOnlyTheOldestOfTheSameNameWithExitCodeZero)
{
    wintest::Child first, otherCase, otherName, second;
    ASSERT_TRUE(first.Start(Program(kName)));
    ASSERT_TRUE(otherCase.Start(dir + "\\b\\" + kOtherCase));
    ASSERT_TRUE(otherName.Start(Program(kOtherName)));
    EXPECT_EQ(CountProcessesByName(kName), 1);
    EXPECT_EQ(CountProcessesByName(kOtherCase), 1);
    EXPECT_EQ(CountProcessesByName(kOtherName), 1);
    EXPECT_EQ(CountProcessesByName("QMGUARD.EXE"), 0);

    Sleep(50);
    ASSERT_TRUE(second.Start(Program(kName)));
    EXPECT_EQ(CountProcessesByName(kName), 2);

    // What start-up does when it sees more than one: end the first listed, the older one.
    EXPECT_EQ(TerminateProcessByName(kName), 1);
    ASSERT_TRUE(first.WaitForExit(10000));
    EXPECT_EQ(first.ExitCode(), 0u);
    EXPECT_FALSE(second.WaitForExit(200));
    EXPECT_FALSE(otherCase.WaitForExit(0)) << "a name differing in letter case was ended";
    EXPECT_FALSE(otherName.WaitForExit(0)) << "a copy under another name was ended";
    EXPECT_EQ(CountProcessesByName(kName), 1);

    EXPECT_EQ(TerminateProcessByName(kName), 1);
    ASSERT_TRUE(second.WaitForExit(10000));
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_EQ(CountProcessesByName(kName), 0);
    EXPECT_EQ(TerminateProcessByName(kName), 0);
    EXPECT_FALSE(otherCase.WaitForExit(0));
    EXPECT_FALSE(otherName.WaitForExit(0));
}

TEST_F(WindowsInstanceGuard, CopyUnderAnotherNameIsNeverEnded)
{
    wintest::Child otherName, otherCase;
    ASSERT_TRUE(otherName.Start(Program(kOtherName)));
    ASSERT_TRUE(otherCase.Start(dir + "\\b\\" + kOtherCase));
    EXPECT_EQ(CountProcessesByName(kName), 0);
    EXPECT_EQ(TerminateProcessByName(kName), 0);
    EXPECT_FALSE(otherName.WaitForExit(200));
    EXPECT_FALSE(otherCase.WaitForExit(0));
}

// Not asserted: Wine lists only the processes of its own prefix (no system processes, no other users'),
// and a process it cannot open (another user's, elevated) cannot be shown there; on Windows
// OpenProcess fails for such a process and TerminateProcessByName still returns 1 without ending it.

} // namespace
