#include "support/keyfile.h"

#include "tests/unit/support_tempdir.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

std::vector<std::string> Entries(const TempDir &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir.FsPath()))
        names.push_back(entry.path().filename().string());
    return names;
}

TEST(KeyFile, GetKeyValue)
{
    struct Row
    {
        const char *text;
        const char *key;
        const char *expected;
    };
    const Row rows[] = {
        {"sourcePath=C:\\x\r\n", "sourcePath", "C:\\x"},
        {"a=1\r\nsourcePath=C:\\x\r\nb=2\r\n", "sourcePath", "C:\\x"},
        {"sourcePath=  C:\\x \t\r\n", "sourcePath", "C:\\x"},
        {"sourcePath=\r\n", "sourcePath", ""},
        {"sourcePath=C:\\x", "sourcePath", ""},        // last line without CR LF
        {"a=1\nsourcePath=C:\\x\n", "sourcePath", ""}, // LF alone ends no line
        {"a=1\r\n", "sourcePath", ""},
        {"SourcePath=C:\\x\r\n", "sourcePath", ""},
        {"sourcePath=a=b\r\n", "sourcePath", "a=b"},
        {"oldsourcePath=E:\\z\r\nsourcePath=C:\\x\r\n", "sourcePath", "E:\\z"},
        {"sourcePath=D:\\\xd6\xd0\xce\xc4\r\n", "sourcePath", "D:\\\xd6\xd0\xce\xc4"},
        {"sourcePath=D:\\\x95\x5C\r\n", "sourcePath", "D:\\\x95\x5C"},
        {" \t sourcePath=C:\\x\r\n \t", "sourcePath", "C:\\x"},
        {"", "sourcePath", ""},
    };
    for (const Row &row : rows) {
        char value[kSettingsValueCapacity] = "garbage";
        GetKeyValue(row.text, row.key, value);
        EXPECT_STREQ(value, row.expected) << row.text;
    }
}

TEST(KeyFile, GetKeyValueRefusesWhatDoesNotFit)
{
    char value[8] = "garbage";
    GetKeyValue("sourcePath=C:\\abcde\r\n", "sourcePath", value, sizeof value);
    EXPECT_STREQ(value, "") << "a cut path would name another folder";
    GetKeyValue("sourcePath=C:\\abcd\r\n", "sourcePath", value, sizeof value);
    EXPECT_STREQ(value, "C:\\abcd");

    const std::string longKey(1023, 'k'); // key + '=' is 1024 bytes: no room for the zero
    const std::string text = longKey + "=v\r\n";
    GetKeyValue(text.c_str(), longKey.c_str(), value, sizeof value);
    EXPECT_STREQ(value, "");
    const std::string fittingKey(1022, 'k');
    const std::string fittingText = fittingKey + "=v\r\n";
    GetKeyValue(fittingText.c_str(), fittingKey.c_str(), value, sizeof value);
    EXPECT_STREQ(value, "v");
}

struct SetRow
{
    const char *before;
    const char *value;
    const char *after;
};

const SetRow kSetRows[] = {
    {"", "D:\\docs", "sourcePath=D:\\docs\r\n"},
    {"a=1\r\nsourcePath=C:\\x\r\nb=2\r\n", "D:\\y", "a=1\r\nsourcePath=D:\\y\r\nb=2\r\n"},
    {"a=1\r\n", "D:\\y", "sourcePath=D:\\y\r\na=1\r\n"},
    {"  C:\\x  ", "D:\\y", "sourcePath=D:\\y\r\nC:\\x"},
    {"a=1\r\nsourcePath=C:\\x", "D:\\y", "a=1\r\nsourcePath=D:\\y\r\n"},
    {"a=1\nsourcePath=C:\\x\nb=2\n", "D:\\y", "a=1\nsourcePath=D:\\y\r\n"},
    {"oldsourcePath=E:\\z\r\nsourcePath=C:\\x\r\n", "D:\\y", "oldsourcePath=D:\\y\r\nsourcePath=C:\\x\r\n"},
    {" \t a=1\r\n \t ", "D:\\y", "sourcePath=D:\\y\r\na=1\r\n"},
    {"a=1\r\n\tsourcePath=C:\\x\r\n  ", "D:\\y", "a=1\r\n\tsourcePath=D:\\y\r\n"},
    {"sourcePath=C:\\x\r\n", "  C:\\x  ", "sourcePath=  C:\\x  \r\n"},
    {"sourcePath=C:\\x\r\n", "", "sourcePath=\r\n"},
    {"# note\r\nsourcePath=C:\\x junk\r\n\r\n", "D:\\y", "# note\r\nsourcePath=D:\\y\r\n\r\n"},
    {"sourcePath=C:\\x\r\n", "D:\\\xd6\xd0\xce\xc4", "sourcePath=D:\\\xd6\xd0\xce\xc4\r\n"},
};

TEST(KeyFile, SetKeyValue)
{
    for (const SetRow &row : kSetRows) {
        SCOPED_TRACE(row.before);
        char result[kSettingsTextCapacity] = "garbage";
        EXPECT_EQ(SetKeyValue(result, row.before, "sourcePath", row.value), 0);
        EXPECT_STREQ(result, row.after);

        // The window passes its own settings text as the result.
        char text[kSettingsTextCapacity];
        std::strcpy(text, row.before);
        EXPECT_EQ(SetKeyValue(text, text, "sourcePath", row.value), 0);
        EXPECT_STREQ(text, row.after);
    }
}

TEST(KeyFile, ValueWrittenWithBlanksReadsBackWithout)
{
    char text[kSettingsTextCapacity] = "";
    ASSERT_EQ(SetKeyValue(text, text, "sourcePath", "  C:\\x  "), 0);
    char value[kSettingsValueCapacity];
    GetKeyValue(text, "sourcePath", value);
    EXPECT_STREQ(value, "C:\\x");
}

TEST(KeyFile, SetKeyValueRefusesToOutgrowTheText)
{
    // A text that fills the buffer but for a few bytes; the new line would not fit.
    std::string filler = "a=" + std::string(kSettingsTextCapacity - 20, 'x') + "\r\n";
    std::unique_ptr<char[]> text(new char[kSettingsTextCapacity]);
    std::memcpy(text.get(), filler.c_str(), filler.size() + 1);
    EXPECT_EQ(SetKeyValue(text.get(), text.get(), "sourcePath", "D:\\y"), -1);
    EXPECT_EQ(std::string(text.get()), filler) << "the text is left intact";

    // A result of exactly capacity - 1 bytes still fits.
    const std::string line = "sourcePath=D:\\y\r\n";
    filler = "a=" + std::string(kSettingsTextCapacity - 1 - line.size() - 4, 'x') + "\r\n";
    std::memcpy(text.get(), filler.c_str(), filler.size() + 1);
    EXPECT_EQ(SetKeyValue(text.get(), text.get(), "sourcePath", "D:\\y"), 0);
    EXPECT_EQ(std::strlen(text.get()), kSettingsTextCapacity - 1);
    EXPECT_EQ(std::string(text.get()), line + filler);

    // A smaller result buffer is honoured as well.
    char small[16] = "untouched";
    EXPECT_EQ(SetKeyValue(small, "", "sourcePath", "D:\\y", sizeof small), -1);
    EXPECT_STREQ(small, "untouched");

    const std::string longKey(1023, 'k');
    char result[kSettingsTextCapacity] = "untouched";
    EXPECT_EQ(SetKeyValue(result, "", longKey.c_str(), "v"), -1);
    EXPECT_EQ(SetKeyValue(result, "", "", "v"), -1);
    EXPECT_STREQ(result, "untouched");
}

// The whole path of a click on an existing folder: load, set, save, and the bytes on disk.
TEST(KeyFile, FileRoundTrip)
{
    for (const SetRow &row : kSetRows) {
        SCOPED_TRACE(row.before);
        TempDir dir;
        const std::string path = dir.File("Quillmark.kov");
        WriteBytes(path, row.before);
        char text[kSettingsTextCapacity] = "";
        ASSERT_EQ(LoadKeyFile(path.c_str(), text), 0);
        ASSERT_EQ(SetKeyValue(text, text, "sourcePath", row.value), 0);
        ASSERT_EQ(SaveKeyFile(path.c_str(), text), 0);
        EXPECT_EQ(ReadBytes(path), row.after);
        EXPECT_EQ(Entries(dir), std::vector<std::string>{"Quillmark.kov"}) << "no temporary file is left";
    }
}

TEST(KeyFile, FirstSaveCreatesTheFile)
{
    TempDir dir;
    const std::string path = dir.File("Quillmark.kov");
    char text[kSettingsTextCapacity] = "";
    EXPECT_EQ(LoadKeyFile(path.c_str(), text), -1);
    EXPECT_STREQ(text, "");
    ASSERT_EQ(SetKeyValue(text, text, "sourcePath", "D:\\docs"), 0);
    ASSERT_EQ(SaveKeyFile(path.c_str(), text), 0);
    EXPECT_EQ(ReadBytes(path), "sourcePath=D:\\docs\r\n");
}

TEST(KeyFile, LoadKeyFile)
{
    TempDir dir;
    const std::string path = dir.File("Quillmark.kov");

    char text[kSettingsTextCapacity] = "kept";
    EXPECT_EQ(LoadKeyFile(path.c_str(), text), -1);
    EXPECT_STREQ(text, "kept") << "a missing file leaves the text as it was";

    // Bytes that no text mode may change.
    const std::string bytes = "a=1\r\nsourcePath=D:\\\xd6\xd0\r\n\x1a\n";
    WriteBytes(path, bytes);
    EXPECT_EQ(LoadKeyFile(path.c_str(), text), 0);
    EXPECT_EQ(std::string(text), bytes);

    WriteBytes(path, "");
    EXPECT_EQ(LoadKeyFile(path.c_str(), text), 0);
    EXPECT_STREQ(text, "");

    std::string big;
    for (size_t i = 0; big.size() < 12000; ++i)
        big += "k" + std::to_string(i) + "=v\r\n";
    WriteBytes(path, big);
    std::unique_ptr<char[]> exact(new char[kSettingsTextCapacity]);
    EXPECT_EQ(LoadKeyFile(path.c_str(), exact.get()), 0);
    EXPECT_EQ(std::strlen(exact.get()), kSettingsTextCapacity - 1);
    EXPECT_EQ(std::string(exact.get()), big.substr(0, kSettingsTextCapacity - 1));

    EXPECT_EQ(LoadKeyFile(dir.File("missing/Quillmark.kov").c_str(), text), -1);
}

TEST(KeyFile, SaveWritesExactlyTheTextsBytes)
{
    TempDir dir;
    const std::string path = dir.File("Quillmark.kov");
    WriteBytes(path, std::string(500, 'o')); // a longer previous file leaves nothing behind
    const std::string text = "sourcePath=D:\\\xd6\xd0\r\nx=\n\r\n";
    ASSERT_EQ(SaveKeyFile(path.c_str(), text.c_str()), 0);
    EXPECT_EQ(ReadBytes(path), text);
    ASSERT_EQ(SaveKeyFile(path.c_str(), ""), 0);
    EXPECT_EQ(ReadBytes(path), "");
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"Quillmark.kov"});
}

TEST(KeyFile, SaveToAMissingFolderFails)
{
    TempDir dir;
    const std::string path = dir.File("missing/Quillmark.kov");
    EXPECT_EQ(SaveKeyFile(path.c_str(), "sourcePath=D:\\y\r\n"), -1);
    EXPECT_TRUE(Entries(dir).empty());
    EXPECT_EQ(SaveKeyFile("", "x"), -1);
}

#ifndef _WIN32

// A write that breaks off part-way (here at a file size limit, as on a full disk) leaves the previous
// settings file as it was instead of a cut one.
TEST(KeyFile, FailedWriteKeepsTheOldFile_Posix)
{
    TempDir dir;
    const std::string path = dir.File("Quillmark.kov");
    const std::string old = "sourcePath=C:\\x\r\n";
    WriteBytes(path, old);
    const std::string text = "sourcePath=" + std::string(4000, 'y') + "\r\n";

    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int result = SaveKeyFile(path.c_str(), text.c_str());
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_EQ(result, -1);
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"Quillmark.kov"}) << "the temporary file is removed";
}

TEST(KeyFile, UnwritableLocationKeepsTheOldFile_Posix)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    TempDir dir;
    const std::string path = dir.File("Quillmark.kov");
    const std::string old = "sourcePath=C:\\x\r\n";
    WriteBytes(path, old);

    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    EXPECT_EQ(SaveKeyFile(path.c_str(), "sourcePath=D:\\y\r\n"), -1) << "a read-only file stays";
    EXPECT_EQ(ReadBytes(path), old);

    std::filesystem::permissions(path,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::permissions(dir.FsPath(),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_EQ(SaveKeyFile(path.c_str(), "sourcePath=D:\\y\r\n"), -1);
    EXPECT_EQ(ReadBytes(path), old);
}

TEST(KeyFile, SaveKeepsTheFilesPermissions_Posix)
{
    TempDir dir;
    const std::string path = dir.File("Quillmark.kov");
    WriteBytes(path, "a=1\r\n");
    std::filesystem::permissions(path,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_EQ(SaveKeyFile(path.c_str(), "b=2\r\n"), 0);
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

#endif

} // namespace
