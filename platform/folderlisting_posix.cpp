#include "platform/folderlisting.h"

#include "platform/filename.h"

#include <QStringView>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// One pass of readdir, using the entry type it reports, instead of two QDir listings: the scan of a large
// tree spends most of its time here.

namespace {

enum class Kind
{
    File,
    Folder,
    Other
};

Kind KindOf(int folderFd, const dirent *entry, bool &isLink)
{
    unsigned char type = entry->d_type;
    struct stat info;
    if (type == DT_UNKNOWN) {
        if (fstatat(folderFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            return Kind::Other;
        type = S_ISREG(info.st_mode)   ? DT_REG
               : S_ISDIR(info.st_mode) ? DT_DIR
               : S_ISLNK(info.st_mode) ? DT_LNK
                                       : 0;
    }
    if (type == DT_REG)
        return Kind::File;
    if (type == DT_DIR)
        return Kind::Folder;
    isLink = type == DT_LNK;
    if (type == DT_LNK) // a link counts as a folder when it leads to one, and never as a file
        return fstatat(folderFd, entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode) ? Kind::Folder
                                                                                        : Kind::Other;
    return Kind::Other; // devices, pipes, sockets
}

// Full paths, decoded once: prefix + name. Plain ASCII names, the usual case, need no codec; any other
// name keeps its bytes.
void AppendPath(std::vector<QString> &paths, const QString &prefix, const char *name)
{
    const size_t length = std::strlen(name);
    bool ascii = true;
    for (size_t i = 0; i < length && ascii; ++i)
        ascii = static_cast<unsigned char>(name[i]) < 0x80;
    QString path;
    path.reserve(prefix.size() + static_cast<int>(length));
    path += prefix;
    if (ascii)
        path += QLatin1String(name, static_cast<int>(length));
    else
        path += DecodeFileName(QByteArray::fromRawData(name, static_cast<int>(length)));
    paths.push_back(std::move(path));
}

// NTFS keeps a folder's names in the order of their upper-cased UTF-16 code units; the same order here.
int CompareNames(QStringView a, QStringView b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t x = a[i].unicode(), y = b[i].unicode();
        if (x == y)
            continue;
        const char16_t ux = x < 0x80 ? (x >= 'a' && x <= 'z' ? x - 32 : x) : QChar::toUpper(x);
        const char16_t uy = y < 0x80 ? (y >= 'a' && y <= 'z' ? y - 32 : y) : QChar::toUpper(y);
        if (ux != uy)
            return ux < uy ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// By name, ignoring case; names that differ in case only still get a fixed order.
void SortByName(std::vector<QString> &paths, int prefixLength)
{
    std::sort(paths.begin(), paths.end(), [prefixLength](const QString &a, const QString &b) {
        const QStringView nameA = QStringView(a).mid(prefixLength), nameB = QStringView(b).mid(prefixLength);
        const int folded = CompareNames(nameA, nameB);
        return folded != 0 ? folded < 0 : nameA < nameB;
    });
}

} // namespace

bool ListFolder(const QString &path, QStringList &files, std::vector<FolderEntry> &folders)
{
    const int fd = open(EncodeFileName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR *dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return false;
    }
    // Entries are named as QDir would name them: the folder's path without a trailing "/", then the name.
    QString prefix = path;
    if (prefix.size() > 1 && prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    if (!prefix.endsWith(QLatin1Char('/')))
        prefix += QLatin1Char('/');

    std::vector<QString> filePaths, folderPaths, linkPaths;
    bool complete = true;
    for (;;) {
        errno = 0;
        const dirent *entry = readdir(dir);
        if (!entry) {
            complete = errno == 0;
            break;
        }
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        bool isLink = false;
        switch (KindOf(fd, entry, isLink)) {
        case Kind::File:
            AppendPath(filePaths, prefix, name);
            break;
        case Kind::Folder:
            if (name[0] != '.') // hidden folders are not entered
                AppendPath(isLink ? linkPaths : folderPaths, prefix, name);
            break;
        case Kind::Other:
            break;
        }
    }
    closedir(dir);
    // Links are few: they are told apart again after sorting by a lookup, not carried through the sort.
    std::sort(linkPaths.begin(), linkPaths.end());
    folderPaths.insert(folderPaths.end(), linkPaths.begin(), linkPaths.end());
    SortByName(filePaths, prefix.size());
    SortByName(folderPaths, prefix.size());
    files.reserve(files.size() + static_cast<int>(filePaths.size()));
    for (QString &file : filePaths)
        files.append(std::move(file));
    for (QString &folder : folderPaths) {
        const bool isLink = std::binary_search(linkPaths.begin(), linkPaths.end(), folder);
        folders.push_back(FolderEntry{std::move(folder), isLink});
    }
    return complete;
}

QString CanonicalFolderPath(const QString &path)
{
    char *resolved = realpath(EncodeFileName(path).constData(), nullptr);
    if (!resolved)
        return QString();
    const QString canonical = DecodeFileName(QByteArray(resolved));
    std::free(resolved);
    return canonical;
}
