#include "print/runcontrol.h"

#include "print/wordprocessor.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QWaitCondition>
#include <algorithm>
#include <vector>

struct RunRegistration::State
{
    WordProcessor *processor = nullptr;
    bool aborted = false;
};

namespace {
QMutex runsMutex;
QWaitCondition runsWake; // wakes pauses when a run is aborted
std::vector<RunRegistration::State *> activeRuns;
} // namespace

RunRegistration::RunRegistration() : state_(new State)
{
    QMutexLocker lock(&runsMutex);
    activeRuns.push_back(state_);
}

RunRegistration::~RunRegistration()
{
    {
        QMutexLocker lock(&runsMutex);
        activeRuns.erase(std::find(activeRuns.begin(), activeRuns.end(), state_));
    }
    delete state_;
}

void RunRegistration::attach(WordProcessor *processor)
{
    QMutexLocker lock(&runsMutex);
    state_->processor = processor;
    if (processor && state_->aborted)
        processor->abort();
}

bool RunRegistration::aborted() const
{
    QMutexLocker lock(&runsMutex);
    return state_->aborted;
}

void RunRegistration::pause(int milliseconds)
{
    if (milliseconds <= 0) {
        QThread::yieldCurrentThread();
        return;
    }
    QDeadlineTimer deadline(milliseconds);
    QMutexLocker lock(&runsMutex);
    while (!state_->aborted && !deadline.hasExpired())
        runsWake.wait(&runsMutex, deadline);
}

void RunRegistration::AbortAll()
{
    QMutexLocker lock(&runsMutex);
    for (State *run : activeRuns) {
        run->aborted = true;
        if (run->processor)
            run->processor->abort();
    }
    runsWake.wakeAll();
}
