#include "platform/folderlisting.h"

#include <QDir>

void ListFolder(const QString &path, QStringList &files, QFileInfoList &folders)
{
    const QDir dir(path);
    for (const QFileInfo &file :
         dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::NoSort))
        files.append(file.filePath());
    folders += dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
}
