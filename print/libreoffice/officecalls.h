#pragma once
// The calling thread's side of the office: every call is marshalled onto the call thread and bounded
// there (a deadline, or a watchdog on the office's progress); an office that is lost under a call is
// cleared away, and the next call starts a fresh one. Also tells whether the office can go on at all.

#include "print/libreoffice/callthread.h"
#include "print/libreoffice/office.h"
#include "print/libreoffice/officerenewal.h"
#include "print/libreoffice/unosession.h"
#include "print/wordprocessor.h"

#include <com/sun/star/lang/XComponent.hpp>

#include <QString>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>

// What the call thread owns: the office, its UNO session and the loaded documents. Only tasks on the
// call thread touch it; other threads reach the offices' process groups only (kill, abort, CPU time).
struct CallState
{
    std::string programDir;
    UnoSession session;
    int instances = 0;
    bool alive = false;
    OfficeInstance office;
    // A second office started in the background to take over from this one between two documents.
    OfficeInstance spare;
    std::map<int, com::sun::star::uno::Reference<com::sun::star::lang::XComponent>> components; // by handle
    std::string printerKnown; // a printer this office took; empty for a new office

    std::string sofficeBin() const { return programDir + "/soffice.bin"; }
    // Ends the office and removes what it leaves behind.
    void reap();
    // Starts an office and connects to it: on the kept profile first, and should that fail, on a fresh one.
    bool start(bool aborted);

private:
    bool startOn(bool keepProfile);
};

class OfficeCalls
{
public:
    explicit OfficeCalls(const QString &programDir);

    // Starts the call thread and bootstraps UNO from fundamentalrc.
    bool begin(const std::string &fundamentalrc);
    bool begun() const { return calls_ != nullptr; }

    // Runs task on the call thread and gives back what it returned; at the deadline the office is killed
    // so that a blocked call returns, and nothing comes back. Tasks capture the call state and copies
    // only: if a call never returns, the state is left to it.
    template <typename Task>
    auto call(Task task, std::chrono::milliseconds deadline)
        -> std::optional<decltype(task(std::declval<CallState &>()))>
    {
        CallThread::Watch watch;
        watch.cap = deadline;
        return call(std::move(task), watch);
    }

    template <typename Task>
    auto call(Task task, const CallThread::Watch &watch)
        -> std::optional<decltype(task(std::declval<CallState &>()))>
    {
        using Result = decltype(task(std::declval<CallState &>()));
        if (!calls_ || wedged_)
            return std::nullopt;
        auto result = std::make_shared<std::optional<Result>>();
        const CallThread::Outcome outcome =
            calls_->run([task = std::move(task), result, s = state]() mutable { *result = task(*s); }, watch,
                        [s = state] { s->office.process.kill(); });
        if (outcome == CallThread::Outcome::Wedged)
            wedged_ = true;
        if (outcome != CallThread::Outcome::Done)
            return std::nullopt;
        return std::move(*result);
    }

    // The watch for calls whose length depends on the document: as long as the office makes progress.
    CallThread::Watch progressWatch() const;

    // Makes sure a usable office runs; a dead one is cleared away and replaced. False when none could be
    // started: breakdown() tells from then on.
    bool ensureOffice();
    // After a call failed: was the office lost (killed, crashed)? Then it is cleared away.
    bool officeLost();
    // Ends the office (and any spare); the next call starts a fresh one.
    void restartInPlace();
    // Between two documents: see OfficeRenewal.
    void renewIfGrown() { renewal_.renewIfGrown(*this); }
    void documentLoaded() { renewal_.documentLoaded(); }

    WordProcessor::Breakdown breakdown() const;
    bool usable() const { return !aborted_ && !wedged_; }
    bool wedged() const { return wedged_; }
    bool aborted() const { return aborted_; }
    const std::atomic<bool> &abortFlag() const { return aborted_; }
    std::atomic<unsigned> *printEvents() const { return printEvents_.get(); }
    int renewals() const { return renewal_.renewals(); }

    // From any thread: ends the offices at once; every later call fails.
    void abort();
    // Closes what is open, asks the office to end, and clears everything away.
    void quit();

    // Owned by the call thread; shared so that a task that never returns keeps it alive.
    const std::shared_ptr<CallState> state;

private:
    std::unique_ptr<CallThread> calls_;
    std::atomic<bool> aborted_{false};
    bool wedged_ = false;
    bool officeUp_ = false;    // an office was started and has not been found lost since
    bool everUp_ = false;      // an office ran in this client at some time
    bool unavailable_ = false; // an office was lost and none could take its place
    // Print events of the office, counted by the job listener: progress for the watchdog.
    std::shared_ptr<std::atomic<unsigned>> printEvents_ = std::make_shared<std::atomic<unsigned>>(0);
    OfficeRenewal renewal_;

    friend class OfficeRenewal;
};
