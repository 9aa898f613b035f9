#pragma once
// Makes the Word documents the print tests use, with a LibreOffice of the test's own.

#include <QString>
#include <QStringList>
#include <QVector>

namespace docmaker {

// Converts every .txt file in dir to format ("docx", "doc", or "docm:MS Word 2007 XML VBA"), beside it,
// with soffice --headless --convert-to and a private profile. False with *error filled on failure.
bool Convert(const QString &dir, const QString &format, QString *error);

struct PasswordJob
{
    QString source;   // a document LibreOffice can open
    QString target;   // the .doc to write
    QString password; // at most 15 characters: Word 97 encryption ignores longer ones
};

// Stores each source as an RC4-encrypted Word 97 document, through UNO (storeToURL with a password).
bool SavePasswordProtected(const QVector<PasswordJob> &jobs, QString *error);

} // namespace docmaker
