#include "support/startpaths.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct Expected
{
    int result;
    const char *startArgument;
    const char *exePath;
    const char *appDir;
    const char *settings;
    const char *package;
};

void ExpectPaths(const Expected &e)
{
    EXPECT_STREQ(StartArgument, e.startArgument);
    EXPECT_STREQ(ExePath, e.exePath);
    EXPECT_STREQ(AppDir, e.appDir);
    EXPECT_STREQ(SettingsFilePath, e.settings);
    EXPECT_STREQ(UpdatePackagePath, e.package);
}

TEST(StartPaths, Table)
{
    struct Row
    {
        const char *argument;
        const char *exe;
        char separator;
        Expected expected;
    };
    const Row rows[] = {
        {nullptr,
         "C:\\Tools\\Quillmark.exe",
         '\\',
         {0, "", "C:\\Tools\\Quillmark.exe", "C:\\Tools\\", "C:\\Tools\\Quillmark.kov",
          "C:\\Tools\\Quillmark.zip"}},
        {"-autorun",
         "/opt/quillmark/Quillmark",
         '/',
         {0, "-autorun", "/opt/quillmark/Quillmark", "/opt/quillmark/", "/opt/quillmark/Quillmark.kov",
          "/opt/quillmark/Quillmark.zip"}},
        {"-AUTORUN",
         "Quillmark.exe",
         '\\',
         {0, "-AUTORUN", "Quillmark.exe", "", "Quillmark.kov", "Quillmark.zip"}},
        // Only the platform's separator counts.
        {nullptr,
         "C:/Tools/Quillmark.exe",
         '\\',
         {0, "", "C:/Tools/Quillmark.exe", "", "Quillmark.kov", "Quillmark.zip"}},
        {nullptr,
         "/home/a\\b/Quillmark",
         '/',
         {0, "", "/home/a\\b/Quillmark", "/home/a\\b/", "/home/a\\b/Quillmark.kov",
          "/home/a\\b/Quillmark.zip"}},
        // A double-byte name whose second byte is 0x5C: the byte counts as a separator.
        {nullptr,
         "D:\\\x95\x5C"
         "Quillmark.exe",
         '\\',
         {0, "",
          "D:\\\x95\x5C"
          "Quillmark.exe",
          "D:\\\x95\\", "D:\\\x95\\Quillmark.kov", "D:\\\x95\\Quillmark.zip"}},
        {"", "/q/Quillmark", '/', {0, "", "/q/Quillmark", "/q/", "/q/Quillmark.kov", "/q/Quillmark.zip"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.exe);
        EXPECT_EQ(InitStartPaths(row.argument, row.exe, row.separator), row.expected.result);
        ExpectPaths(row.expected);
    }
}

TEST(StartPaths, LongArgumentIsHeldAsEmpty)
{
    const std::string fits(31, 'a');
    EXPECT_EQ(InitStartPaths(fits.c_str(), "/q/Quillmark", '/'), 0);
    EXPECT_EQ(std::string(StartArgument), fits);

    const std::string tooLong = "-autorun" + std::string(24, ' ');
    EXPECT_EQ(InitStartPaths(tooLong.c_str(), "/q/Quillmark", '/'), 0);
    ExpectPaths({0, "", "/q/Quillmark", "/q/", "/q/Quillmark.kov", "/q/Quillmark.zip"});
}

TEST(StartPaths, OverlongPathsAreRefused)
{
    // The executable path itself does not fit.
    const std::string tooLong = "/" + std::string(1017, 'd') + "/Quillmark"; // 1028 bytes
    ASSERT_EQ(InitStartPaths("-autorun", "/q/Quillmark", '/'), 0);
    EXPECT_EQ(InitStartPaths("-autorun", tooLong.c_str(), '/'), -1);
    ExpectPaths({-1, "-autorun", "", "", "", ""});

    // The executable path fits, the settings file name behind its folder does not.
    const std::string dir = "/" + std::string(1010, 'd') + "/"; // 1012 bytes + 13 > 1023
    const std::string exe = dir + "Quillmark";
    ASSERT_LT(exe.size(), 1024u);
    ASSERT_EQ(InitStartPaths(nullptr, "/q/Quillmark", '/'), 0);
    EXPECT_EQ(InitStartPaths(nullptr, exe.c_str(), '/'), -1);
    ExpectPaths({-1, "", "", "", "", ""});

    // Exactly filling the fields still works.
    const std::string edge = "/" + std::string(1008, 'd') + "/"; // 1010 + 13 = 1023 bytes
    EXPECT_EQ(InitStartPaths(nullptr, (edge + "Quillmark").c_str(), '/'), 0);
    EXPECT_EQ(std::string(SettingsFilePath), edge + "Quillmark.kov");
    EXPECT_EQ(std::string(UpdatePackagePath), edge + "Quillmark.zip");

    EXPECT_EQ(InitStartPaths(nullptr, nullptr, '/'), -1);
    ExpectPaths({-1, "", "", "", "", ""});
}

#ifndef _WIN32
// Start-up's own step: on Linux the running file's real path, whatever argv[0] says (a bare name from the
// search path, a relative path, a link).
TEST(StartPaths, FromTheCommandLine_Posix)
{
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string folder = self.substr(0, self.rfind('/') + 1);
    struct Row
    {
        std::vector<std::string> arguments;
        const char *startArgument;
    };
    const Row rows[] = {
        {{"Quillmark", "-autorun"}, "-autorun"},
        {{"./somewhere/else", "-autorun", "more"}, "-autorun"},
        {{"Quillmark"}, ""},
        {{}, ""},
    };
    for (const Row &row : rows) {
        std::vector<char *> argv;
        for (const std::string &argument : row.arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        ASSERT_EQ(InitStartPathsFromCommandLine(static_cast<int>(row.arguments.size()), argv.data()), 0);
        ExpectPaths({0, row.startArgument, self.c_str(), folder.c_str(), (folder + "Quillmark.kov").c_str(),
                     (folder + "Quillmark.zip").c_str()});
    }
}
#endif

} // namespace
