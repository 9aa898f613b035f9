#pragma once
// One folder's entries, as the scan of the user's tree takes them.
//
// Paths are carried in the lossless form of platform/filename.h, so a name that is not valid UTF-8 is
// listed, entered and opened with its own bytes.

#include <QString>
#include <QStringList>
#include <vector>

struct FolderEntry
{
    QString path;
    bool isLink = false; // a symbolic link that leads to a folder
};

// Appends to files the paths of the folder's files (the folder's path, "/", the name, as QDir gives
// them), hidden ones included, symbolic links left out, and to folders its subfolders without "." and
// "..", hidden ones left out, links to folders included. False when the folder could not be opened or read
// to its end; whatever was read before the error is appended all the same.
// Order: Windows file systems already list by name, so the listing is taken unsorted there. Other file
// systems list in hash order, so entries are sorted by name ignoring case, as NTFS orders them (upper-cased
// UTF-16 code units compared by value), to give the order a Windows user sees.
bool ListFolder(const QString &path, QStringList &files, std::vector<FolderEntry> &folders);

// The folder's path with every link resolved, in the same lossless form; empty when it does not exist or
// cannot be resolved.
QString CanonicalFolderPath(const QString &path);
