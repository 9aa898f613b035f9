#include "platform/folderlisting.h"

#include <QDir>

bool ListFolder(const QString &path, QStringList &files, std::vector<FolderEntry> &folders)
{
    const QDir dir(path);
    if (!dir.isReadable())
        return false;
    for (const QFileInfo &file :
         dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::NoSort))
        files.append(file.filePath());
    for (const QFileInfo &folder : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort))
        folders.push_back(FolderEntry{folder.absoluteFilePath(), folder.isSymLink()});
    return true;
}

QString CanonicalFolderPath(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}
