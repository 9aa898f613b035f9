#pragma once
// The report of a run, one row per document, for scripts and spreadsheets: ".csv" (UTF-8, a header row)
// or ".json" (one object per line). It is written anew as rows come (at most twice a second, and by
// flush), to a new file beside it that is then renamed over it, so an interrupted run leaves a whole
// report of what it did. A report of ours already at the path is carried on: its rows stay, each document
// the run brings to an end gets this run's row in its place, new documents follow. Anything else at the
// path is never replaced.

#include "print/documentoutcome.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>
#include <map>

struct ReportRow
{
    QString path; // relative to the folder; may hold bytes that are not UTF-8 (platform/filename.h)
    QString outcome;
    int passwordLine = 0; // 0: none
    int jobId = 0;        // 0: none
    int pages = -1;       // -1: unknown
    double seconds = 0;
    qint64 size = -1;       // the document's size when it was tried; -1: unknown
    qint64 modifiedMs = -1; // its modification time then, ms since 1970 UTC; -1: unknown
};

// The rows of a report's bytes (the format by name's extension), in its order: a spreadsheet may have
// filtered it and moved its columns, but it needs a path column. False with *error naming the line when
// the bytes are not UTF-8, a line is malformed or a path holds a NUL.
bool ReadReportRows(const QString &name, const QByteArray &bytes, QVector<ReportRow> *rows, QString *error);

// The fields of one record of comma-separated values (quotes as spreadsheets write them); *next is where
// the next record starts. Line breaks inside quotes belong to the field. *malformed (may be null) is set
// when a quote stands where a spreadsheet never puts one (inside a field that does not begin with it,
// text right after a closing quote) or the text ends inside quotes.
QStringList ParseCsvRecord(const QString &text, int from, int *next, bool *malformed = nullptr);

class PrintReport
{
public:
    enum class Format
    {
        Csv,
        Json
    };
    // passwordLines: the password line column is filled (several passwords were given).
    PrintReport(const QString &path, bool passwordLines);

    static Format FormatOf(const QString &path);
    QString path() const { return path_; }

    // Reads what is at the path before anything is written: nothing, an empty file, or a report this
    // program wrote (its rows are carried on). False with *error for anything else (a link, another file,
    // a report of another program, one that cannot be read): it must not be replaced.
    bool open(QString *error);
    // The rows found by open, in their order.
    const QVector<ReportRow> &earlierRows() const { return earlier_; }

    // This run's row of a document, kept in the order of number. A row of a document the run did not
    // bring to an end (not tried) does not replace an earlier row of it. False when the report could not
    // be written.
    bool add(int number, const ReportRow &row);
    // Writes what is not written yet (the header at least).
    bool flush();
    bool write();

    // The text of the report, as it is written.
    QByteArray text() const;
    static QString CsvHeader();
    QString csvLine(const ReportRow &row) const;
    QString jsonLine(const ReportRow &row) const;

private:
    QString line(const ReportRow &row) const;

    QString path_;
    Format format_;
    bool passwordLines_;
    QVector<ReportRow> earlier_;
    QHash<QString, int> earlierIndex_; // path -> its row in earlier_
    std::map<int, ReportRow> rows_;    // this run's, by number
    QHash<QString, int> replacements_; // path -> the number of this run's row that takes its earlier place
    QElapsedTimer lastWrite_;
    bool pending_ = true; // written at least once, also when no row comes
};
