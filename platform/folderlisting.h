#pragma once
// One folder's entries, as the scan of the user's tree takes them.

#include <QFileInfoList>
#include <QString>
#include <QStringList>

// Appends to files the paths of the folder's files (the folder's path, "/", the name, as QDir gives
// them), hidden ones included, symbolic links left out, and to folders its subfolders without "." and
// "..", hidden ones left out, links to folders included. A folder that is missing or cannot be read adds
// nothing.
// Order: Windows file systems already list by name, so the listing is taken unsorted there. Other file
// systems list in hash order, so entries are sorted by name ignoring case, as NTFS orders them (upper-cased
// UTF-16 code units compared by value), to give the order a Windows user sees.
void ListFolder(const QString &path, QStringList &files, QFileInfoList &folders);
