// LaunchProcess starts real programs detached; exec failures are reported, not hidden.

#include "platform/launch.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

class LaunchProcessPosix : public testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/quillmark-launch-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    // A shell script that records its arguments, session and output streams in out.txt.
    std::string Script(const char *name, bool executable = true)
    {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n"
                            << "out=\"" << dir_ << "/out.txt\"\n"
                            << "stdout=$(readlink /proc/$$/fd/1)\n"
                            << "{ echo \"args:$0|$*\"; echo \"session:$(cut -d' ' -f6 /proc/$$/stat)\";"
                            << " echo \"stdout:$stdout\"; } > \"$out.part\"\n"
                            << "echo visible-output\n"
                            << "mv \"$out.part\" \"$out\"\n";
        chmod(path.c_str(), executable ? 0755 : 0644);
        return path;
    }

    std::string WaitForOutput()
    {
        const std::string path = dir_ + "/out.txt";
        for (int i = 0; i < 500; ++i) {
            std::ifstream in(path);
            if (in) {
                std::stringstream text;
                text << in.rdbuf();
                return text.str();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return std::string();
    }

    std::string dir_;
};

TEST_F(LaunchProcessPosix, EmptyCommandLineStartsTheProgramWithItsOwnPath)
{
    const std::string program = Script("prog");
    ASSERT_EQ(0, LaunchProcess(program.c_str(), "", 1));
    const std::string out = WaitForOutput();
    EXPECT_NE(std::string::npos, out.find("args:" + program + "|\n")) << out;
    // Its own session, output streams to /dev/null.
    EXPECT_EQ(std::string::npos, out.find("session:" + std::to_string(getsid(0)) + "\n")) << out;
    EXPECT_NE(std::string::npos, out.find("stdout:/dev/null")) << out;
}

// As on Windows, the command line starts with the program's own name.
TEST_F(LaunchProcessPosix, CommandLineWordsBecomeTheArguments)
{
    const std::string program = Script("prog");
    ASSERT_EQ(0, LaunchProcess(program.c_str(), "prog  -autorun second", 1));
    const std::string out = WaitForOutput();
    EXPECT_NE(std::string::npos, out.find("args:" + program + "|-autorun second\n")) << out;
}

TEST_F(LaunchProcessPosix, ProgramThatCannotBeStartedGivesMinusOne)
{
    EXPECT_EQ(-1, LaunchProcess((dir_ + "/missing").c_str(), "", 1));
    EXPECT_EQ(-1, LaunchProcess(Script("plain", false).c_str(), "", 1));
    EXPECT_EQ(-1, LaunchProcess(dir_.c_str(), "", 1));
    EXPECT_EQ(-1, LaunchProcess("", "", 1));
}

} // namespace
#endif
