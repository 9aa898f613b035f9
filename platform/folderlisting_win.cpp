#include "platform/folderlisting.h"

#include <QDir>

void ListFolder(const QString &path, QFileInfoList &files, QFileInfoList &folders)
{
    const QDir dir(path);
    files += dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::NoSort);
    folders += dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
}
