// Existence tests and the settings file on a real Windows file system (FindFirstFileA, ANSI paths in
// code page 936).

#include "support/direxists.h"
#include "support/keyfile.h"
#include "tests/windows/wintest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class WindowsPaths : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Without code page 936 the GBK names below would mean other characters and prove nothing.
        ASSERT_EQ(GetACP(), 936u) << "run with LANG=zh_CN.UTF-8 under Wine, or on a Chinese Windows";
        dir = wintest::MakeScratchFolder("paths");
        ASSERT_FALSE(dir.empty());
        ASSERT_TRUE(wintest::WriteBytes(dir + "\\plain.txt", "x"));
        ASSERT_TRUE(CreateDirectoryA((dir + "\\sub").c_str(), nullptr));
        ASSERT_TRUE(wintest::WriteBytes(dir + "\\" + wintest::kGbkFileName, "gbk"));
        ASSERT_TRUE(CreateDirectoryA((dir + "\\" + wintest::kGbkFolderName).c_str(), nullptr));
    }
    void TearDown() override { wintest::RemoveTree(dir); }

    std::wstring WideDir() const
    {
        // The scratch folder's own path is plain ASCII.
        return std::wstring(dir.begin(), dir.end());
    }

    std::string dir;
};

TEST_F(WindowsPaths, GbkNamesMeanTheChineseCharacters)
{
    // Read back through the UTF-16 API: the ANSI bytes were taken as code page 936.
    EXPECT_EQ(wintest::ReadBytesWide(WideDir() + L"\\" + wintest::kWideFileName), "gbk");
    DWORD attributes = GetFileAttributesW((WideDir() + L"\\" + wintest::kWideFolderName).c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

struct ExistenceCase
{
    const char *what;
    std::string relative; // appended to the scratch folder; "<empty>" for the empty path
    bool exists;
    bool directory;
};

TEST_F(WindowsPaths, ExistenceTable)
{
    const std::string gbkFile = std::string("\\") + wintest::kGbkFileName;
    const std::string gbkFolder = std::string("\\") + wintest::kGbkFolderName;
    const std::vector<ExistenceCase> cases = {
        {"file", "\\plain.txt", true, false},
        {"file, other letter case", "\\PLAIN.TXT", true, false},
        {"folder", "\\sub", true, true},
        {"folder, forward slash inside", "/sub", true, true},
        {"folder with trailing /", "\\sub/", false, true},
        {"folder with trailing \\", "\\sub\\", false, false},
        {"folder with two trailing /", "\\sub//", false, false},
        {"file with trailing /", "\\plain.txt/", false, false},
        {"missing entry", "\\nothing", false, false},
        {"missing entry with trailing /", "\\nothing/", false, false},
        {"Chinese file name", gbkFile, true, false},
        {"Chinese folder name", gbkFolder, true, true},
        {"Chinese folder with trailing /", gbkFolder + "/", false, true},
        {"Chinese folder with trailing \\", gbkFolder + "\\", false, false},
        {"empty path", "<empty>", false, false},
    };
    // A trailing separator makes the directory search fail on Windows (it would list the folder's
    // contents, not the folder); Wine 8 does the same, so PathExists is false there.
    for (const ExistenceCase &c : cases) {
        std::string path = c.relative == "<empty>" ? std::string() : dir + c.relative;
        SCOPED_TRACE(std::string(c.what) + ": " + path);
        EXPECT_EQ(PathExists(path.c_str()), c.exists);
        EXPECT_EQ(DirectoryExists(path.c_str()), c.directory);
    }
}

// A drive's root chosen in the folder dialog comes as "E:/", and the field then holds "E://": a folder that
// exists, although the directory search finds no entry for a root. E: is the test set-up's own drive.
TEST_F(WindowsPaths, DriveRootIsAFolder)
{
    const DWORD drives = GetLogicalDrives();
    ASSERT_NE(drives & (1u << ('E' - 'A')), 0u) << "the test set-up maps a drive E:";
    std::vector<char> letters = {'E'};
    if (drives & (1u << ('C' - 'A')))
        letters.push_back('C');
    for (char letter : letters) {
        const std::string drive(1, letter);
        const std::vector<std::string> forms = {drive + ":\\", drive + ":/", drive + "://"};
        for (const std::string &path : forms) {
            SCOPED_TRACE(path);
            EXPECT_TRUE(DirectoryExists(path.c_str()));
        }
        EXPECT_TRUE(PathExists((drive + ":\\").c_str()));
    }
    // A drive that is not there is not a folder.
    char missing = 0;
    for (char letter = 'Z'; letter > 'E' && missing == 0; --letter) {
        if (!(drives & (1u << (letter - 'A'))))
            missing = letter;
    }
    ASSERT_NE(missing, 0);
    const std::string absent = std::string(1, missing) + ":\\";
    EXPECT_FALSE(DirectoryExists(absent.c_str()));
    EXPECT_FALSE(PathExists(absent.c_str()));
    EXPECT_FALSE(DirectoryExists((std::string(1, missing) + "://").c_str()));
}

TEST_F(WindowsPaths, ExistenceTestsLeaveThePathAndNoHandle)
{
    std::string path = dir + "\\sub/";
    const std::string before = path;
    EXPECT_TRUE(DirectoryExists(path.c_str()));
    EXPECT_EQ(path, before);
    // No search handle stays open on the folder: it can be removed right away.
    EXPECT_TRUE(PathExists((dir + "\\sub").c_str()));
    EXPECT_TRUE(RemoveDirectoryA((dir + "\\sub").c_str()));
    EXPECT_FALSE(DirectoryExists(path.c_str()));
}

TEST_F(WindowsPaths, SettingsFileInAChineseFolderKeepsAChineseValue)
{
    const std::string file = dir + "\\" + wintest::kGbkFolderName + "\\Quillmark.kov";
    const std::string value = wintest::kGbkDocsPath; // D:\文档\ in GBK
    std::vector<char> text(kSettingsTextCapacity, '\0');

    EXPECT_EQ(LoadKeyFile(file.c_str(), text.data()), -1);
    EXPECT_STREQ(text.data(), "");
    ASSERT_EQ(SetKeyValue(text.data(), text.data(), "sourcePath", value.c_str()), 0);
    ASSERT_EQ(SaveKeyFile(file.c_str(), text.data()), 0);
    EXPECT_TRUE(PathExists(file.c_str()));

    // The bytes on disk are the GBK text, CR LF ended, and the file sits in the folder named 文件夹.
    const std::string expected = "sourcePath=" + value + "\r\n";
    EXPECT_EQ(wintest::ReadBytesWide(WideDir() + L"\\" + wintest::kWideFolderName + L"\\Quillmark.kov"),
              expected);

    std::vector<char> loaded(kSettingsTextCapacity, '\0');
    ASSERT_EQ(LoadKeyFile(file.c_str(), loaded.data()), 0);
    std::vector<char> read(kSettingsValueCapacity, '\0');
    GetKeyValue(loaded.data(), "sourcePath", read.data());
    EXPECT_EQ(std::string(read.data()), value);
}

TEST_F(WindowsPaths, SettingsFileIntoAMissingFolderIsNotWritten)
{
    const std::string file = dir + "\\" + wintest::kGbkPrintName + "\\Quillmark.kov";
    EXPECT_EQ(SaveKeyFile(file.c_str(), "sourcePath=C:\\x\r\n"), -1);
    EXPECT_FALSE(PathExists(file.c_str()));
}

} // namespace
