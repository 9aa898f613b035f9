#pragma once
// The print run on a thread of its own, for the command line: one run after another on the same thread,
// what each run tells coming back on the caller's thread in the order it was told.

#include "print/documentoutcome.h"
#include "print/printjobsettings.h"

#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>
#include <atomic>
#include <functional>

class ThreadObject;

class BatchRun : public QObject
{
    Q_OBJECT
public:
    explicit BatchRun(QObject *parent = nullptr);
    ~BatchRun() override; // ends a run under way and the thread

    // Runs on the run's thread before the run, and may change its settings (the documents to take, say);
    // stop() turns true once the run is aborted.
    using Prepare = std::function<void(PrintJobSettingsRecord &settings, const std::function<bool()> &stop)>;
    // Called on the run's thread, before a document is opened and once its outcome is known, so that what
    // they record is on disk before the next step (never set while a run is under way).
    using StartHook = std::function<void(const QString &path)>;
    using FinishHook = std::function<void(const DocumentOutcome &outcome)>;
    void setHooks(StartHook started, FinishHook finished);

    void start(const PrintJobSettingsRecord &settings, Prepare prepare = Prepare());
    bool running() const;
    // Ends the run under way soon (documents queued already are left to print) and waits for it; what it
    // told on the way has been delivered when this returns.
    void abortAndWait();

signals:
    void documentStarted(int number, int total, QString path);
    void documentFinished(DocumentOutcome outcome);
    void documentUnconfirmed(int number, QString path);
    void unreadableFolders(QStringList folders);
    void runFinished(int doneCount, int failedCount, QString problem);
    // The run is over; every signal of it came before.
    void finished();

private:
    QThread thread_;
    ThreadObject *worker_;
    StartHook startHook_;
    FinishHook finishHook_;
    std::atomic<bool> stop_{false};
    mutable QMutex mutex_;
    QWaitCondition idle_;
    bool busy_ = false;
};
