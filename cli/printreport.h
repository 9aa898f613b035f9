#pragma once
// The report of a run, one row per document, for scripts and spreadsheets: ".csv" (UTF-8, a header row)
// or ".json" (one object per line). It is written anew as rows come (at most twice a second, and by
// flush), to a new file beside it that is then renamed over it, so an interrupted run leaves a whole
// report of what it did.

#include "print/documentoutcome.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <map>

struct ReportRow
{
    QString path; // relative to the folder; may hold bytes that are not UTF-8 (platform/filename.h)
    QString outcome;
    int passwordLine = 0; // 0: none
    int jobId = 0;        // 0: none
    int pages = -1;       // -1: unknown
    double seconds = 0;
};

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

    // Rows are kept in the order of their number, whatever order they come in. False when the report
    // could not be written.
    bool add(int number, const ReportRow &row);
    // Writes what is not written yet.
    bool flush();
    bool write();

    // The text of the report, as it is written.
    QByteArray text() const;
    static QString CsvHeader();
    QString csvLine(const ReportRow &row) const;
    QString jsonLine(const ReportRow &row) const;

private:
    QString path_;
    Format format_;
    bool passwordLines_;
    std::map<int, QString> lines_; // each row as written
    QElapsedTimer lastWrite_;
    bool pending_ = false;
};
