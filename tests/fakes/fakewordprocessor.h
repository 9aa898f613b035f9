#pragma once
// A word processor for tests: records every call the print run makes and decides, per path, what opens.
//
//     auto office = InstallFakeWordProcessor();          // the next runs use it
//     office->setRequiredPassword(dir + "/2.doc", "pw"); // opens only with "pw"
//     office->addFailingPath(dir + "/3.doc");            // never opens
//     ... run ThreadObject::ReplaceExcelText() ...
//     QCOMPARE(office->calls(), QStringList{"create", "setVisible(false)", ...});
//     UninstallFakeWordProcessor();
//
// Recorded calls, one text each:
//   create  setVisible(false)  setDisplayAlerts(false)  queryDocuments  printerProblem
//   open(<path>,false,false,false,<password>,<password>,true)  printOut(<path>)  close(<path>,false)
//   quit  abort
//   setPrintOptions(copies=<n>,collate=<bool>,duplex=<printer|off|long|short>,pages=<range>)
//   exportPdf(<path>)   (writes a small file at the target it is given)
// printerProblem is checked before each document. With setFollowsJobs(true) printOut only queues the
// job; its result comes through takeJobResults (not recorded), at once unless jobs are held.
// Paths are passed as the run gives them (native separators). The object is thread-safe: the run calls it
// on its own thread while a test reads it.

#include "print/wordprocessor.h"

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QStringList>
#include <QWaitCondition>
#include <memory>

class FakeOffice
{
public:
    // What the next runs meet.
    void setCreateFails(bool fails);   // create() returns false: no word processor installed
    void setDocumentsFail(bool fails); // queryDocuments() returns false
    void setPrinterProblem(const QString &text);
    void addFailingPath(const QString &path); // open() never succeeds
    void setRequiredPassword(const QString &path, const QString &password);
    void addPrintFailingPath(const QString &path); // opens, but printOut() returns false
    // Every create() / open() takes this long, cut short by abort() (which then makes it fail).
    void setCreateDelayMs(int milliseconds);
    void setOpenDelayMs(int milliseconds);
    void setPrintDelayMs(int milliseconds); // each printOut(), cut short by abort() (which then fails it)
    // Jobs followed in the background, as a client that overlaps documents does.
    void setFollowsJobs(bool follows);
    // While held, queued jobs get no result; waits for them block until release or abort.
    void setJobsHeld(bool held);
    void addJobFailingPath(const QString &path); // its job is queued, then fails
    // Its job is queued, then cannot be followed to its end: printing it is not confirmed.
    void addJobUnconfirmedPath(const QString &path);
    // Once path's job is queued, the printer stops: printerProblem() gives text from then on, and jobs
    // still waiting fail (they are cancelled).
    void setPrinterStopsAfter(const QString &path, const QString &text);

    // open() fails as if the office hung over the document and was ended.
    void addTimingOutPath(const QString &path);
    // Whether open() tells a wrong password apart (a client that cannot says Unknown). Default: it tells.
    void setTellsOpenFailures(bool tells);
    void setPrintOptionsRefused(bool refused); // setPrintOptions() returns false
    void addExportFailingPath(const QString &path);
    void setPdfExportUnsupported(bool unsupported);    // exportsPdf() returns false
    void setPageCount(const QString &path, int pages); // what pageCount() says; -1 otherwise
    // The office breaks down over path, in open() or (atPrint) in printOut(), which then fail; breakdown()
    // tells kind from then on.
    void setBreakdownAt(const QString &path, WordProcessor::Breakdown kind, bool atPrint);
    // Job ids of followed jobs are 100 plus the document's handle.

    QStringList calls() const;
    QStringList printedPaths() const; // paths whose printOut() succeeded, in order
    int instancesAlive() const;       // processors created by the factory and not yet destroyed

private:
    friend class FakeWordProcessor;
    void record(const QString &call);

    mutable QMutex mutex_;
    QWaitCondition aborted_;
    bool createFails_ = false;
    bool documentsFail_ = false;
    QString printerProblem_;
    QSet<QString> failingPaths_;
    QHash<QString, QString> passwords_;
    QSet<QString> printFailingPaths_;
    int createDelayMs_ = 0;
    int openDelayMs_ = 0;
    int printDelayMs_ = 0;
    bool followsJobs_ = false;
    bool jobsHeld_ = false;
    QSet<QString> jobFailingPaths_;
    QSet<QString> jobUnconfirmedPaths_;
    QString stopAfterPath_, stopText_;
    QWaitCondition jobsChanged_;
    QSet<QString> timingOutPaths_;
    bool tellsOpenFailures_ = true;
    bool optionsRefused_ = false;
    bool exportUnsupported_ = false;
    QSet<QString> exportFailingPaths_;
    QHash<QString, int> pageCounts_;
    QString breakdownPath_;
    WordProcessor::Breakdown breakdownKind_ = WordProcessor::Breakdown::None;
    bool breakdownAtPrint_ = false;
    QStringList calls_;
    QStringList printed_;
    int alive_ = 0;
    bool abortRequested_ = false;
};

// Makes CreateWordProcessor() hand out processors backed by the returned office.
std::shared_ptr<FakeOffice> InstallFakeWordProcessor();
// CreateWordProcessor() returns nothing afterwards, as with no client installed.
void UninstallFakeWordProcessor();
