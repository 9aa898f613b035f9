#pragma once
// One folder's entries, as the scan of the user's tree takes them.

#include <QFileInfoList>
#include <QString>

// Appends to files the folder's files, hidden ones included, symbolic links left out, and to folders
// its subfolders without "." and "..", hidden ones left out, links to folders included.
// Windows file systems already list by name, so the listing is taken unsorted there; other file systems
// list in hash order, so entries are sorted by name, ignoring case, to give the order a Windows user sees.
// A folder that is missing or cannot be read adds nothing.
void ListFolder(const QString &path, QFileInfoList &files, QFileInfoList &folders);
