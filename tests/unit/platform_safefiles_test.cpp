// Files no other user can plant or reach: exclusive creation over what someone put there, modes set
// exactly, the checks on an open file, held folders. (The owner-only access list on Windows is not here:
// Wine keeps no access list on files, it answers with one made from the Unix mode.)

#include "platform/safefiles.h"
#include "tests/unit/support_tempdir.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::string WriteAndClose(std::FILE *f, const std::string &text)
{
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return text;
}

// What someone planted at the name is removed and never written through; without removeFirst, anything
// there refuses and stays.
TEST(SafeFiles, ExclusiveFileReplacesWhatWasPlantedAndNeverWritesThroughIt)
{
    TempDir dir;
    const std::string path = dir.File("Quillmark.zip");
    WriteBytes(path, "planted");
    EXPECT_EQ(nullptr, CreateExclusiveFile(path.c_str(), FileAccess::Readable, false));
    EXPECT_EQ("planted", ReadBytes(path));
    std::FILE *f = CreateExclusiveFile(path.c_str(), FileAccess::OwnerOnly);
    ASSERT_NE(nullptr, f);
    EXPECT_TRUE(OpenFileIsPrivate(f, true));
    WriteAndClose(f, "mine");
    EXPECT_EQ("mine", ReadBytes(path));
}

#ifndef _WIN32
// A link planted at the name goes as the link: the file it points at keeps its bytes and mode. A file
// planted open to everyone, of which the planter keeps a second name, is not the new file either.
TEST(SafeFiles, PlantedLinkAndPlantedFileAreNeverUsed_Posix)
{
    TempDir dir;
    const std::string victim = dir.File("victim");
    WriteBytes(victim, "precious");
    chmod(victim.c_str(), 0600);
    const std::string path = dir.File("Quillmark.zip");
    ASSERT_EQ(0, symlink(victim.c_str(), path.c_str()));
    WriteAndClose(CreateExclusiveFile(path.c_str(), FileAccess::OwnerOnly), "mine");
    struct stat info;
    ASSERT_EQ(0, stat(victim.c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 07777);
    EXPECT_EQ("precious", ReadBytes(victim));

    const std::string planter = dir.File("planter");
    ASSERT_EQ(0, unlink(path.c_str()));
    WriteBytes(path, "planted");
    chmod(path.c_str(), 0666);
    ASSERT_EQ(0, link(path.c_str(), planter.c_str()));
    std::FILE *f = CreateExclusiveFile(path.c_str(), FileAccess::OwnerOnly);
    ASSERT_NE(nullptr, f);
    WriteBytes(planter, "rewritten");
    EXPECT_TRUE(OpenFileIsPrivate(f, true));
    WriteAndClose(f, "mine");
    EXPECT_EQ("mine", ReadBytes(path));
}

// The mode is the one asked for, whatever the umask; AsUsual is what the umask gives.
TEST(SafeFiles, ModesAreExactWhateverTheUmask_Posix)
{
    const struct
    {
        FileAccess access;
        mode_t umask;
        mode_t mode;
    } rows[] = {
        {FileAccess::OwnerOnly, 0, 0600},  {FileAccess::Readable, 0, 0644},
        {FileAccess::Executable, 0, 0755}, {FileAccess::Readable, 077, 0644},
        {FileAccess::AsUsual, 027, 0640},
    };
    TempDir dir;
    for (const auto &row : rows) {
        const std::string path = dir.File("f");
        const mode_t saved = umask(row.umask);
        std::FILE *f = CreateExclusiveFile(path.c_str(), row.access);
        umask(saved);
        ASSERT_NE(nullptr, f);
        std::fclose(f);
        struct stat info;
        ASSERT_EQ(0, stat(path.c_str(), &info));
        EXPECT_EQ(row.mode, info.st_mode & 07777) << int(row.access) << " under umask " << row.umask;
    }
}

// An open file that someone else could reach through another name or its mode is not taken as private.
TEST(SafeFiles, OpenFileReachableByOthersIsNotPrivate_Posix)
{
    TempDir dir;
    const std::string path = dir.File("Quillmark.zip");
    std::FILE *f = CreateExclusiveFile(path.c_str(), FileAccess::OwnerOnly);
    ASSERT_NE(nullptr, f);
    EXPECT_TRUE(OpenFileIsPrivate(f, true));
    ASSERT_EQ(0, link(path.c_str(), dir.File("second").c_str()));
    EXPECT_FALSE(OpenFileIsPrivate(f, true));
    ASSERT_EQ(0, unlink(dir.File("second").c_str()));
    ASSERT_EQ(0, chmod(path.c_str(), 0640));
    EXPECT_FALSE(OpenFileIsPrivate(f, true));
    EXPECT_TRUE(OpenFileIsPrivate(f, false));
    std::fclose(f);
}
#endif

// A held folder cannot be held again, in this process or another, until it is released; a link is never
// held.
TEST(SafeFiles, HeldFolderIsHeldOnce)
{
    TempDir dir;
    const std::string folder = dir.File("Quillmark_update.x");
    std::filesystem::create_directory(folder);
    const intptr_t first = HoldFolder(folder.c_str());
    ASSERT_NE(-1, first);
    EXPECT_EQ(-1, HoldFolder(folder.c_str()));
    ReleaseFolder(first);
    const intptr_t again = HoldFolder(folder.c_str());
    EXPECT_NE(-1, again);
    ReleaseFolder(again);
#ifndef _WIN32
    ASSERT_EQ(0, symlink(folder.c_str(), dir.File("link").c_str()));
    EXPECT_EQ(-1, HoldFolder(dir.File("link").c_str()));
    EXPECT_EQ(EntryKind::Other, EntryAt(dir.File("link").c_str()));
#endif
    EXPECT_EQ(EntryKind::Folder, EntryAt(folder.c_str()));
    EXPECT_EQ(EntryKind::Missing, EntryAt(dir.File("none").c_str()));
}

} // namespace
