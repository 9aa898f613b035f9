#pragma once
// The command line's account of one run: its progress lines, the report's rows, the failure list it
// leaves, the summary, and the exit code, all from what the run told of each document, so that they agree
// on every document.

#include "print/documentoutcome.h"
#include "print/printjobsettings.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class PrintReport;
class PrintLedger;
class QTextStream;

enum PrintExit
{
    kPrintExitAllPrinted = 0,
    kPrintExitSomeFailed = 1, // some not done: listed (failed, not confirmed, not tried as the run stopped)
    kPrintExitNothingPrinted = 2,
    kPrintExitInterrupted = 130,
};

// What the exit code is made of.
struct RunCounts
{
    int done = 0;             // printed, exported, or opened by a check
    int failed = 0;           // in the failure list
    int unconfirmed = 0;      // went to the printer, printing not confirmed
    int untried = 0;          // not tried because the run stopped
    int otherwiseNotDone = 0; // a PDF kept, a listed file gone, a range without pages
    bool problem = false;     // something outside the documents stopped the run (or kept it from starting)
    bool interrupted = false;
    bool recordsWritten = true; // the report and the failure list
};
// 130 when interrupted. A run that a problem stopped: 2 when it did nothing and sent nothing whose fate is
// unknown (the same command may simply be run again), else 1 with what it did not do in the failure list.
// Otherwise 1 when anything was not done, 0 when everything was.
int ExitCodeOf(const RunCounts &counts);

struct RunSetup
{
    PrintJobSettingsRecord settings; // as the run was given them
    bool quiet = false;
    bool passwordLines = false; // several passwords were given
    QString failureListPath;    // empty: the run keeps no list (a check)
    bool wholeFolder = false;   // the run takes every document of the folder
    PrintReport *report = nullptr;
    PrintLedger *ledger = nullptr;
    QString doneFolder;       // documents done are moved there (ends in "/")
    int rowBase = 0;          // added to each document's number in the report
    int skippedUnchanged = 0; // left out as done before and unchanged since
    int skippedUncertain = 0; // left out as perhaps printed before (unconfirmed) and unchanged since
};

class RunAccount
{
public:
    RunAccount(const RunSetup &setup, QTextStream &out, QTextStream &err);

    // Before the run's own documents: how many were left out as done before and unchanged since (and how
    // many of those only perhaps printed), and the folders that the scan that chose them could not read
    // (native, ending in a separator).
    void leftOut(int done, int uncertain, const QStringList &unreadableFolders);
    void started(int number, int total, const QString &path);
    void finished(const DocumentOutcome &result);
    void unreadable(const QStringList &folders);
    void runFinished(int doneCount, int failedCount, const QString &problem);
    // After the run: the failure list, the summary and the exit code. interrupted: a termination signal
    // ended it.
    int conclude(bool interrupted);

    // The document's path relative to the folder, '/' between names.
    QString relative(const QString &path) const { return Relative(path, root_); }
    // The same below root (native, ending in a separator).
    static QString Relative(const QString &path, const QString &root);
    int rowsAdded() const { return rows_; }
    int total() const { return total_; }
    // After conclude: something outside the documents stopped the run.
    bool stoppedByProblem() const { return stopped_; }

private:
    bool writeFailureList(bool complete);
    void moveToDoneFolder(const QString &path);
    QString shown(const QString &path) const; // relative, native separators

    RunSetup setup_;
    QTextStream &out_;
    QTextStream &err_;
    QString root_; // native, ends in a separator
    bool checking_, exporting_;
    int total_ = 0, started_ = 0, rows_ = 0;
    int done_ = 0, failed_ = 0, encrypted_ = 0, skipped_ = 0, gone_ = 0, noPages_ = 0, untried_ = 0;
    QString problem_;
    bool stopped_ = false;
    bool reportWritten_ = true, listWritten_ = true, listed_ = false;
    std::vector<std::pair<int, QString>> lines_; // this run's failure list lines by number
    QStringList settled_;                        // documents the run brought to an end
    QStringList notTried_;                       // by the run (not gone), in order
    QStringList folders_;                        // that could not be read
    QStringList unconfirmed_;                    // shown paths
};
