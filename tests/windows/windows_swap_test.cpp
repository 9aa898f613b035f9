// The swap on Windows: a running copy of a program is moved aside and replaced in a folder with a Chinese
// name (code page 936) and backslash paths, a failure part-way puts everything back, and so does the
// next start after the swap was cut off at any step.

#include "tests/unit/update_cutoff.h"
#include "tests/windows/wintest.h"
#include "update/packagenames.h"
#include "update/swap.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class WindowsSwap : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root = wintest::MakeScratchFolder("swap");
        ASSERT_FALSE(root.empty());
        app = root + "\\" + wintest::kGbkFolderName + "\\";
        ASSERT_TRUE(CreateDirectoryA(app.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((app + "lang").c_str(), nullptr));
        const std::string stage = app + "Quillmark_update.t1";
        ASSERT_TRUE(CreateDirectoryA(stage.c_str(), nullptr));
        staged = stage + "\\p";
        ASSERT_TRUE(CreateDirectoryA(staged.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((stage + "\\d").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((staged + "\\lang").c_str(), nullptr));

        // The old program is a real, running program; the new one is another real program.
        exe = app + "Quillmark.exe";
        ASSERT_TRUE(
            CopyFileA((wintest::OwnFolder() + "\\windows_guard_child.exe").c_str(), exe.c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((wintest::OwnFolder() + "\\windows_launch_child.exe").c_str(),
                              (staged + "\\quillmark.EXE").c_str(), FALSE));
        oldProgram = wintest::ReadBytes(exe);
        newProgram = wintest::ReadBytes(staged + "\\quillmark.EXE");
        ASSERT_NE(oldProgram, newProgram);
        ASSERT_TRUE(wintest::WriteBytes(app + "readme.txt", "old readme"));
        ASSERT_TRUE(wintest::WriteBytes(app + "lang\\zh.txt", "old zh"));
        ASSERT_TRUE(wintest::WriteBytes(app + wintest::kGbkFileName, "kept"));
        ASSERT_TRUE(wintest::WriteBytes(staged + "\\readme.txt", "new readme"));
        ASSERT_TRUE(wintest::WriteBytes(staged + "\\lang\\zh.txt", "new zh"));
        ASSERT_TRUE(wintest::WriteBytes(staged + "\\lang\\en.txt", "new en"));

        const PackageNameRules rules = RulesForProgram(exe, "Quillmark.exe");
        std::vector<CheckedEntry> checked;
        // Entry names as a zip holds them: forward slashes, the executable in another case.
        ASSERT_TRUE(
            CheckPackageNames({"readme.txt", "lang/zh.txt", "lang/en.txt", "quillmark.EXE"}, rules, checked));
        ASSERT_TRUE(PlanSwap(checked, rules, stage, app, exe, plan));
        ASSERT_EQ(staged + "\\quillmark.EXE", plan.stagedExecutable);
        ASSERT_EQ(app + "Quillmark_old", plan.backupPath);
        ASSERT_TRUE(running.Start(exe));
    }
    void TearDown() override
    {
        TerminateProcess(running.Handle(), 0);
        running.WaitForExit(5000);
        wintest::RemoveTree(root);
    }

    std::string root, app, staged, exe, oldProgram, newProgram;
    SwapPlan plan;
    wintest::Child running;
};

TEST_F(WindowsSwap, RunningProgramIsMovedAsideAndReplaced)
{
    ASSERT_EQ(SwapResult::Done, RunSwap(plan));
    EXPECT_EQ(newProgram, wintest::ReadBytes(exe));
    EXPECT_EQ(oldProgram, wintest::ReadBytes(app + "Quillmark_old"));
    EXPECT_EQ("new readme", wintest::ReadBytes(app + "readme.txt"));
    EXPECT_EQ("new zh", wintest::ReadBytes(app + "lang\\zh.txt"));
    EXPECT_EQ("new en", wintest::ReadBytes(app + "lang\\en.txt"));
    EXPECT_EQ("kept", wintest::ReadBytes(app + wintest::kGbkFileName));
    // The old program goes on running from its new name.
    EXPECT_FALSE(running.WaitForExit(0));
}

TEST_F(WindowsSwap, EarlierBackupStillRunningDoesNotStopTheSwap)
{
    // The program of the update before, still running under its backup name: it cannot be deleted, but it
    // can be moved aside.
    const std::string backup = app + "Quillmark_old";
    // Bytes after the image do not change what runs, but tell this file from the program.
    ASSERT_TRUE(wintest::WriteBytes(backup, oldProgram + "earlier release"));
    wintest::Child backupRunning;
    ASSERT_TRUE(backupRunning.Start(backup));
    EXPECT_EQ(SwapResult::Done, RunSwap(plan));
    EXPECT_EQ(newProgram, wintest::ReadBytes(exe));
    EXPECT_EQ(oldProgram, wintest::ReadBytes(backup));
    TerminateProcess(backupRunning.Handle(), 0);
    backupRunning.WaitForExit(5000);
}

// Cut off after every step in turn while the old program runs (an exception out of the step skips every
// way back, as a kill would), then what the next start does: the folder holds the old release or the new
// one, whole. Windows renames the running program to its backup name just before the new one takes its
// name: cut off between the two, no program stands at its name until the next start of the program from
// anywhere puts it back (here, the test runs that start's recovery itself).
TEST_F(WindowsSwap, CutOffAtAnyStepIsFinishedOrUndoneByTheNextStart)
{
    for (int cutAfter = 1;; ++cutAfter) {
        SCOPED_TRACE("cut off after step " + std::to_string(cutAfter));
        if (cutAfter > 1) {
            TearDown();
            SetUp();
        }
        const bool cut = SwapCutOffAfter(plan, cutAfter);
        const RecoveryCounts counts = RecoverUnfinishedUpdates(app);
        EXPECT_EQ(0, counts.kept);
        const bool isNew = wintest::ReadBytes(exe) == newProgram;
        EXPECT_EQ(isNew ? newProgram : oldProgram, wintest::ReadBytes(exe));
        EXPECT_EQ(isNew ? oldProgram : "<missing>", wintest::ReadBytes(app + "Quillmark_old"));
        EXPECT_EQ(isNew ? "new readme" : "old readme", wintest::ReadBytes(app + "readme.txt"));
        EXPECT_EQ(isNew ? "new zh" : "old zh", wintest::ReadBytes(app + "lang\\zh.txt"));
        EXPECT_EQ(isNew ? "new en" : "<missing>", wintest::ReadBytes(app + "lang\\en.txt"));
        EXPECT_EQ("kept", wintest::ReadBytes(app + wintest::kGbkFileName));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((app + "Quillmark_update.t1").c_str()));
        EXPECT_FALSE(running.WaitForExit(0));
        if (!cut) {
            EXPECT_TRUE(isNew);
            EXPECT_GT(cutAfter, 6) << "fewer steps than the scene needs";
            break;
        }
    }
}

TEST_F(WindowsSwap, FileHeldOpenPartWayRestoresEverything)
{
    // lang\zh.txt comes after readme.txt; held open without sharing, it cannot be moved aside.
    HANDLE held = CreateFileA((app + "lang\\zh.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    const SwapResult result = RunSwap(plan);
    CloseHandle(held);
    EXPECT_EQ(SwapResult::RolledBack, result);
    EXPECT_EQ(oldProgram, wintest::ReadBytes(exe));
    EXPECT_EQ("<missing>", wintest::ReadBytes(app + "Quillmark_old"));
    EXPECT_EQ("old readme", wintest::ReadBytes(app + "readme.txt"));
    EXPECT_EQ("old zh", wintest::ReadBytes(app + "lang\\zh.txt"));
    EXPECT_EQ("<missing>", wintest::ReadBytes(app + "lang\\en.txt"));
    EXPECT_EQ(newProgram, wintest::ReadBytes(plan.stagedExecutable));
    EXPECT_FALSE(running.WaitForExit(0));
}

} // namespace
