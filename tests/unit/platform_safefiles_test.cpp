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
    EXPECT_EQ(EntryKind::Link, QueryEntryNoFollow(dir.File("link").c_str()));
#endif
    EXPECT_EQ(EntryKind::Folder, QueryEntryNoFollow(folder.c_str()));
    EXPECT_EQ(EntryKind::Missing, QueryEntryNoFollow(dir.File("none").c_str()));
}

} // namespace
