#pragma once
// The list of documents that did not print: one path per line, for the user to read.

#include <QString>
#include <QStringList>

// Heads the line of a document that went to the printer but could not be confirmed printed. Every other
// line is an absolute path, so a line that starts with it is never taken for one.
QString FailureListUnconfirmedMarker();

// Writes the paths (native form) to listPath, replacing what is there. Each path is written as the file
// system's own bytes (platform/filename.h: the exact name bytes on Linux, the ANSI code page on Windows),
// followed by a line end of the platform (text mode). A symbolic link at listPath is replaced, never
// followed. False when the list could not be written whole; no partial list is left then.
bool WriteFailureList(const QString &listPath, const QStringList &paths);

// The line that stands for one path. A line break inside a name (possible on Linux only) would split the
// line into two paths that do not exist, so each is written as its visible Unicode sign: U+2424 for a line
// feed, U+240D for a carriage return. Every other character is the name's own.
QString FailureListLine(const QString &path);

// The list after a run that did not try the whole folder (a list of documents, only what is new, an
// interrupted or stopped run), from the list it found (old, its lines) and what it learnt: learnt holds
// this run's lines in the order tried, settled the paths of every document it brought to an end (printed,
// failed, unconfirmed, ...). A line of old stays unless its document was settled; a document listed again
// keeps its old place; the rest of learnt follows in its order. Each path is listed once.
QStringList MergeFailureList(const QStringList &old, const QStringList &learnt, const QStringList &settled);

// The path a line names: the line without the unconfirmed marker.
QString FailureListPath(const QString &line);
