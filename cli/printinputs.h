#pragma once
// The files quillmark-print reads besides the folder: a list of passwords, and a list of documents (a
// failure list of an earlier run, a hand-made list, or a report of an earlier run).

#include <QByteArray>
#include <QString>
#include <QStringList>

// The passwords of a file's bytes, one per line, in order: UTF-8 (a leading byte order mark is dropped),
// lines ended by LF or CR LF, an empty line standing for "no password". False with *error for the user
// when the bytes are not UTF-8 or hold no line at all.
bool ParsePasswords(const QByteArray &bytes, QStringList *passwords, QString *error);

// The documents a list names, as native paths below folder (which ends in a separator), in the list's
// order, each once. listName decides the format: ".csv" and ".json" are reports (UTF-8; their printed and
// exported rows are left out), anything else has one path per line, absolute or relative to folder, in the
// file system's own bytes. A leading byte order mark is dropped. An absolute path that names the folder
// through a link to it is taken as naming the folder. False with *error for the user (naming the line
// where it can) when a path lies outside folder or holds a NUL, or a report is not UTF-8 or malformed.
bool ParseDocumentList(const QString &listName, const QByteArray &bytes, const QString &folder,
                       QStringList *paths, QString *error);
