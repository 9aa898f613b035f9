// Package names and the swap of the program's files: which names a package may carry, the plan of moves,
// the moves themselves on real files with every step made to fail in turn, and the swap cut off at every
// step and finished or undone by the next start.

#include "platform/selfpath.h"
#include "support_tempdir.h"
#include "update/packagenames.h"
#include "update/swap.h"
#include "update_cutoff.h"

#include <gtest/gtest.h>
#include <map>

namespace {

struct NameCase
{
    const char *name;
    std::string entry;
    bool windowsNames;
    bool allowed;
};

class PackageName : public testing::TestWithParam<NameCase>
{
};

TEST_P(PackageName, IsAllowedOrRefusedAsTheTableSays)
{
    const NameCase &c = GetParam();
    const std::string exe = c.windowsNames ? "Quillmark.exe" : "Quillmark";
    const std::string exePath = c.windowsNames ? "C:\\Tools\\Quillmark.exe" : "/opt/q/Quillmark";
    const PackageNameRules rules = RulesForProgram(exePath, exe, c.windowsNames);
    std::vector<CheckedEntry> checked;
    std::string why;
    EXPECT_EQ(c.allowed, CheckPackageNames({c.entry}, rules, checked, &why)) << why;
    EXPECT_EQ(c.allowed ? 1u : 0u, checked.size());
}

const NameCase kNames[] = {
    {"Executable", "Quillmark", false, true},
    {"PlainFile", "readme.txt", false, true},
    {"NestedFile", "lang/zh.txt", false, true},
    {"FolderEntry", "lang/", false, true},
    {"BackslashSeparators", "lang\\zh.txt", false, true},
    {"NestedStagingName", "Quillmark_update/Quillmark", false, false},
    {"StagingPrefix", "Quillmark_update.x1y2z3/readme.txt", false, false},
    {"StagingFolderEntry", "Quillmark_update/", false, false},
    {"BackupName", "Quillmark_old", false, false},
    {"BackupNameOtherCaseOnLinux", "quillmark_old", false, true},
    {"SettingsFile", "Quillmark.kov", false, false},
    {"PackageFile", "Quillmark.zip", false, false},
    {"PartialDownload", "Quillmark.zip.part", false, false},
    {"ExecutableBelowTheTop", "lang/Quillmark", false, false},
    {"ExecutableAsFolder", "Quillmark/readme.txt", false, false},
    {"ExecutableAsFolderEntry", "Quillmark/", false, false},
    {"NulInTheName", std::string("a\0Z\0b.txt", 9), false, false},
    {"Parent", "../evil.txt", false, false},
    {"NestedParent", "lang/../../evil.txt", false, false},
    {"BackslashParent", "..\\evil.txt", false, false},
    {"Absolute", "/tmp/evil.txt", false, false},
    {"AbsoluteBackslash", "\\evil.txt", false, false},
    {"Drive", "C:/evil.txt", false, false},
    {"Stream", "readme.txt:hidden", false, false},
    {"DotPartHidesAReservedName", "./Quillmark.kov", false, false},
    {"EmptyPart", "lang//zh.txt", false, false},
    {"Empty", "", false, false},
    {"DeviceNameOnLinux", "CON", false, true},
    {"WindowsExecutable", "Quillmark.exe", true, true},
    {"WindowsExecutableOtherCase", "quillmark.EXE", true, true},
    {"WindowsExecutableBelowTheTop", "bin\\QUILLMARK.exe", true, false},
    {"WindowsBackupOtherCase", "quillmark_OLD", true, false},
    {"WindowsSettingsOtherCase", "QUILLMARK.KOV", true, false},
    {"WindowsStagingOtherCase", "quillmark_UPDATE/Quillmark.exe", true, false},
    {"WindowsTrailingDot", "Quillmark.kov.", true, false},
    {"WindowsTrailingSpace", "readme.txt ", true, false},
    {"WindowsTrailingDotInFolder", "lang./zh.txt", true, false},
    {"WindowsDevice", "CON", true, false},
    {"WindowsDeviceWithExtension", "nul.txt", true, false},
    {"WindowsDeviceInFolder", "lang/com1", true, false},
    {"WindowsPrinterPort", "LPT9.log", true, false},
    {"WindowsNotADevice", "conference.txt", true, true},
    {"WindowsComTen", "COM10", true, true},
    {"WindowsShortNameAlias", "QUILLM~1.KOV", true, false},
    {"WindowsForbiddenCharacter", "a<b.txt", true, false},
    {"WindowsChineseName", "\xe8\xaf\xb4\xe6\x98\x8e.txt", true, true},
};

INSTANTIATE_TEST_SUITE_P(Names, PackageName, testing::ValuesIn(kNames),
                         [](const testing::TestParamInfo<NameCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(PackageNames, RenamedProgramReservesItsOwnNameAndBackup)
{
    const PackageNameRules rules = RulesForProgram("/opt/q/Print2", "Quillmark", false);
    std::vector<CheckedEntry> checked;
    EXPECT_TRUE(CheckPackageNames({"Quillmark", "readme.txt"}, rules, checked));
    EXPECT_FALSE(CheckPackageNames({"Quillmark", "Print2"}, rules, checked));
    EXPECT_FALSE(CheckPackageNames({"Quillmark", "Print2_old"}, rules, checked));
    EXPECT_FALSE(CheckPackageNames({"Quillmark", "Quillmark_old"}, rules, checked));
}

TEST(PackageNames, TwoEntriesForOnePathAreRefused)
{
    std::vector<CheckedEntry> checked;
    const PackageNameRules linux = RulesForProgram("/q/Quillmark", "Quillmark", false);
    const PackageNameRules windows = RulesForProgram("C:\\q\\Quillmark.exe", "Quillmark.exe", true);
    EXPECT_FALSE(CheckPackageNames({"Quillmark", "a.txt", "a.txt"}, linux, checked));
    EXPECT_FALSE(CheckPackageNames({"Quillmark", "lang/", "lang\\"}, linux, checked));
    EXPECT_TRUE(CheckPackageNames({"Quillmark", "a.txt", "A.txt"}, linux, checked));
    EXPECT_FALSE(CheckPackageNames({"Quillmark.exe", "a.txt", "A.txt"}, windows, checked));
    EXPECT_FALSE(CheckPackageNames({"Quillmark.exe", "QUILLMARK.EXE"}, windows, checked));
}

std::string Sep()
{
    return std::string(1, NativeSeparator());
}

TEST(SwapPlan, ExecutableIsFoundByNameAndGoesLastToTheProgramsPath)
{
    // The Windows case: backslash paths, the executable's name in another case.
    const PackageNameRules rules = RulesForProgram("C:\\Tools\\Print2.exe", "Quillmark.exe", true);
    std::vector<CheckedEntry> checked;
    ASSERT_TRUE(CheckPackageNames({"lang/zh.txt", "QUILLMARK.exe", "readme.txt", "lang/", "doc/a/b.txt"},
                                  rules, checked));
    SwapPlan plan;
    ASSERT_TRUE(PlanSwap(checked, rules, "C:\\Tools\\stage", "C:\\Tools\\", "C:\\Tools\\Print2.exe", plan));
    const std::string staged = "C:\\Tools\\stage" + Sep() + "p" + Sep();
    EXPECT_EQ(staged + "QUILLMARK.exe", plan.stagedExecutable);
    EXPECT_EQ("C:\\Tools\\Print2.exe", plan.exePath);
    EXPECT_EQ("C:\\Tools\\Print2_old", plan.backupPath);
    const std::vector<std::pair<std::string, std::string>> files = {
        {staged + "lang" + Sep() + "zh.txt", "C:\\Tools\\lang" + Sep() + "zh.txt"},
        {staged + "readme.txt", "C:\\Tools\\readme.txt"},
        {staged + "doc" + Sep() + "a" + Sep() + "b.txt", "C:\\Tools\\doc" + Sep() + "a" + Sep() + "b.txt"},
    };
    EXPECT_EQ(files, plan.files);
    const std::vector<std::string> folders = {"C:\\Tools\\lang", "C:\\Tools\\doc",
                                              "C:\\Tools\\doc" + Sep() + "a"};
    EXPECT_EQ(folders, plan.folders);
}

TEST(SwapPlan, PackageWithoutTheExecutableHasNoPlan)
{
    const PackageNameRules rules = RulesForProgram("/q/Quillmark", "Quillmark", false);
    std::vector<CheckedEntry> checked;
    ASSERT_TRUE(CheckPackageNames({"readme.txt", "Quillmark.exe"}, rules, checked));
    SwapPlan plan;
    EXPECT_FALSE(PlanSwap(checked, rules, "/s", "/q/", "/q/Quillmark", plan));
}

struct JournalCase
{
    const char *name;
    std::string text;
    bool accepted;
};

class SwapJournal : public testing::TestWithParam<JournalCase>
{
};

// The journal the next start reads: one cut short belongs to a swap that never began, and one naming a
// path outside the program's folder or the staging folder is never acted on.
TEST_P(SwapJournal, IsTakenOnlyWhole)
{
    SwapPlan plan;
    bool earlier = false;
    EXPECT_EQ(GetParam().accepted,
              ParseSwapJournal(GetParam().text, "/q/", "/q/Quillmark_update.x", plan, earlier));
}

const std::string kJournalHead =
    "Quillmark swap journal 1\nprogram Quillmark\nbackup Quillmark_old\nnew p/Quillmark\n"
    "earlier 1\n";
const JournalCase kJournals[] = {
    {"whole", kJournalHead + "folder lang\nfile lang/zh.txt\nend\n", true},
    {"cut_short", kJournalHead + "folder lang\nfile lang/zh.txt\n", false},
    {"parent_part", kJournalHead + "file ../elsewhere.txt\nend\n", false},
    {"absolute", kJournalHead + "file /etc/passwd\nend\n", false},
    {"program_in_a_folder",
     "Quillmark swap journal 1\nprogram a/Quillmark\nbackup Quillmark_old\nnew p/Quillmark\n"
     "earlier 0\nend\n",
     false},
    {"new_program_outside_staging",
     "Quillmark swap journal 1\nprogram Quillmark\nbackup Quillmark_old\nnew "
     "d/backup\nearlier 0\nend\n",
     false},
    {"unknown_line", kJournalHead + "delete everything\nend\n", false},
};

INSTANTIATE_TEST_SUITE_P(Journals, SwapJournal, testing::ValuesIn(kJournals),
                         [](const testing::TestParamInfo<JournalCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(SwapJournal, NamesKeepTheirBytes)
{
    const PackageNameRules rules = RulesForProgram("/q/Quillmark", "Quillmark", false);
    std::vector<CheckedEntry> checked;
    const std::string odd = "a b%20\x01\xe6\x96\x87.txt";
    ASSERT_TRUE(CheckPackageNames({"Quillmark", odd}, rules, checked));
    SwapPlan plan, read;
    ASSERT_TRUE(PlanSwap(checked, rules, "/q/Quillmark_update.x", "/q/", "/q/Quillmark", plan));
    bool earlier = false;
    ASSERT_TRUE(ParseSwapJournal(SwapJournalText(plan, true), "/q/", "/q/Quillmark_update.x", read, earlier));
    EXPECT_TRUE(earlier);
    EXPECT_EQ(plan.files, read.files);
    EXPECT_EQ(plan.exePath, read.exePath);
    EXPECT_EQ(plan.stagedExecutable, read.stagedExecutable);
}

using Tree = std::map<std::string, std::string>; // relative path -> content, "<dir>" for folders

// The program's folder as its user sees it: the updater's staging folders are not part of it.
Tree Snapshot(const std::filesystem::path &root)
{
    Tree tree;
    for (auto entry = std::filesystem::recursive_directory_iterator(root);
         entry != std::filesystem::recursive_directory_iterator(); ++entry) {
        const std::string name = std::filesystem::relative(entry->path(), root).generic_string();
        if (name.rfind("Quillmark_update.", 0) == 0) {
            entry.disable_recursion_pending();
            continue;
        }
        tree[name] = entry->is_directory() ? "<dir>" : ReadBytes(entry->path().string());
    }
    return tree;
}

std::vector<std::string> StagingFolders(const std::string &app)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(app)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("Quillmark_update.", 0) == 0) {
            names.push_back(name);
        }
    }
    return names;
}

// A program folder with a running program, its earlier backup, a file the release replaces and one it
// keeps, and a release unpacked into a staging folder beside it.
struct SwapScene
{
    TempDir root;
    std::string app;
    std::string exe;
    std::string exeName;
    SwapPlan plan;
    Tree before;
    Tree after; // the folder once the release is in

    SwapScene()
    {
        app = root.Path() + "app" + Sep();
        const std::string staging = app + "Quillmark_update.test";
        const std::string staged = staging + Sep() + "p" + Sep();
        std::filesystem::create_directories(app + "lang");
        std::filesystem::create_directories(staged + "lang");
        std::filesystem::create_directories(staged + "doc");
        std::filesystem::create_directories(staging + Sep() + "d");
        exeName = PlatformUsesWindowsFileNames() ? "Quillmark.exe" : "Quillmark";
        exe = app + exeName;
        WriteBytes(exe, "old program");
        WriteBytes(BackupPathFor(exe), "earlier backup");
        WriteBytes(app + "readme.txt", "old readme");
        WriteBytes(app + "Quillmark.kov", "sourcePath=x\r\n");
        WriteBytes(staged + exeName, "new program");
        WriteBytes(staged + "readme.txt", "new readme");
        WriteBytes(staged + "lang" + Sep() + "zh.txt", "zh");
        WriteBytes(staged + "doc" + Sep() + "a.txt", "doc");
        const PackageNameRules rules = RulesForProgram(exe, exeName);
        std::vector<CheckedEntry> checked;
        EXPECT_TRUE(CheckPackageNames({"readme.txt", "lang/zh.txt", "doc/a.txt", exeName}, rules, checked));
        EXPECT_TRUE(PlanSwap(checked, rules, staging, app, exe, plan));
        before = Snapshot(app);
        const std::string backup = BackupPathFor(exe).substr(app.size());
        after = {{exeName, "new program"},     {backup, "old program"},
                 {"readme.txt", "new readme"}, {"lang", "<dir>"},
                 {"lang/zh.txt", "zh"},        {"doc", "<dir>"},
                 {"doc/a.txt", "doc"},         {"Quillmark.kov", "sourcePath=x\r\n"}};
    }
};

TEST(Swap, ReleaseTakesThePlaceOfTheProgram)
{
    SwapScene scene;
    ASSERT_EQ(SwapResult::Done, RunSwap(scene.plan));
    EXPECT_EQ(scene.after, Snapshot(scene.app));
    // The replaced file and the earlier backup wait in the parking folder for the caller to delete them with
    // the staging folder; the journal is gone.
    EXPECT_EQ("old readme", ReadBytes(scene.plan.displacedFolder + Sep() + "0"));
    EXPECT_EQ("earlier backup", ReadBytes(scene.plan.displacedFolder + Sep() + "backup"));
    EXPECT_FALSE(std::filesystem::exists(scene.plan.stagingFolder + Sep() + "journal"));
}

// Every step of the swap fails in turn (moves, the backup, folder creation, modes, the journal): the
// program folder must then be exactly as before, and the result must say so.
TEST(Swap, AFailureAtAnyStepLeavesTheFolderAsItWas)
{
    for (int failAt = 1;; ++failAt) {
        SwapScene scene;
        // The failAt-th step on the way forward fails; once one has failed, the way back runs unhindered.
        int steps = 0;
        bool failed = false;
        auto fails = [&] {
            if (failed) {
                return false;
            }
            failed = ++steps == failAt;
            return failed;
        };
        const SwapFileSystem real = PlatformFileSystem();
        SwapFileSystem fs = real;
        using Two = const std::string &;
        fs.move = [&](Two s, Two t) { return !fails() && real.move(s, t); };
        fs.replace = [&](Two s, Two t) { return !fails() && real.replace(s, t); };
        fs.keepCopy = [&](Two s, Two t) { return !fails() && real.keepCopy(s, t); };
        fs.makeFolder = [&](Two p) { return !fails() && real.makeFolder(p); };
        fs.setAccess = [&](Two p, FileAccess a) { return !fails() && real.setAccess(p, a); };
        fs.writeNew = [&](Two p, Two text) { return !fails() && real.writeNew(p, text); };
        const SwapResult result = RunSwap(scene.plan, fs);
        if (!failed) {
            EXPECT_EQ(SwapResult::Done, result);
            EXPECT_GT(failAt, 8) << "fewer steps than the scene needs";
            break;
        }
        EXPECT_TRUE(result == SwapResult::RolledBack || result == SwapResult::NothingChanged)
            << "step " << failAt << ": " << static_cast<int>(result);
        EXPECT_EQ(scene.before, Snapshot(scene.app)) << "step " << failAt;
    }
}

// The program is cut off after every step in turn (here by an exception out of the step, which skips
// every way back, as a kill or a power cut would), and the next start deals with what it left: the
// folder is then either the old release or the new one, whole, and no staging folder is left.
TEST(Swap, CutOffAtAnyStepIsFinishedOrUndoneByTheNextStart)
{
    for (int cutAfter = 1;; ++cutAfter) {
        SCOPED_TRACE("cut off after step " + std::to_string(cutAfter));
        SwapScene scene;
        const bool cut = SwapCutOffAfter(scene.plan, cutAfter);
        const RecoveryCounts counts = RecoverUnfinishedUpdates(scene.app);
        const Tree now = Snapshot(scene.app);
        EXPECT_TRUE(now == scene.before || now == scene.after);
        EXPECT_EQ(0, counts.kept);
        EXPECT_EQ(1, counts.completed + counts.rolledBack + counts.removed);
        EXPECT_TRUE(StagingFolders(scene.app).empty());
        if (!cut) {
            EXPECT_EQ(scene.after, now);
            EXPECT_GT(cutAfter, 8) << "fewer steps than the scene needs";
            break;
        }
    }
}

TEST(Swap, WayBackFailingIsReportedLosesNothingAndIsFinishedByTheNextStart)
{
    // The new program cannot go in, and the replaced read-me cannot come back from its parking place.
    SwapScene scene;
    const SwapFileSystem real = PlatformFileSystem();
    SwapFileSystem fs = real;
    const std::string parkedReadme = scene.plan.displacedFolder + Sep() + "0";
    fs.move = [&](const std::string &s, const std::string &t) {
        return s != parkedReadme && s != scene.plan.stagedExecutable && real.move(s, t);
    };
    fs.replace = [](const std::string &, const std::string &) { return false; };
    EXPECT_EQ(SwapResult::RollbackFailed, RunSwap(scene.plan, fs));
    // Every file is still somewhere, and the journal stays for the next start.
    EXPECT_EQ("old program", ReadBytes(scene.exe));
    EXPECT_EQ("old readme", ReadBytes(parkedReadme));
    EXPECT_EQ("new program", ReadBytes(scene.plan.stagedExecutable));
    ASSERT_TRUE(std::filesystem::exists(scene.plan.stagingFolder + Sep() + "journal"));
    const RecoveryCounts counts = RecoverUnfinishedUpdates(scene.app);
    EXPECT_EQ(1, counts.rolledBack);
    EXPECT_EQ(scene.before, Snapshot(scene.app));
    EXPECT_TRUE(StagingFolders(scene.app).empty());
}

TEST(Swap, FolderInTheWayOfAFileRollsBack)
{
    SwapScene scene;
    std::filesystem::create_directories(scene.app + "doc" + Sep() + "a.txt" + Sep() + "keep");
    const Tree before = Snapshot(scene.app);
    EXPECT_EQ(SwapResult::RolledBack, RunSwap(scene.plan));
    EXPECT_EQ(before, Snapshot(scene.app));
}

// What the next start leaves alone: a staging folder that a running update holds, and links at staging
// names; what it removes: a staging folder without a swap (an unpacking cut off), with or without a journal
// cut short.
TEST(Swap, NextStartClearsOnlyAbandonedStagingFolders)
{
    SwapScene scene;
    std::filesystem::remove_all(scene.plan.stagingFolder);
    const std::string held = scene.app + "Quillmark_update.held";
    const std::string abandoned = scene.app + "Quillmark_update.abandoned";
    const std::string torn = scene.app + "Quillmark_update.torn";
    for (const std::string &folder : {held, abandoned, torn}) {
        std::filesystem::create_directories(folder + Sep() + "p");
        WriteBytes(folder + Sep() + "p" + Sep() + "readme.txt", "unpacked");
    }
    WriteBytes(torn + Sep() + "journal", "Quillmark swap journal 1\nprogram " + scene.exeName + "\nbackup");
    const intptr_t hold = HoldFolder(held.c_str());
    ASSERT_NE(-1, hold);
    const RecoveryCounts counts = RecoverUnfinishedUpdates(scene.app);
    ReleaseFolder(hold);
    EXPECT_EQ(2, counts.removed);
    EXPECT_EQ(1, counts.kept);
    EXPECT_EQ(std::vector<std::string>{"Quillmark_update.held"}, StagingFolders(scene.app));
    EXPECT_EQ(scene.before, Snapshot(scene.app));
}

#ifndef _WIN32
// A link in the program's folder where the package has a folder: the package's files never land where it
// points, whether it was there before or is the staging name someone planted.
TEST(Swap, LinksInTheProgramsFolderAreNeverFollowed_Posix)
{
    SwapScene scene;
    TempDir elsewhere;
    std::filesystem::remove_all(scene.app + "lang");
    std::filesystem::create_directory_symlink(elsewhere.FsPath(), scene.app + "lang");
    std::filesystem::create_directory_symlink(elsewhere.FsPath(), scene.app + "Quillmark_update.planted");
    WriteBytes(elsewhere.File("precious.txt"), "precious");
    const Tree before = Snapshot(scene.app);
    EXPECT_EQ(SwapResult::RolledBack, RunSwap(scene.plan));
    EXPECT_EQ(before, Snapshot(scene.app));
    RecoverUnfinishedUpdates(scene.app);
    EXPECT_EQ(std::vector<std::string>{"precious.txt"}, elsewhere.Entries());
    EXPECT_TRUE(std::filesystem::is_symlink(scene.app + "Quillmark_update.planted"));
}
#endif

} // namespace
