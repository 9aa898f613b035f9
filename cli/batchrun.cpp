#include "cli/batchrun.h"

#include "print/threadobject.h"

#include <QCoreApplication>
#include <QMutexLocker>

namespace {
// How often an aborted run is told again to stop: a run that had not registered yet when it was first
// told is reached by the next call.
constexpr unsigned long kAbortRepeatMs = 100;
} // namespace

BatchRun::BatchRun(QObject *parent) : QObject(parent), worker_(new ThreadObject)
{
    worker_->moveToThread(&thread_);
    // On the run's own thread, before the next step of the run, and before the caller hears of it (the hooks
    // are connected first).
    connect(
        worker_, &ThreadObject::DocumentStarted, worker_,
        [this](int, int, const QString &path) {
            if (startHook_)
                startHook_(path);
        },
        Qt::DirectConnection);
    connect(
        worker_, &ThreadObject::DocumentFinished, worker_,
        [this](const DocumentOutcome &outcome) {
            if (finishHook_)
                finishHook_(outcome);
        },
        Qt::DirectConnection);
    connect(worker_, &ThreadObject::DocumentStarted, this, &BatchRun::documentStarted);
    connect(worker_, &ThreadObject::DocumentFinished, this, &BatchRun::documentFinished);
    connect(worker_, &ThreadObject::DocumentUnconfirmed, this, &BatchRun::documentUnconfirmed);
    connect(worker_, &ThreadObject::UnreadableFolders, this, &BatchRun::unreadableFolders);
    connect(worker_, &ThreadObject::RunFinished, this, &BatchRun::runFinished);
    thread_.start();
}

BatchRun::~BatchRun()
{
    abortAndWait();
    thread_.quit();
    thread_.wait();
    delete worker_;
}

void BatchRun::setHooks(StartHook started, FinishHook finished)
{
    startHook_ = std::move(started);
    finishHook_ = std::move(finished);
}

void BatchRun::start(const PrintJobSettingsRecord &settings, Prepare prepare)
{
    {
        QMutexLocker lock(&mutex_);
        busy_ = true;
    }
    stop_ = false;
    QMetaObject::invokeMethod(
        worker_,
        [this, settings, prepare] {
            PrintJobSettingsRecord prepared = settings;
            if (prepare)
                prepare(prepared, [this] { return stop_.load(); });
            PrintJobSettings = prepared;
            worker_->ReplaceExcelText();
            QMetaObject::invokeMethod(this, &BatchRun::finished, Qt::QueuedConnection);
            QMutexLocker lock(&mutex_);
            busy_ = false;
            idle_.wakeAll();
        },
        Qt::QueuedConnection);
}

bool BatchRun::running() const
{
    QMutexLocker lock(&mutex_);
    return busy_;
}

void BatchRun::abortAndWait()
{
    stop_ = true;
    QMutexLocker lock(&mutex_);
    while (busy_) {
        ThreadObject::AbortRuns();
        idle_.wait(&mutex_, kAbortRepeatMs);
    }
    lock.unlock();
    // What the run told before it ended.
    QCoreApplication::sendPostedEvents(this);
}
