// The office's process handling with ordinary programs: groups, exit codes, CPU time, files left behind.

#include "print/libreoffice/callthread.h"
#include "print/libreoffice/officeprocess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Living (not zombie) processes whose process group is group.
int LivingInGroup(pid_t group)
{
    int count = 0;
    DIR *proc = opendir("/proc");
    while (dirent *entry = readdir(proc)) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string text;
        if (!std::getline(stat, text))
            continue;
        const auto close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        char state = 0;
        long ppid = 0, pgrp = 0;
        if (sscanf(text.c_str() + close + 1, " %c %ld %ld", &state, &ppid, &pgrp) == 3 && pgrp == group &&
            state != 'Z')
            ++count;
    }
    closedir(proc);
    return count;
}

template <typename Predicate> bool Eventually(Predicate predicate, std::chrono::milliseconds limit = 10s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

std::vector<std::string> Shell(const std::string &script)
{
    return {"/bin/sh", "-c", script};
}

} // namespace

struct ExitCase
{
    const char *name;
    const char *script;
    int exitCode;
};

class OfficeProcessExit : public ::testing::TestWithParam<ExitCase>
{
};

TEST_P(OfficeProcessExit, ReportsHowTheProcessEnded)
{
    OfficeProcess process;
    ASSERT_TRUE(process.spawn(Shell(GetParam().script)));
    int code = 12345;
    ASSERT_TRUE(Eventually([&] { return process.exited(&code); }));
    EXPECT_EQ(code, GetParam().exitCode);
    EXPECT_EQ(process.group(), 0);
    EXPECT_TRUE(process.exited()); // and stays so
}

INSTANTIATE_TEST_SUITE_P(Cases, OfficeProcessExit,
                         ::testing::Values(ExitCase{"Normal", "exit 0", 0},
                                           // soffice.bin's "start me again" after filling a new profile
                                           ExitCase{"Restart", "exit 81", 81},
                                           ExitCase{"Signal", "kill -KILL $$", -1},
                                           ExitCase{"NoSuchProgram", "exec /nonexistent/program", 127}),
                         [](const ::testing::TestParamInfo<ExitCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(OfficeProcess, KillEndsTheWholeGroup)
{
    OfficeProcess process;
    // Like soffice's helpers: children in the same group outlive a kill of the first process alone.
    ASSERT_TRUE(process.spawn(Shell("sleep 60 & sleep 60 & wait")));
    const pid_t group = process.group();
    ASSERT_GT(group, 0);
    ASSERT_TRUE(Eventually([&] { return LivingInGroup(group) == 3; }));
    process.kill();
    EXPECT_TRUE(Eventually([&] { return process.exited(); }));
    EXPECT_TRUE(Eventually([&] { return LivingInGroup(group) == 0; }));
}

TEST(OfficeProcess, AbortKillsWhatStartsAfterIt)
{
    OfficeProcess process;
    process.abort();
    ASSERT_TRUE(process.spawn(Shell("sleep 60")));
    int code = 0;
    ASSERT_TRUE(Eventually([&] { return process.exited(&code); }, 5s));
    EXPECT_EQ(code, -1);
}

TEST(OfficeProcess, CpuTimeGrowsWhileWorkingAndStandsStillWhileStopped)
{
    OfficeProcess process;
    EXPECT_EQ(process.groupCpuTicks(), -1); // nothing runs
    ASSERT_TRUE(process.spawn(Shell("while :; do :; done")));
    const long long first = process.groupCpuTicks();
    ASSERT_GE(first, 0);
    ASSERT_TRUE(Eventually([&] { return process.groupCpuTicks() > first + 5; }, 20s));

    ::kill(-process.group(), SIGSTOP); // as a hung office
    std::this_thread::sleep_for(100ms);
    const long long stopped = process.groupCpuTicks();
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(process.groupCpuTicks(), stopped);
    process.reap();
    EXPECT_EQ(process.groupCpuTicks(), -1);
}

struct FifoCase
{
    const char *name;
    bool fed;                     // a byte comes every 200 ms
    CallThread::Outcome expected; // of a 3 s call watched with a 1 s stall limit
};

class OfficeProcessActivity : public ::testing::TestWithParam<FifoCase>
{
};

// An office reading a document slowly from a network or FUSE share sleeps in read(), using no CPU of its
// own: its reads are progress. A reader that gets nothing is still cut off.
TEST_P(OfficeProcessActivity, ReadingASlowlyFedFifoIsProgress)
{
    char dir[] = "/tmp/officeprocess-fifo-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string fifo = std::string(dir) + "/slow";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    OfficeProcess process;
    ASSERT_TRUE(process.spawn(Shell("exec cat " + fifo + " >/dev/null")));
    const int writer = ::open(fifo.c_str(), O_WRONLY); // waits for the reader
    ASSERT_GE(writer, 0);
    std::atomic<bool> done{false};
    std::thread feeder([&] {
        while (!done) {
            if (GetParam().fed && ::write(writer, "x", 1) != 1)
                break;
            std::this_thread::sleep_for(200ms);
        }
    });

    CallThread calls;
    CallThread::Watch watch;
    watch.stall = 1s;
    watch.cap = 60s;
    watch.every = 100ms;
    watch.progress = [&process] { return process.groupActivity(); };
    bool killed = false;
    const CallThread::Outcome outcome =
        calls.run([] { std::this_thread::sleep_for(3s); }, watch, [&] { killed = true; });
    done = true;
    feeder.join();
    ::close(writer);
    process.reap();
    std::filesystem::remove_all(dir);
    EXPECT_EQ(outcome, GetParam().expected);
    EXPECT_EQ(killed, GetParam().expected != CallThread::Outcome::Done);
}

INSTANTIATE_TEST_SUITE_P(Cases, OfficeProcessActivity,
                         ::testing::Values(FifoCase{"Fed", true, CallThread::Outcome::Done},
                                           FifoCase{"Starved", false, CallThread::Outcome::CutOff}),
                         [](const ::testing::TestParamInfo<FifoCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(OfficeProcess, ResidentMemoryOfTheProcess)
{
    OfficeProcess process;
    EXPECT_EQ(process.residentBytes(), 0); // nothing runs
    // A process that holds 64 MB it has written to.
    ASSERT_TRUE(process.spawn(
        {"/usr/bin/python3", "-c",
         "import time; b = bytearray(64 << 20); b[::4096] = b'x' * (16 << 10); time.sleep(60)"}));
    EXPECT_TRUE(Eventually([&] { return process.residentBytes() > 64ll << 20; }, 20s))
        << process.residentBytes();
    process.reap();
    EXPECT_EQ(process.residentBytes(), 0);
}

TEST(OfficeProcess, AdoptTakesOverTheOtherProcessAndEndsItsOwn)
{
    OfficeProcess working, spare;
    ASSERT_TRUE(working.spawn(Shell("exec sleep 60")));
    ASSERT_TRUE(spare.spawn(Shell("exec sleep 60")));
    const pid_t old = working.group(), fresh = spare.group();
    working.adopt(spare);
    EXPECT_EQ(working.group(), fresh);
    EXPECT_EQ(spare.group(), 0);
    EXPECT_TRUE(Eventually([&] { return LivingInGroup(old) == 0; }));
    EXPECT_TRUE(Eventually([&] { return LivingInGroup(fresh) == 1; }));
    working.reap();
    EXPECT_TRUE(Eventually([&] { return LivingInGroup(fresh) == 0; }));
}

class OfficeFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/officefiles-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        const char *old = std::getenv("TMPDIR");
        oldTmp_ = old ? old : "";
        hadTmp_ = old != nullptr;
        setenv("TMPDIR", (root_ + "//").c_str(), 1); // trailing slashes are tolerated
    }
    void TearDown() override
    {
        if (hadTmp_)
            setenv("TMPDIR", oldTmp_.c_str(), 1);
        else
            unsetenv("TMPDIR");
        std::filesystem::remove_all(root_);
    }
    std::string root_, oldTmp_;
    bool hadTmp_ = false;
};

TEST_F(OfficeFiles, LeftoversOfAProgramThatIsGoneAreRemovedOthersKept)
{
    // A process id that is certainly gone: a child that has been reaped.
    OfficeProcess child;
    ASSERT_TRUE(child.spawn(Shell("exit 0")));
    const pid_t gone = child.pid();
    ASSERT_TRUE(Eventually([&] { return child.exited(); }));

    const std::string mine = officefiles::MakeProfileDir();
    ASSERT_EQ(mine.rfind(root_ + "/quillmark-office-" + std::to_string(getpid()) + "-", 0), 0u) << mine;
    const std::string dead = root_ + "/quillmark-office-" + std::to_string(gone) + "-abcdef";
    const std::string other = root_ + "/quillmark-office-notanumber-abcdef";
    std::filesystem::create_directories(dead + "/user");
    std::filesystem::create_directories(other);
    std::string asked;
    officefiles::RemoveLeftovers([&](const std::string &profile) {
        asked += profile;
        return std::string();
    });
    EXPECT_FALSE(std::filesystem::exists(dead));
    EXPECT_EQ(asked, dead);                     // its pipe is looked up for that profile only
    EXPECT_TRUE(std::filesystem::exists(mine)); // this program runs
    EXPECT_TRUE(std::filesystem::exists(other));

    officefiles::Remove(mine, {});
    EXPECT_FALSE(std::filesystem::exists(mine));
}

namespace {

struct SeedRow
{
    const char *name;
    std::string version;
    const char *existing; // settings already in the profile; nullptr: none
    bool written;
};

class ProfileSeed : public OfficeFiles, public testing::WithParamInterface<SeedRow>
{
};

} // namespace

// The settings a new profile gets: the office's version as started before, and nothing else; never
// over what is there, never a value that could break the file.
TEST_P(ProfileSeed, NewProfileSaysItsVersionStartedBefore)
{
    const SeedRow &row = GetParam();
    const std::string settings = root_ + "/user/registrymodifications.xcu";
    if (row.existing) {
        std::filesystem::create_directories(root_ + "/user");
        std::ofstream(settings) << row.existing;
    }
    EXPECT_EQ(officefiles::SeedProfile(root_, row.version), row.written);
    std::ifstream file(settings);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (row.existing) {
        EXPECT_EQ(text, row.existing);
    } else if (!row.written) {
        EXPECT_FALSE(std::filesystem::exists(settings));
    } else {
        EXPECT_NE(
            text.find(
                "<item oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" "
                "oor:op=\"fuse\"><value>" +
                row.version + "</value></prop></item>"),
            std::string::npos)
            << text;
        EXPECT_EQ(text.rfind("</oor:items>\n"), text.size() - 13);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ProfileSeed,
                         testing::Values(SeedRow{"majorMinor", "7.4", nullptr, true},
                                         SeedRow{"fullVersion", "24.2.1.2", nullptr, true},
                                         SeedRow{"settingsThere", "7.4", "<oor:items/>", false},
                                         SeedRow{"unknown", "", nullptr, false},
                                         SeedRow{"markup", "7.4</value>", nullptr, false},
                                         SeedRow{"leadingDot", ".4", nullptr, false}),
                         [](const testing::TestParamInfo<SeedRow> &info) {
                             return std::string(info.param.name);
                         });

TEST(OfficeFilesNames, PipeNamesDifferAndCarryTheProcessId)
{
    const std::string a = officefiles::MakePipeName(1), b = officefiles::MakePipeName(1);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind("quillmark_" + std::to_string(getpid()) + "_1_", 0), 0u) << a;
    EXPECT_EQ(officefiles::PipePath(a), "/tmp/OSL_PIPE_" + std::to_string(getuid()) + "_" + a);
}

namespace {

struct EnvironmentRow
{
    const char *name;
    std::vector<std::string> caller;
    std::vector<std::string> expected; // sorted
};

class OfficeEnvironmentTest : public testing::TestWithParam<EnvironmentRow>
{
};

TEST_P(OfficeEnvironmentTest, CharacterTypeIsUtf8AndTmpdirIsPrivate)
{
    std::vector<std::string> got = officefiles::OfficeEnvironment(GetParam().caller, "/p/tmp");
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, GetParam().expected);
}

std::vector<std::string> WithAllCategories(const std::string &value, std::vector<std::string> rest)
{
    for (const char *c : {"LC_NUMERIC", "LC_TIME", "LC_COLLATE", "LC_MONETARY", "LC_MESSAGES", "LC_PAPER",
                          "LC_NAME", "LC_ADDRESS", "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION"})
        rest.push_back(std::string(c) + "=" + value);
    std::sort(rest.begin(), rest.end());
    return rest;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OfficeEnvironmentTest,
    testing::Values(
        EnvironmentRow{"langC",
                       {"LANG=C", "HOME=/h", "TMPDIR=/t"},
                       {"HOME=/h", "LANG=C", "LC_CTYPE=C.UTF-8", "TMPDIR=/p/tmp"}},
        EnvironmentRow{"nothingSet", {"PATH=/bin"}, {"LC_CTYPE=C.UTF-8", "PATH=/bin", "TMPDIR=/p/tmp"}},
        // LC_ALL overrides everything: it gives way, and each other category keeps its value.
        EnvironmentRow{"lcAllC",
                       {"LC_ALL=C", "LANG=zh_CN.UTF-8", "LC_PAPER=x"},
                       WithAllCategories("C", {"LANG=zh_CN.UTF-8", "LC_CTYPE=C.UTF-8", "TMPDIR=/p/tmp"})},
        EnvironmentRow{"gbkCtype",
                       {"LANG=zh_CN.UTF-8", "LC_CTYPE=zh_CN.GBK"},
                       {"LANG=zh_CN.UTF-8", "LC_CTYPE=C.UTF-8", "TMPDIR=/p/tmp"}},
        // Already UTF-8: left alone.
        EnvironmentRow{"utf8All", {"LC_ALL=zh_CN.utf8"}, {"LC_ALL=zh_CN.utf8", "TMPDIR=/p/tmp"}},
        EnvironmentRow{"utf8Lang",
                       {"LANG=en_US.UTF-8", "LC_NUMERIC=de_DE"},
                       {"LANG=en_US.UTF-8", "LC_NUMERIC=de_DE", "TMPDIR=/p/tmp"}}),
    [](const testing::TestParamInfo<EnvironmentRow> &info) { return std::string(info.param.name); });

} // namespace
