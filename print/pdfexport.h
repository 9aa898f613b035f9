#pragma once
// The PDF export of a run: each document's PDF at the same relative path below the PDF folder, written by
// the office into a private folder of the run's own and then moved into place, so that nothing in the PDF
// folder (which may be a folder others fill) is ever written through a link or replaced unless it is a PDF
// this program made there.

#include "print/printjobsettings.h"
#include "print/wordprocessor.h"

#include <QHash>
#include <QSet>
#include <QString>

// The PDFs this program made below one PDF folder, by their content: a file whose SHA-256 is the one
// recorded for its place was made here and not changed since. Kept in the user's own data folder, where no
// one who can write into the PDF folder can add to it.
class MadePdfs
{
public:
    explicit MadePdfs(const QString &pdfFolder);
    // The record's file (empty when the data folder is unknown).
    QString recordPath() const { return path_; }
    bool madeHere(const QString &relative, const QByteArray &sha256) const;
    // False when it could not be recorded (the PDF is then kept by a later --overwrite).
    bool record(const QString &relative, const QByteArray &sha256);

private:
    QString path_;
    QHash<QString, QByteArray> digests_; // relative path -> SHA-256
};

class PdfExporter
{
public:
    enum class Result
    {
        Exported,
        Kept,  // something that is not to be replaced is at the PDF's place
        Failed // the office could not write it, or it could not be put in place
    };

    explicit PdfExporter(const PrintJobSettingsRecord &settings);
    ~PdfExporter(); // the private folder goes, with whatever the office left in it
    PdfExporter(const PdfExporter &) = delete;
    PdfExporter &operator=(const PdfExporter &) = delete;

    // False when the private folder could not be made: nothing can be exported then.
    bool ready() const { return !privateFolder_.isEmpty(); }
    // Looked at before the document is opened: its PDF stays as it is, so it needs no office. a.doc and
    // a.docx share a PDF: the second never replaces what this run made of the first.
    bool keeps(const QString &documentPath) const;
    Result exportDocument(WordProcessor &office, WordProcessor::Document document,
                          const QString &documentPath);

    // The PDF's place below the PDF folder ('/' between names): the document's path below the folder,
    // with ".pdf" for its Word extension.
    QString relativeTarget(const QString &documentPath) const;

private:
    // What is at the place may be replaced: overwriting was asked for and it is a PDF this program made.
    bool replaceable(const QString &relative) const;

    QString root_;          // the printed folder, native, ends in a separator
    QString pdfFolder_;     // ends in "/"
    QString privateFolder_; // empty when it could not be made
    bool overwrite_;
    MadePdfs made_;
    QSet<QString> madeByThisRun_;
    int counter_ = 0;
};
