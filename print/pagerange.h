#pragma once
// Page ranges such as "1-3,5", as the print options and the PDF export take them.

#include <QString>

// True for a range of pages counted from 1, each span ascending, no spaces.
bool IsValidPageRange(const QString &pages);

// How many pages of a document of pageCount pages the range selects, each page once (spans that overlap
// select it once); -1 for a range that is not valid.
int PagesSelected(const QString &pages, int pageCount);
