// Package names and the swap of the program's files: which names a package may carry, the plan of moves,
// and the moves themselves on real files, with every step made to fail in turn.

#include "platform/selfpath.h"
#include "support_tempdir.h"
#include "update/packagenames.h"
#include "update/swap.h"

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
    ASSERT_TRUE(PlanSwap(checked, rules, "C:\\Tools\\stage\\p", "C:\\Tools\\stage\\d", "C:\\Tools\\",
                         "C:\\Tools\\Print2.exe", plan));
    EXPECT_EQ("C:\\Tools\\stage\\p" + Sep() + "QUILLMARK.exe", plan.stagedExecutable);
    EXPECT_EQ("C:\\Tools\\Print2.exe", plan.exePath);
    EXPECT_EQ("C:\\Tools\\Print2_old", plan.backupPath);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"C:\\Tools\\stage\\p" + Sep() + "lang" + Sep() + "zh.txt", "C:\\Tools\\lang" + Sep() + "zh.txt"},
        {"C:\\Tools\\stage\\p" + Sep() + "readme.txt", "C:\\Tools\\readme.txt"},
        {"C:\\Tools\\stage\\p" + Sep() + "doc" + Sep() + "a" + Sep() + "b.txt",
         "C:\\Tools\\doc" + Sep() + "a" + Sep() + "b.txt"},
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
    EXPECT_FALSE(PlanSwap(checked, rules, "/s/p", "/s/d", "/q/", "/q/Quillmark", plan));
}

using Tree = std::map<std::string, std::string>; // relative path -> content, "<dir>" for folders

Tree Snapshot(const std::filesystem::path &root)
{
    Tree tree;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = std::filesystem::relative(entry.path(), root).generic_string();
        tree[name] = entry.is_directory() ? "<dir>" : ReadBytes(entry.path().string());
    }
    return tree;
}

// A program folder with a running program, its earlier backup, a file the release replaces and one it
// keeps, and a release unpacked beside it.
struct SwapScene
{
    TempDir root;
    std::string app;
    std::string exe;
    SwapPlan plan;

    SwapScene()
    {
        app = root.Path() + "app" + Sep();
        std::filesystem::create_directories(app + "lang");
        std::filesystem::create_directories(root.Path() + "stage" + Sep() + "p" + Sep() + "lang");
        std::filesystem::create_directories(root.Path() + "stage" + Sep() + "p" + Sep() + "doc");
        std::filesystem::create_directories(root.Path() + "stage" + Sep() + "d");
        const std::string exeName = PlatformUsesWindowsFileNames() ? "Quillmark.exe" : "Quillmark";
        exe = app + exeName;
        WriteBytes(exe, "old program");
        WriteBytes(BackupPathFor(exe), "earlier backup");
        WriteBytes(app + "readme.txt", "old readme");
        WriteBytes(app + "Quillmark.kov", "sourcePath=x\r\n");
        const std::string staged = root.Path() + "stage" + Sep() + "p" + Sep();
        WriteBytes(staged + exeName, "new program");
        WriteBytes(staged + "readme.txt", "new readme");
        WriteBytes(staged + "lang" + Sep() + "zh.txt", "zh");
        WriteBytes(staged + "doc" + Sep() + "a.txt", "doc");
        const PackageNameRules rules = RulesForProgram(exe, exeName);
        std::vector<CheckedEntry> checked;
        EXPECT_TRUE(CheckPackageNames({"readme.txt", "lang/zh.txt", "doc/a.txt", exeName}, rules, checked));
        EXPECT_TRUE(PlanSwap(checked, rules, root.Path() + "stage" + Sep() + "p",
                             root.Path() + "stage" + Sep() + "d", app, exe, plan));
    }
};

TEST(Swap, ReleaseTakesThePlaceOfTheProgram)
{
    SwapScene scene;
    ASSERT_EQ(SwapResult::Done, RunSwap(scene.plan));
    const Tree app = Snapshot(scene.app);
    const std::string backup = BackupPathFor(scene.exe).substr(scene.app.size());
    const std::string exe = scene.exe.substr(scene.app.size());
    const Tree expected = {{exe, "new program"},         {backup, "old program"},
                           {"readme.txt", "new readme"}, {"lang", "<dir>"},
                           {"lang/zh.txt", "zh"},        {"doc", "<dir>"},
                           {"doc/a.txt", "doc"},         {"Quillmark.kov", "sourcePath=x\r\n"}};
    EXPECT_EQ(expected, app);
    // The replaced file and the earlier backup wait in the parking folder for the caller to delete them with
    // the staging folder.
    EXPECT_EQ("old readme", ReadBytes(scene.plan.displacedFolder + Sep() + "0"));
    EXPECT_EQ("earlier backup", ReadBytes(scene.plan.displacedFolder + Sep() + "backup"));
}

// Every step of the swap fails in turn (moves, folder creation, permissions):
// the program folder must then be exactly as before, and the result must say so.
TEST(Swap, AFailureAtAnyStepLeavesTheFolderAsItWas)
{
    for (int failAt = 1;; ++failAt) {
        SwapScene scene;
        const Tree before = Snapshot(scene.app);
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
        fs.move = [&](const std::string &s, const std::string &t) { return !fails() && real.move(s, t); };
        fs.makeFolder = [&](const std::string &p) { return !fails() && real.makeFolder(p); };
        fs.copyPermissions = [&](const std::string &s, const std::string &t) {
            return !fails() && real.copyPermissions(s, t);
        };
        const SwapResult result = RunSwap(scene.plan, fs);
        if (!failed) {
            EXPECT_EQ(SwapResult::Done, result);
            EXPECT_GT(failAt, 8) << "fewer steps than the scene needs";
            break;
        }
        EXPECT_TRUE(result == SwapResult::RolledBack || result == SwapResult::NothingChanged)
            << "step " << failAt << ": " << static_cast<int>(result);
        EXPECT_EQ(before, Snapshot(scene.app)) << "step " << failAt;
    }
}

TEST(Swap, WayBackFailingIsReportedAndLosesNothing)
{
    // Nothing can be moved to the program's path: the new program cannot go in, the old cannot come back.
    SwapScene scene;
    SwapFileSystem fs = PlatformFileSystem();
    const SwapFileSystem real = PlatformFileSystem();
    fs.move = [&](const std::string &s, const std::string &t) { return t != scene.exe && real.move(s, t); };
    EXPECT_EQ(SwapResult::RollbackFailed, RunSwap(scene.plan, fs));
    // Every file is still somewhere: the old program at its backup path, the others back in place.
    EXPECT_EQ("old program", ReadBytes(scene.plan.backupPath));
    EXPECT_EQ("new program", ReadBytes(scene.plan.stagedExecutable));
    EXPECT_EQ("old readme", ReadBytes(scene.app + "readme.txt"));
    EXPECT_EQ("earlier backup", ReadBytes(scene.plan.displacedFolder + Sep() + "backup"));
}

TEST(Swap, FolderInTheWayOfAFileRollsBack)
{
    SwapScene scene;
    std::filesystem::create_directories(scene.app + "doc" + Sep() + "a.txt" + Sep() + "keep");
    const Tree before = Snapshot(scene.app);
    EXPECT_EQ(SwapResult::RolledBack, RunSwap(scene.plan));
    EXPECT_EQ(before, Snapshot(scene.app));
}

} // namespace
