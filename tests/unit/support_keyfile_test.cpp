#include "support/keyfile.h"

#include "tests/unit/support_tempdir.h"
#ifndef _WIN32
#include "tests/unit/filesizelimit.h"
#endif

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <functional>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

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
        {"sourcePath=C:\\x", "sourcePath", ""},                      // last line without CR LF
        {"a=1\nsourcePath=C:\\x\n", "sourcePath", "C:\\x"},          // lines ended by LF alone
        {"a=1\r\nsourcePath=C:\\x\nb=2\r\n", "sourcePath", "C:\\x"}, // mixed endings
        {"sourcePath=C:\\x \r\r\n", "sourcePath", "C:\\x \r"},       // only the CR before the LF ends it
        {"sourcePath=C:\\x\r", "sourcePath", ""},                    // a lone CR ends no line
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
    // Every line keeps its own ending; a new line takes the one the file already uses.
    {"a=1\nsourcePath=/x\nb=2\nc=3\n", "/y", "a=1\nsourcePath=/y\nb=2\nc=3\n"},
    {"a=1\r\nsourcePath=C:\\x\nb=2\r\n", "D:\\y", "a=1\r\nsourcePath=D:\\y\nb=2\r\n"},
    {"a=1\nsourcePath=C:\\x\r\nb=2\n", "D:\\y", "a=1\nsourcePath=D:\\y\r\nb=2\n"},
    {"a=1\nb=2\r\n", "/y", "sourcePath=/y\na=1\nb=2\r\n"},
    {"a=1\r\nb=2\n", "/y", "sourcePath=/y\r\na=1\r\nb=2\n"},
    {"a=1\nsourcePath=/x", "/y", "a=1\nsourcePath=/y\n"},
    {"a=1", "/y", "sourcePath=/y\r\na=1"},
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
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"Quillmark.kov"}) << "no temporary file is left";
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

// A settings file of any reasonable size goes through load, change and save with every other byte kept,
// NUL bytes and the key's line end style included.
TEST(KeyFile, LargeFileKeepsEveryOtherByte)
{
    struct Row
    {
        const char *name;
        const char *lineEnd;
        size_t bytes;
    };
    const Row rows[] = {
        {"just over the old buffer, CR LF", "\r\n", 12004},
        {"1 MiB, CR LF", "\r\n", 1u << 20},
        {"3 MiB, LF", "\n", 3u << 20},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::string head;
        for (size_t i = 0; head.size() < row.bytes / 2; ++i)
            head += "k" + std::to_string(i) + "=v" + std::string(i % 7, '\0') + row.lineEnd;
        std::string tail;
        for (size_t i = 0; tail.size() < row.bytes / 2; ++i)
            tail += "t" + std::to_string(i) + "=\xd6\xd0" + row.lineEnd;
        tail += "last=no line end";
        const std::string before = head + "sourcePath=/old" + row.lineEnd + tail;

        TempDir dir;
        const std::string path = dir.File("Quillmark.kov");
        WriteBytes(path, before);
        std::string text;
        ASSERT_EQ(LoadKeyFile(path.c_str(), text), 0);
        EXPECT_EQ(text.size(), before.size());
        char value[kSettingsValueCapacity];
        GetKeyValue(text, "sourcePath", value);
        EXPECT_STREQ(value, "/old");
        ASSERT_EQ(SetKeyValue(text, "sourcePath", "/new"), 0);
        ASSERT_EQ(SaveKeyFile(path.c_str(), text), 0);
        EXPECT_TRUE(ReadBytes(path) == head + "sourcePath=/new" + row.lineEnd + tail);
    }
}

TEST(KeyFile, LoadWholeFile)
{
    TempDir dir;
    const std::string path = dir.File("Quillmark.kov");
    std::string text = "kept";
    EXPECT_EQ(LoadKeyFile(path.c_str(), text), -1);
    EXPECT_EQ(text, "kept");

    WriteBytes(path, "");
    EXPECT_EQ(LoadKeyFile(path.c_str(), text), 0);
    EXPECT_EQ(text, "");

    // What is too large to be ours is not taken in, so it is never written over with a part of it.
    text = "kept";
    {
        std::ofstream big(path, std::ios::binary);
        big.seekp(static_cast<std::streamoff>(kSettingsFileLimit));
        big.put('x');
    }
    EXPECT_EQ(LoadKeyFile(path.c_str(), text), -2);
    EXPECT_EQ(text, "kept");
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
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"Quillmark.kov"});
}

TEST(KeyFile, SaveToAMissingFolderFails)
{
    TempDir dir;
    const std::string path = dir.File("missing/Quillmark.kov");
    EXPECT_EQ(SaveKeyFile(path.c_str(), "sourcePath=D:\\y\r\n"), -1);
    EXPECT_TRUE(dir.Entries().empty());
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

    int result;
    {
        FileSizeLimit limit(1024);
        ASSERT_TRUE(limit.active());
        result = SaveKeyFile(path.c_str(), text.c_str());
    }

    EXPECT_EQ(result, -1);
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"Quillmark.kov"}) << "the temporary file is removed";
}

// Runs body in a child process as a user without special rights (the superuser gives up its rights first,
// since permissions do not bind it), optionally under a file size limit. The child's verdict is its exit
// code: body's result, or 100 + a step that failed.
int RunUnprivileged(const std::function<int()> &body, rlim_t fileSizeLimit = RLIM_INFINITY)
{
    const pid_t child = fork();
    if (child < 0)
        return 200;
    if (child == 0) {
        if (geteuid() == 0) {
            const uid_t nobody = 65534;
            if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
                setresuid(nobody, nobody, nobody) != 0)
                _exit(101);
        }
        if (fileSizeLimit != RLIM_INFINITY) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit = {fileSizeLimit, fileSizeLimit};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                _exit(102);
        }
        _exit(body());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return 201;
    return WEXITSTATUS(status);
}

// A folder that the unprivileged user can enter but not write to, holding a settings file that user may
// write (the superuser's temporary folder is not open to others).
struct ClosedFolder
{
    TempDir dir;
    std::string path = dir.File("Quillmark.kov");
    explicit ClosedFolder(const std::string &old)
    {
        WriteBytes(path, old);
        using std::filesystem::perms;
        std::filesystem::permissions(path, perms::owner_read | perms::owner_write | perms::group_read |
                                               perms::group_write | perms::others_read | perms::others_write);
        std::filesystem::permissions(dir.FsPath(), perms::owner_read | perms::owner_exec | perms::group_read |
                                                       perms::group_exec | perms::others_read |
                                                       perms::others_exec);
    }
};

TEST(KeyFile, FolderWithoutNewFilesIsWrittenInPlace_Posix)
{
    struct Row
    {
        const char *name;
        std::string old;
        std::string text;
    };
    const Row rows[] = {
        {"shorter", "sourcePath=C:\\x\r\n" + std::string(300, 'z') + "\r\n", "sourcePath=D:\\y\r\n"},
        {"longer", "sourcePath=C:\\x\r\n", "a=1\r\nsourcePath=" + std::string(5000, 'y') + "\r\n"},
        {"empty", "sourcePath=C:\\x\r\n", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ClosedFolder folder(row.old);
        const std::string path = folder.path;
        const std::string text = row.text;
        EXPECT_EQ(
            RunUnprivileged([&] { return std::fopen((path + ".new").c_str(), "wb") == nullptr ? 0 : 1; }), 0)
            << "the folder must refuse new files for this test to mean anything";
        EXPECT_EQ(RunUnprivileged([&] { return SaveKeyFile(path.c_str(), text) == 0 ? 0 : 1; }), 0);
        EXPECT_EQ(ReadBytes(path), text);
        EXPECT_EQ(folder.dir.Entries(), std::vector<std::string>{"Quillmark.kov"});
    }
}

// Written in place, a write that breaks off (here at a file size limit, as on a full disk) puts the old
// content back.
TEST(KeyFile, FailedWriteInPlaceKeepsTheOldFile_Posix)
{
    const std::string old = "a=1\r\nsourcePath=C:\\x\r\n" + std::string(2000, 'o') + "\r\n";
    ClosedFolder folder(old);
    const std::string path = folder.path;
    const std::string text = "sourcePath=" + std::string(9000, 'y') + "\r\n" + old;
    EXPECT_EQ(RunUnprivileged([&] { return SaveKeyFile(path.c_str(), text) == -1 ? 0 : 1; }, 4096), 0);
    EXPECT_EQ(ReadBytes(path), old);
}

TEST(KeyFile, ReadOnlyFileStays_Posix)
{
    TempDir dir;
    const std::string path = dir.File("Quillmark.kov");
    const std::string old = "sourcePath=C:\\x\r\n";
    WriteBytes(path, old);
    using std::filesystem::perms;
    std::filesystem::permissions(dir.FsPath(), perms::owner_all | perms::others_read | perms::others_write |
                                                   perms::others_exec | perms::group_all);
    std::filesystem::permissions(path, perms::owner_read | perms::group_read | perms::others_read);
    EXPECT_EQ(
        RunUnprivileged([&] { return SaveKeyFile(path.c_str(), "sourcePath=D:\\y\r\n") == -1 ? 0 : 1; }), 0);
    EXPECT_EQ(ReadBytes(path), old);
}

// The settings file may be a link to a file kept elsewhere: the link stays, its target is updated.
TEST(KeyFile, SaveWritesThroughASymbolicLink_Posix)
{
    struct Row
    {
        const char *name;
        bool relative;
        bool targetExists;
        bool chained;
    };
    const Row rows[] = {
        {"absolute", false, true, false},
        {"relative", true, true, false},
        {"link to a link", false, true, true},
        {"target not there yet", true, false, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        std::filesystem::create_directory(dir.FsPath() / "real");
        std::filesystem::create_directory(dir.FsPath() / "app");
        const std::string target = dir.File("real/settings.kov");
        if (row.targetExists)
            WriteBytes(target, "a=1\nsourcePath=/x\n");
        std::string linkTarget = row.relative ? "../real/settings.kov" : target;
        if (row.chained) {
            std::filesystem::create_symlink(target, dir.FsPath() / "real/hop.kov");
            linkTarget = dir.File("real/hop.kov");
        }
        const std::string link = dir.File("app/Quillmark.kov");
        std::filesystem::create_symlink(linkTarget, link);

        std::string text;
        LoadKeyFile(link.c_str(), text);
        ASSERT_EQ(SetKeyValue(text, "sourcePath", "/y"), 0);
        ASSERT_EQ(SaveKeyFile(link.c_str(), text), 0);
        EXPECT_TRUE(std::filesystem::is_symlink(link));
        EXPECT_EQ(ReadBytes(target), row.targetExists ? "a=1\nsourcePath=/y\n" : "sourcePath=/y\r\n");
        // No temporary file is left beside the link or the target.
        size_t files = 0;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(dir.FsPath()))
            files += entry.path().filename().string().find(".tmp") == std::string::npos ? 0 : 1;
        EXPECT_EQ(files, 0u);
    }
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

// Another user who may create files beside the settings file plants its temporary name first: a link to a
// file of the victim's, or a file open to everyone that the planter keeps a second name of. Neither is
// written through or kept: the victim's file keeps its bytes and mode, and the settings file is a new
// file that the planter cannot reach.
TEST(KeyFile, PlantedTemporaryIsNeverUsed_Posix)
{
    using std::filesystem::perms;
    for (const bool link : {true, false}) {
        SCOPED_TRACE(link ? "link to another file" : "file open to everyone");
        TempDir dir;
        const std::string path = dir.File("Quillmark.kov");
        WriteBytes(path, "a=1\r\n");
        const std::string victim = dir.File("victim.txt");
        WriteBytes(victim, "precious");
        std::filesystem::permissions(victim, perms::owner_read | perms::owner_write);
        const std::string temporary = path + "." + std::to_string(getpid()) + ".tmp";
        const std::string planterHandle = dir.File("planter");
        if (link) {
            std::filesystem::create_symlink(victim, temporary);
        } else {
            WriteBytes(temporary, "planted");
            std::filesystem::permissions(temporary, perms::all);
            std::filesystem::create_hard_link(temporary, planterHandle);
        }
        ASSERT_EQ(SaveKeyFile(path.c_str(), "sourcePath=/y\r\n"), 0);
        EXPECT_EQ(ReadBytes(victim), "precious");
        EXPECT_EQ(std::filesystem::status(victim).permissions() & perms::all,
                  perms::owner_read | perms::owner_write);
        EXPECT_FALSE(std::filesystem::is_symlink(path));
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(temporary)));
        if (!link) {
            WriteBytes(planterHandle, "rewritten by the planter");
        }
        EXPECT_EQ(ReadBytes(path), "sourcePath=/y\r\n");
    }
}

#endif

} // namespace
