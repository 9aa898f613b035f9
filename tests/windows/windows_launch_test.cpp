// LaunchProcess (CreatePipe, GetStartupInfoA, CreateProcessA) starting a real program that records what
// it was given.

#include "platform/launch.h"
#include "tests/windows/wintest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class WindowsLaunch : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = wintest::MakeScratchFolder("launch");
        ASSERT_FALSE(dir.empty());
        child = wintest::OwnFolder() + "\\windows_launch_child.exe";
        ASSERT_NE(GetFileAttributesA(child.c_str()), INVALID_FILE_ATTRIBUTES) << child;
        out = dir + "\\out.txt";
        // The started program inherits this environment and writes its record there.
        ASSERT_TRUE(SetEnvironmentVariableA("QM_LAUNCH_OUT", out.c_str()));
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("QM_LAUNCH_OUT", nullptr);
        wintest::RemoveTree(dir);
    }

    // The child's record, or "" when it did not run within the time.
    std::string Record()
    {
        if (!wintest::WaitForFile(out, 15000))
            return std::string();
        return wintest::ReadBytes(out);
    }

    std::string dir, child, out;
};

struct LaunchCase
{
    const char *name;
    bool quotedProgramFirst; // the command line starts with the quoted program path
    const char *arguments;
    int showMode;
    const char *expectedArgs; // "arg=" lines the child reports; null: not looked at
};

TEST_F(WindowsLaunch, StartsTheProgramWithItsCommandLineAndShowMode)
{
    const LaunchCase cases[] = {
        {"relaunch after an update: empty command line, SW_SHOWNORMAL", false, "", SW_SHOWNORMAL, nullptr},
        {"program and two arguments", true, "alpha beta", SW_SHOWNORMAL, "arg=alpha\narg=beta\n"},
        {"hidden", true, "", SW_HIDE, ""},
    };
    for (const LaunchCase &c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileA(out.c_str());
        std::string commandLine;
        if (c.quotedProgramFirst)
            commandLine = "\"" + child + "\"" + (c.arguments[0] ? std::string(" ") + c.arguments : "");
        ASSERT_EQ(LaunchProcess(child.c_str(), commandLine.c_str(), c.showMode), 0);
        const std::string record = Record();
        ASSERT_NE(record, "") << "the program did not run";
        if (c.expectedArgs != nullptr) {
            std::string args;
            for (size_t at = record.find("arg="); at != std::string::npos; at = record.find("arg=", at + 1))
                args += record.substr(at, record.find('\n', at) + 1 - at);
            EXPECT_EQ(args, c.expectedArgs);
        }
        EXPECT_NE(record.find("show=" + std::to_string(c.showMode) + "\n"), std::string::npos) << record;
        // STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES; output and errors go to the same pipe.
        EXPECT_NE(record.find("flags=257\n"), std::string::npos) << record;
        EXPECT_NE(record.find("stdout=" + std::to_string(FILE_TYPE_PIPE) + "\n"), std::string::npos)
            << record;
        EXPECT_NE(record.find("stdout-is-stderr=1\n"), std::string::npos) << record;
    }
}

TEST_F(WindowsLaunch, StartsAProgramInAChineseFolder)
{
    ASSERT_EQ(GetACP(), 936u) << "run with LANG=zh_CN.UTF-8 under Wine, or on a Chinese Windows";
    const std::string folder = dir + "\\" + wintest::kGbkPrintName;
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string program = folder + "\\Quillmark.exe";
    ASSERT_TRUE(CopyFileA(child.c_str(), program.c_str(), FALSE));
    ASSERT_EQ(LaunchProcess(program.c_str(), "", SW_SHOWNORMAL), 0);
    EXPECT_NE(Record(), "");
}

TEST_F(WindowsLaunch, MissingProgramGivesMinusOne)
{
    const std::string missing = dir + "\\missing.exe";
    EXPECT_EQ(LaunchProcess(missing.c_str(), "", SW_SHOWNORMAL), -1);
    EXPECT_EQ(
        LaunchProcess((dir + "\\" + wintest::kGbkPrintName + "\\Quillmark.exe").c_str(), "", SW_SHOWNORMAL),
        -1);
    Sleep(300);
    EXPECT_EQ(GetFileAttributesA(out.c_str()), INVALID_FILE_ATTRIBUTES);
}

} // namespace
