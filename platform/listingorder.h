#pragma once
// The order in which a folder's entries are listed when the user's tree is scanned.

#include <QDir>

// Windows file systems already list by name, so no sorting is asked for there; other file systems list
// in hash order, so entries are sorted by name, ignoring case, to give the same order.
QDir::SortFlags FolderListingOrder();
