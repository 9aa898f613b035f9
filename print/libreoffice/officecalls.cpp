#include "print/libreoffice/officecalls.h"

#include "print/libreoffice/unodocument.h"

#include <QtGlobal>

#include <thread>

using namespace com::sun::star;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {

// A start, the kept profile's failing one and a fresh one after it included; a replacement that takes
// longer is given up on, and the run stops rather than wait this long for every further document.
const milliseconds StartDeadline{60000};
const milliseconds CloseDeadline{15000};
const milliseconds TerminateDeadline{10000};
const milliseconds ExitWait{5000};
// Whatever the office does, no single load, print or close takes longer.
const milliseconds CallCap{30 * 60 * 1000};

// An office at work uses CPU time, reads or writes, or reports print events; one that does none of these
// this long has hung (or was stopped) and is killed. A 3000-page document takes about a minute of steady
// work. QUILLMARK_OFFICE_STALL_SECONDS sets another limit (for tests).
milliseconds StallLimit()
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("QUILLMARK_OFFICE_STALL_SECONDS", &ok);
    return ok && seconds > 0 ? milliseconds(qint64(seconds) * 1000) : milliseconds(20000);
}

} // namespace

void CallState::reap()
{
    office.reap();
    alive = false;
    printerKnown.clear();
    session.forget();
    components.clear();
}

bool CallState::startOn(bool keepProfile)
{
    if (!office.spawn(sofficeBin(), officefiles::MakePipeName(++instances), keepProfile))
        return false;
    bool gaveUp = false;
    const bool connected = session.connect(office.pipeName, [&] {
        if (office.process.aborted())
            return false;
        if (!office.exited() || office.restartAfterFirstRun())
            return true;
        gaveUp = true;
        return false;
    });
    alive = connected && !gaveUp;
    // The version seeds the profiles made from now on; the kept one, the only one started on again, is
    // made to remember it.
    if (alive && (office.usesKeptProfile() || KnownOfficeVersion(sofficeBin()).empty())) {
        const std::string version = session.officeVersion(office.usesKeptProfile());
        if (!version.empty())
            LearnOfficeVersion(sofficeBin(), version);
    }
    return alive;
}

bool CallState::start(bool aborted)
{
    reap();
    if (startOn(true))
        return true;
    // The kept profile may be damaged: the office is tried once on a fresh one, and the kept one is made
    // anew by the next run (its office did not leave cleanly).
    const bool kept = office.usesKeptProfile();
    reap();
    if (!kept || aborted)
        return false;
    if (startOn(false))
        return true;
    reap();
    return false;
}

OfficeCalls::OfficeCalls(const QString &programDir) : state(std::make_shared<CallState>())
{
    state->programDir = programDir.toStdString();
}

bool OfficeCalls::begin(const std::string &fundamentalrc)
{
    calls_.reset(new CallThread);
    return call([fundamentalrc](CallState &s) { return s.session.bootstrap(fundamentalrc); }, StartDeadline)
        .value_or(false);
}

CallThread::Watch OfficeCalls::progressWatch() const
{
    CallThread::Watch watch;
    watch.stall = StallLimit();
    watch.cap = CallCap;
    watch.progress = [s = state, events = printEvents_] {
        return s->office.process.groupActivity() + static_cast<long long>(events->load());
    };
    return watch;
}

bool OfficeCalls::ensureOffice()
{
    if (aborted_ || wedged_ || unavailable_)
        return false;
    // An office that dies or hangs under a call is noticed there (officeLost); asking it again before
    // every document would cost a round trip each.
    if (officeUp_)
        return true;
    const bool aborted = aborted_;
    const std::optional<bool> started =
        call([aborted](CallState &s) { return s.start(aborted); }, StartDeadline);
    if (!started)
        call([](CallState &s) { return s.reap(), true; }, CloseDeadline);
    officeUp_ = started.value_or(false);
    renewal_.reset();
    if (officeUp_)
        everUp_ = true;
    else if (everUp_ && !aborted_)
        unavailable_ = true; // the office at work was lost, and no fresh one could take its place
    return officeUp_;
}

bool OfficeCalls::officeLost()
{
    const std::optional<bool> lost = call(
        [](CallState &s) {
            const bool gone = !s.office.process.running() || !s.session.alive();
            if (gone)
                s.reap();
            return gone;
        },
        CloseDeadline);
    // A check cut off at its deadline killed the office on the way.
    if (!lost || *lost)
        officeUp_ = false;
    return lost.value_or(false);
}

void OfficeCalls::restartInPlace()
{
    call(
        [](CallState &s) {
            DropSpare(s);
            s.reap();
            return true;
        },
        CloseDeadline);
    officeUp_ = false;
}

WordProcessor::Breakdown OfficeCalls::breakdown() const
{
    if (wedged_)
        return WordProcessor::Breakdown::NotAnswering;
    if (unavailable_)
        return WordProcessor::Breakdown::Unavailable;
    return WordProcessor::Breakdown::None;
}

void OfficeCalls::abort()
{
    aborted_ = true;
    state->office.process.abort();
    state->spare.process.abort();
}

void OfficeCalls::quit()
{
    if (!calls_)
        return;
    if (!wedged_) {
        call(
            [](CallState &s) {
                for (auto &entry : s.components) {
                    if (entry.second.is() && s.alive) {
                        try {
                            unodocument::Close(entry.second);
                        } catch (const uno::Exception &) {
                        }
                    }
                }
                s.components.clear();
                return true;
            },
            CloseDeadline);
        call(
            [](CallState &s) {
                if (s.alive && !s.office.exited())
                    s.session.terminate();
                s.session.forget();
                return true;
            },
            TerminateDeadline);
        call(
            [](CallState &s) {
                // The office leaves shortly after it agreed to terminate; give it that moment.
                const auto end = Clock::now() + ExitWait;
                while (!s.office.exited() && Clock::now() < end)
                    std::this_thread::sleep_for(milliseconds(10));
                s.reap();
                DropSpare(s);
                // The local service manager and its bridge factory go with this client.
                s.session.dispose();
                return true;
            },
            ExitWait + CloseDeadline);
    }
    state->office.process.kill();
    state->spare.process.kill();
    officeUp_ = false;
    if (!wedged_)
        calls_.reset();
}
