#pragma once
// What became of one document of a run, for callers that report per document (the command line's
// report). The outcome names are written into reports that scripts read: they never change.

#include <QMetaType>
#include <QString>

namespace outcome {
inline const char Printed[] = "printed";
inline const char Exported[] = "exported";
inline const char Opens[] = "opens";
inline const char WrongPassword[] = "wrong-password";
inline const char Damaged[] = "damaged";
inline const char TimedOut[] = "timed-out";
inline const char PrinterError[] = "printer-error";
inline const char NotTried[] = "not-tried";
inline const char SkippedExisting[] = "skipped-existing";
// The job went to the printer but could not be followed to its end: neither printed nor failed.
inline const char Unconfirmed[] = "unconfirmed";
// The office opened the document but the PDF could not be written.
inline const char ExportFailed[] = "export-failed";
// The page range selects no page of the document (it has fewer pages): nothing was printed or exported.
inline const char NoPages[] = "no-pages";
} // namespace outcome

struct DocumentOutcome
{
    int number = 0; // the document's place in the run, from 1
    int total = 0;  // the documents of the run
    QString path;   // as the run tried it (native separators)
    QString outcome;
    int passwordLine = 0;   // the line of the passwords that opened it, from 1; 0: none was needed or given
    bool encrypted = false; // it opened only with a password
    int jobId = 0;          // the print server's job, 0 when there was none
    // What was printed (the pages the range selects, or all, times the copies) or exported; -1 unknown.
    int pages = -1;
    double seconds = 0;     // from the first open to the outcome
    qint64 size = -1;       // the file's size in bytes when it was tried; -1: not tried
    qint64 modifiedMs = -1; // its modification time then, in ms since 1970 (UTC)
};

Q_DECLARE_METATYPE(DocumentOutcome)
