// Start-up paths from a real Windows command line: argv[0] is the command line's first token without its
// quotes, so the folder beside the executable depends on how the program was started.

#include "tests/windows/wintest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct StartCase
{
    const char *name;
    std::string folder;    // where the program file lies, relative to the scratch folder ("" for itself)
    bool fullPath;         // started through its full path (else through the bare file name)
    std::string arguments; // after the program token
    std::string startArgument;
};

class WindowsStartPaths : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(GetACP(), 936u) << "run with LANG=zh_CN.UTF-8 under Wine, or on a Chinese Windows";
        dir = wintest::MakeScratchFolder("start");
        ASSERT_FALSE(dir.empty());
        out = dir + "\\paths.txt";
        ASSERT_TRUE(SetEnvironmentVariableA("QM_STARTPATHS_OUT", out.c_str()));
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("QM_STARTPATHS_OUT", nullptr);
        wintest::RemoveTree(dir);
    }

    std::string dir, out;
};

TEST_F(WindowsStartPaths, FolderOfTheExecutableFromArgumentZero)
{
    const std::string chinese = wintest::kGbkPrintName;
    const StartCase cases[] = {
        {"full path with the autorun argument", "", true, "-autorun", "-autorun"},
        {"full path, Chinese folder, argument in other letter case", "\\" + chinese, true,
         "-AUTORUN -autorun", "-AUTORUN"},
        {"full path, folder with a blank", "\\Print Tools", true, "", ""},
        {"bare file name from its own folder", "", false, "-autorun", "-autorun"},
    };
    for (const StartCase &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = dir + c.folder;
        if (!c.folder.empty()) {
            ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        }
        const std::string program = folder + "\\Quillmark.exe";
        ASSERT_TRUE(CopyFileA((wintest::OwnFolder() + "\\windows_startpaths_child.exe").c_str(),
                              program.c_str(), FALSE));
        DeleteFileA(out.c_str());

        const std::string token = c.fullPath ? "\"" + program + "\"" : "Quillmark.exe";
        wintest::Child child;
        ASSERT_TRUE(child.StartWithCommandLine(
            program, token + (c.arguments.empty() ? "" : " " + c.arguments), folder));
        ASSERT_TRUE(child.WaitForExit(15000));
        EXPECT_EQ(child.ExitCode(), 0u);

        const std::string appDir = c.fullPath ? folder + "\\" : "";
        const std::string expected = "result=0\nStartArgument=" + c.startArgument +
                                     "\nExePath=" + (c.fullPath ? program : "Quillmark.exe") +
                                     "\nAppDir=" + appDir + "\nSettingsFilePath=" + appDir +
                                     "Quillmark.kov\nUpdatePackagePath=" + appDir + "Quillmark.zip\n";
        EXPECT_EQ(wintest::ReadBytes(out), expected);
    }
}

} // namespace
