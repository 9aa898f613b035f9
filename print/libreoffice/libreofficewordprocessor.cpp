#include "print/libreoffice/libreofficewordprocessor.h"

#include "platform/filename.h"
#include "print/libreoffice/callthread.h"
#include "print/libreoffice/cupsqueue.h"
#include "print/libreoffice/officeprocess.h"
#include "print/libreoffice/unodocument.h"
#include "print/libreoffice/unosession.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QtGlobal>

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/lang/XComponent.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#ifndef QUILLMARK_OFFICE_PROGRAM
#define QUILLMARK_OFFICE_PROGRAM "/usr/lib/libreoffice/program"
#endif

using namespace com::sun::star;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {

// soffice.bin leaves with this code once after it has filled a fresh profile; it is then started again.
constexpr int RestartExitCode = 81;

const milliseconds StartDeadline{60000};
const milliseconds CloseDeadline{15000};
const milliseconds TerminateDeadline{10000};
const milliseconds ExitWait{5000};

#ifndef QUILLMARK_OFFICE_MEMORY_GROWTH_MB
#define QUILLMARK_OFFICE_MEMORY_GROWTH_MB 256
#endif

// An office at work uses CPU time, reads or writes, or reports print events; one that does none of these
// this long has hung (or was stopped) and is killed. A 3000-page document takes about a minute of steady
// work. QUILLMARK_OFFICE_STALL_SECONDS sets another limit (for tests).
milliseconds StallLimit()
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("QUILLMARK_OFFICE_STALL_SECONDS", &ok);
    return ok && seconds > 0 ? milliseconds(qint64(seconds) * 1000) : milliseconds(20000);
}

// How much the office's resident memory may grow past what it held after its first document before a fresh
// office takes over; 0: never.
qint64 MemoryGrowthLimit()
{
    bool ok = false;
    const double mb = qEnvironmentVariable("QUILLMARK_OFFICE_MEMORY_GROWTH_MB").toDouble(&ok);
    const double limit = ok && mb >= 0 ? mb : double(QUILLMARK_OFFICE_MEMORY_GROWTH_MB);
    return qint64(limit * 1024 * 1024);
}
// Whatever the office does, no single load, print or close takes longer.
const milliseconds CallCap{30 * 60 * 1000};
// How long a queued job may take to show up in the scheduler's list.
const milliseconds JobAppears{10000};
// After the office died or hung under a print: a job that got out has shown up by then.
const milliseconds DeadJobAppears{2000};

// The size of a regular file as the file system names it; -1 when there is none.
qint64 FileSize(const QString &path)
{
    struct stat info;
    if (::stat(EncodeFileName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return info.st_size;
}

// What the call thread owns: the office's process, its UNO session and the loaded documents. Only tasks
// on the call thread touch it; other threads reach the process's group only (kill, abort, CPU time).
struct CallState
{
    std::string programDir;
    OfficeProcess process;
    UnoSession session;
    int instances = 0;
    bool alive = false;
    std::string profileDir, pipeName, profilePipeName;
    std::map<int, uno::Reference<lang::XComponent>> components; // by document handle
    std::string printerKnown; // a printer this office took; empty for a new office
    // A second office started in the background to take over from this one between two documents.
    OfficeProcess spareProcess;
    std::string spareProfileDir, sparePipeName, spareProfilePipeName;
    std::vector<std::string> spareArgv;
    int spareStarts = 0;

    std::string sofficeBin() const { return programDir + "/soffice.bin"; }

    std::vector<std::string> arguments(const std::string &profile, const std::string &pipe) const
    {
        return {sofficeBin(),
                "-env:UserInstallation=" + UnoSession::ProfileUrl(profile),
                "--headless",
                "--invisible",
                "--norestore",
                "--nologo",
                "--nodefault",
                "--nolockcheck",
                "--accept=pipe,name=" + pipe + ";urp;"};
    }

    // Ends the office's processes and removes what it leaves behind.
    void reap()
    {
        process.reap();
        alive = false;
        printerKnown.clear();
        session.forget();
        components.clear();
        // An office that was killed leaves its two sockets behind: the one we connect through, and the one
        // another start on the same profile would hand its work to.
        officefiles::Remove(profileDir, {pipeName, profilePipeName});
        profileDir.clear();
        pipeName.clear();
        profilePipeName.clear();
    }

    // Starts an office with a fresh profile and pipe and connects to it.
    bool start()
    {
        profileDir = officefiles::MakeProfileDir();
        if (profileDir.empty())
            return false;
        pipeName = officefiles::MakePipeName(++instances);
        profilePipeName = UnoSession::ProfilePipeName(profileDir);
        const std::vector<std::string> argv = arguments(profileDir, pipeName);
        if (!process.spawn(argv))
            return false;
        int starts = 1;
        bool gaveUp = false;
        const bool connected = session.connect(pipeName, [&] {
            if (process.aborted())
                return false;
            int exitCode = -1;
            if (!process.exited(&exitCode))
                return true;
            const bool firstRun = exitCode == RestartExitCode;
            if (!firstRun || starts >= 3 || !process.spawn(argv)) {
                gaveUp = true;
                return false;
            }
            ++starts;
            return true;
        });
        alive = connected && !gaveUp;
        return alive;
    }

    // Starts the spare office; it gets ready while this one goes on printing.
    bool spawnSpare()
    {
        dropSpare();
        spareProfileDir = officefiles::MakeProfileDir();
        if (spareProfileDir.empty())
            return false;
        sparePipeName = officefiles::MakePipeName(++instances);
        spareProfilePipeName = UnoSession::ProfilePipeName(spareProfileDir);
        spareArgv = arguments(spareProfileDir, sparePipeName);
        spareStarts = 1;
        if (spareProcess.spawn(spareArgv))
            return true;
        dropSpare();
        return false;
    }

    enum class Spare
    {
        Starting,
        TookOver,
        Failed
    };

    // Between two documents: once the spare answers, it replaces the office at work, which is ended.
    Spare takeSpareIfReady()
    {
        if (spareProfileDir.empty())
            return Spare::Failed;
        int exitCode = -1;
        if (spareProcess.exited(&exitCode)) {
            // A fresh profile makes the office leave once; it is started again.
            if (exitCode == RestartExitCode && spareStarts < 3 && spareProcess.spawn(spareArgv)) {
                ++spareStarts;
                return Spare::Starting;
            }
            dropSpare();
            return Spare::Failed;
        }
        struct stat info;
        if (::stat(officefiles::PipePath(sparePipeName).c_str(), &info) != 0)
            return Spare::Starting;
        const uno::Reference<frame::XDesktop2> desktop = session.connectOnce(sparePipeName);
        if (!desktop.is())
            return Spare::Starting;
        components.clear();
        session.forget();
        process.adopt(spareProcess); // ends the office at work: no document is open in it
        officefiles::Remove(profileDir, {pipeName, profilePipeName});
        profileDir = spareProfileDir;
        pipeName = sparePipeName;
        profilePipeName = spareProfilePipeName;
        spareProfileDir.clear();
        sparePipeName.clear();
        spareProfilePipeName.clear();
        session.use(desktop);
        printerKnown.clear();
        alive = true;
        return Spare::TookOver;
    }

    void dropSpare()
    {
        spareProcess.reap();
        officefiles::Remove(spareProfileDir, {sparePipeName, spareProfilePipeName});
        spareProfileDir.clear();
        sparePipeName.clear();
        spareProfilePipeName.clear();
    }
};

} // namespace

class LibreOfficeWordProcessor::Impl
{
public:
    // What the calling thread keeps of each document, to print it and to load it again if the office
    // dies under its print.
    struct DocumentEntry
    {
        qint64 size = 0;
        QString jobTitle; // the name the job carries in the queue
        QString path;
        std::string filter;
        QString password;
    };

    explicit Impl(const QString &dir) : programDir(dir), state(std::make_shared<CallState>())
    {
        state->programDir = dir.toStdString();
    }

    QString programDir;
    std::unique_ptr<CallThread> calls;
    // Owned by the call thread; shared so that a task that never returns keeps it alive.
    std::shared_ptr<CallState> state;
    std::atomic<bool> aborted{false};
    // Print events of the office, counted by the job listener: progress for the watchdog.
    std::shared_ptr<std::atomic<unsigned>> printEvents = std::make_shared<std::atomic<unsigned>>(0);
    // Follows the queued jobs; abort() reaches it from another thread, hence the lock.
    std::mutex trackerMutex;
    std::shared_ptr<cupsqueue::JobTracker> tracker;
    bool printerChecked = false;

    // Touched by the calling thread only.
    bool created = false;
    bool wedged = false;
    bool officeUp = false; // an office was started and has not been found lost since
    std::map<int, DocumentEntry> documents;
    int nextHandle = 1;
    std::string destination;
    std::string linkDir; // links to files whose names are not UTF-8; removed with the client
    int links = 0;
    int lastJobId = -1; // the id of the last job known on the destination; -1 before the first print
    WordProcessor::OpenFailure lastFailure = WordProcessor::OpenFailure::Unknown;
    WordProcessor::PrintOptions options;
    std::map<int, int> jobIds;     // the job of each document handed to the tracker
    std::map<int, int> pageCounts; // learnt on the way by a print or an export, saving a call
    // The office's memory over a long run: what it held after its first document, and whether a spare
    // office is getting ready to take over.
    const qint64 memoryLimit = MemoryGrowthLimit();
    qint64 memoryAtFirst = 0;
    int documentsOnOffice = 0;
    bool spareStarting = false;
    Clock::time_point spareSince;
    int renewals = 0;

    void killGroup() { state->process.kill(); }

    // Runs task on the call thread and gives back what it returned; at the deadline the office is killed
    // so that a blocked call returns, and nothing comes back. Tasks capture the call state and copies
    // only: if a call never returns, the state is left to it.
    template <typename Task>
    auto call(Task task, milliseconds deadline) -> std::optional<decltype(task(std::declval<CallState &>()))>
    {
        CallThread::Watch watch;
        watch.cap = deadline;
        return call(std::move(task), watch);
    }

    // The watch for calls whose length depends on the document: as long as the office makes progress.
    CallThread::Watch progressWatch() const
    {
        CallThread::Watch watch;
        watch.stall = StallLimit();
        watch.cap = CallCap;
        watch.progress = [s = state, events = printEvents] {
            return s->process.groupActivity() + static_cast<long long>(events->load());
        };
        return watch;
    }

    template <typename Task>
    auto call(Task task, const CallThread::Watch &watch)
        -> std::optional<decltype(task(std::declval<CallState &>()))>
    {
        using Result = decltype(task(std::declval<CallState &>()));
        if (!calls || wedged)
            return std::nullopt;
        auto result = std::make_shared<std::optional<Result>>();
        const CallThread::Outcome outcome =
            calls->run([task = std::move(task), result, s = state]() mutable { *result = task(*s); }, watch,
                       [s = state] { s->process.kill(); });
        if (outcome == CallThread::Outcome::Wedged)
            wedged = true;
        if (outcome != CallThread::Outcome::Done)
            return std::nullopt;
        return std::move(*result);
    }

    // Makes sure a usable office runs; a dead one is cleared away and replaced.
    bool ensureOffice()
    {
        if (aborted || wedged)
            return false;
        // An office that dies or hangs under a call is noticed there (officeLost); asking it again before
        // every document would cost a round trip each.
        if (officeUp)
            return true;
        const std::optional<bool> started = call(
            [](CallState &s) {
                s.reap();
                const bool ok = s.start();
                if (!ok)
                    s.reap();
                return ok;
            },
            StartDeadline);
        if (!started) {
            call([](CallState &s) { return s.reap(), true; }, CloseDeadline);
            return false;
        }
        officeUp = *started;
        memoryAtFirst = 0;
        documentsOnOffice = 0;
        return *started;
    }

    // Between two documents: an office whose memory has grown past the limit is replaced by a fresh one.
    // The fresh one starts in the background and takes over once it answers, so the run does not wait for
    // it; only when it cannot be had is the office restarted in place.
    void renewIfGrown()
    {
        if (memoryLimit <= 0 || !officeUp || aborted || wedged)
            return;
        if (!spareStarting) {
            if (documentsOnOffice < 1)
                return;
            const qint64 resident = state->process.residentBytes();
            if (resident <= 0)
                return;
            if (memoryAtFirst == 0) {
                memoryAtFirst = resident;
                return;
            }
            if (resident - memoryAtFirst <= memoryLimit)
                return;
            spareStarting = call([](CallState &s) { return s.spawnSpare(); }, StartDeadline).value_or(false);
            spareSince = Clock::now();
            if (!spareStarting)
                restartInPlace();
            return;
        }
        const std::optional<CallState::Spare> spare =
            call([](CallState &s) { return s.takeSpareIfReady(); }, StartDeadline);
        if (!spare) {
            spareStarting = false;
            officeLost();
            return;
        }
        switch (*spare) {
        case CallState::Spare::TookOver:
            spareStarting = false;
            memoryAtFirst = 0;
            documentsOnOffice = 0;
            ++renewals;
            return;
        case CallState::Spare::Starting:
            if (Clock::now() - spareSince < StartDeadline)
                return;
            break;
        case CallState::Spare::Failed:
            break;
        }
        spareStarting = false;
        restartInPlace();
    }

    void restartInPlace()
    {
        call(
            [](CallState &s) {
                s.dropSpare();
                s.reap();
                return true;
            },
            CloseDeadline);
        officeUp = false;
    }

    // After a call failed: was the office lost (killed, crashed)? Then clear it away.
    bool officeLost()
    {
        const std::optional<bool> lost = call(
            [](CallState &s) {
                const bool gone = !s.process.running() || !s.session.alive();
                if (gone)
                    s.reap();
                return gone;
            },
            CloseDeadline);
        // A check cut off at its deadline killed the office on the way.
        if (!lost || *lost)
            officeUp = false;
        return lost.value_or(false);
    }

    // --- operations ---

    bool create()
    {
        if (created)
            return call([](CallState &s) { return s.alive; }, CloseDeadline).value_or(false);
        const std::string bin = state->sofficeBin();
        const QString rc = programDir + QStringLiteral("/fundamentalrc");
        if (access(bin.c_str(), X_OK) != 0 || !QFileInfo(rc).isFile())
            return false;
        created = true;
        officefiles::RemoveLeftovers(UnoSession::ProfilePipeName);

        // Writing into an office that has just died must not end this program.
        struct sigaction current;
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            signal(SIGPIPE, SIG_IGN);

        calls.reset(new CallThread);
        const std::string rcPath = rc.toStdString();
        if (!call([rcPath](CallState &s) { return s.session.bootstrap(rcPath); }, StartDeadline)
                 .value_or(false))
            return false;
        return ensureOffice();
    }

    enum class LoadResult
    {
        Opened,
        Refused,
        PasswordRefused,
        OfficeLost,
        CutOff
    };

    LoadResult load(const DocumentEntry &entry, int *handle)
    {
        const int h = nextHandle++;
        const std::optional<unodocument::LoadResult> result = call(
            [h, path = entry.path, filter = entry.filter, password = entry.password](CallState &s) {
                const unodocument::Loaded loaded =
                    unodocument::Load(s.session.desktop(), path, filter, password);
                if (loaded.result == unodocument::LoadResult::Opened)
                    s.components[h] = loaded.component;
                return loaded.result;
            },
            progressWatch());
        if (!result) {
            officeLost();
            return LoadResult::CutOff;
        }
        switch (*result) {
        case unodocument::LoadResult::Opened:
            documents[h] = entry;
            *handle = h;
            ++documentsOnOffice;
            return LoadResult::Opened;
        case unodocument::LoadResult::PasswordRefused:
            return LoadResult::PasswordRefused;
        case unodocument::LoadResult::BridgeFailed:
            if (officeLost())
                return LoadResult::OfficeLost;
            return LoadResult::Refused;
        case unodocument::LoadResult::Refused:
            break;
        }
        return LoadResult::Refused;
    }

    // The office takes only file names that are UTF-8 (a URL holding other bytes is refused), so a name
    // that is not is loaded through a link of our own whose name is: the same name with each stray byte
    // shown as U+FFFD. The path as given when the link cannot be made.
    QString loadablePath(const QString &path)
    {
        if (linkDir.empty())
            linkDir = officefiles::MakeProfileDir();
        if (linkDir.empty())
            return path;
        const QByteArray target = EncodeFileName(path);
        QByteArray name = QString::fromUtf8(target.mid(target.lastIndexOf('/') + 1)).toUtf8();
        // Each stray byte takes three as U+FFFD: a long name would outgrow the file system's limit.
        if (name.size() > 250)
            name = "document" + name.mid(name.lastIndexOf('.'), 16);
        const std::string dir = linkDir + "/" + std::to_string(++links);
        const std::string link = dir + "/" + name.toStdString();
        if (::mkdir(dir.c_str(), 0700) != 0 || ::symlink(target.constData(), link.c_str()) != 0)
            return path;
        return QString::fromStdString(link);
    }

    WordProcessor::Document open(const QString &path, const QString &password)
    {
        lastFailure = WordProcessor::OpenFailure::Damaged;
        if (!created || aborted || wedged)
            return NoDocument;
        const qint64 size = FileSize(path);
        // An empty file would open as an empty document; Word refuses it, and so do we.
        if (size <= 0)
            return NoDocument;

        // The filter of the extension first; a real Word file with the other Word extension opens with
        // the other one. The path is taken apart as text: QFileInfo would pass it through the locale's
        // codec and lose bytes that are not UTF-8.
        const QString fileName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        const int dot = fileName.lastIndexOf(QLatin1Char('.'));
        const QString suffix = dot < 0 ? QString() : fileName.mid(dot + 1).toLower();
        std::vector<const char *> filters;
        if (suffix == QLatin1String("docx"))
            filters = {"MS Word 2007 XML", "MS Word 97"};
        else if (suffix == QLatin1String("doc"))
            filters = {"MS Word 97", "MS Word 2007 XML"};
        else if (suffix == QLatin1String("docm"))
            filters = {"MS Word 2007 XML VBA", "MS Word 97"};
        else
            return NoDocument;

        DocumentEntry entry;
        entry.size = size;
        entry.path = QDir::isAbsolutePath(path) ? path : QDir::currentPath() + QLatin1Char('/') + path;
        if (!path.isValidUtf16())
            entry.path = loadablePath(entry.path);
        entry.jobTitle = entry.path.mid(entry.path.lastIndexOf(QLatin1Char('/')) + 1);
        entry.password = password;
        bool retriedAfterLoss = false;
        renewIfGrown();
        for (size_t i = 0; i < filters.size();) {
            if (!ensureOffice())
                return NoDocument;
            entry.filter = filters[i];
            int handle = NoDocument;
            switch (load(entry, &handle)) {
            case LoadResult::Opened:
                lastFailure = WordProcessor::OpenFailure::Unknown;
                return handle;
            case LoadResult::PasswordRefused:
                // A wrong password stays wrong with the other filter. The office stays: the next password
                // is tried on it.
                lastFailure = WordProcessor::OpenFailure::WrongPassword;
                return NoDocument;
            case LoadResult::CutOff:
                // A hang would only repeat.
                lastFailure = WordProcessor::OpenFailure::TimedOut;
                return NoDocument;
            case LoadResult::OfficeLost:
                // The office died under the load before its deadline (killed from outside, or crashed):
                // once more on a fresh office; a file that brings it down twice is not opened.
                if (retriedAfterLoss || aborted)
                    return NoDocument;
                retriedAfterLoss = true;
                continue;
            case LoadResult::Refused:
                ++i;
                break;
            }
        }
        return NoDocument;
    }

    enum class PrintResult
    {
        Queued,
        NotPrinted,
        Lost
    };

    std::shared_ptr<cupsqueue::JobTracker> jobTracker()
    {
        std::lock_guard<std::mutex> lock(trackerMutex);
        if (!tracker || tracker->destination() != destination) {
            tracker = std::make_shared<cupsqueue::JobTracker>(destination);
            if (aborted)
                tracker->abort();
        }
        return tracker;
    }

    // Prints once; the job, once found among the user's own in the queue, is left to the tracker. Lost:
    // no job got out whole (the office died or hung under the call), so the document is to be printed
    // again on a fresh office.
    PrintResult printOnce(int handle, const DocumentEntry &entry, const std::string &dest)
    {
        // Jobs are numbered upwards: the new one comes after every job known before. The scheduler's whole
        // list is read once; after that the last job followed marks the place.
        if (lastJobId < 0)
            lastJobId = cupsqueue::HighestJobId(dest);
        const int before = lastJobId;
        const std::optional<unodocument::Printed> printed = call(
            [handle, dest, events = printEvents, options = options](CallState &s) {
                const auto it = s.components.find(handle);
                if (it == s.components.end() || !it->second.is())
                    return unodocument::Printed();
                const unodocument::Printed out =
                    unodocument::Print(it->second, dest, s.printerKnown == dest, events.get(), options);
                if (out.printerSet)
                    s.printerKnown = dest; // this office knows it: no need to ask for every document
                return out;
            },
            progressWatch());
        const unodocument::Printed out = printed.value_or(unodocument::Printed());
        if (out.pages >= 0)
            pageCounts[handle] = out.pages;
        // Cut off by the watchdog (the office was killed), or dead under the call: either way a job may
        // have got out, whole or in part.
        const bool cutOff = !printed;
        if (cutOff)
            officeLost();
        const bool died = cutOff || (out.threw && officeLost());
        if (out.spoolFailed)
            return PrintResult::NotPrinted;
        if (!out.printerSet && !cutOff)
            return died ? PrintResult::Lost : PrintResult::NotPrinted;

        const std::shared_ptr<cupsqueue::JobTracker> tracker = jobTracker();
        if (before < 0) {
            // The scheduler did not answer before the print: the new job cannot be told from older ones.
            if (!died && !(out.returned && out.spooled))
                return PrintResult::NotPrinted;
            ReportUnfollowed(entry, QStringLiteral("打印服务没有应答"));
            tracker->settle(handle, cupsqueue::JobTracker::Outcome::Unconfirmed);
            return PrintResult::Queued;
        }
        // The office died on the way: a job may still have got out, but it shows up soon if so.
        const cupsqueue::Found found = cupsqueue::FindJob(dest, before, entry.jobTitle.toStdString(),
                                                          out.returned ? JobAppears : DeadJobAppears,
                                                          tracker->limits().unanswered, &aborted);
        switch (found.kind) {
        case cupsqueue::Found::Kind::Aborted:
            return PrintResult::NotPrinted; // the run is ending; an aborted document is not listed
        case cupsqueue::Found::Kind::Job:
            lastJobId = std::max(lastJobId, found.id);
            // A job the office had only begun to send can never print: it goes, and the document is
            // printed again on a fresh office.
            if (died && cupsqueue::CancelIfIncomplete(dest, found.id))
                return PrintResult::Lost;
            jobIds[handle] = found.id;
            tracker->follow(handle, found.id);
            return PrintResult::Queued;
        case cupsqueue::Found::Kind::NotThere:
            if (died)
                return PrintResult::Lost; // nothing got out
            if (!(out.returned && out.spooled))
                return PrintResult::NotPrinted;
            // The office says the job went out, yet no job of ours carries its title.
            ReportUnfollowed(entry, found.otherTitles.empty()
                                        ? QStringLiteral("队列中没有这个任务")
                                        : QStringLiteral("队列中的任务名称不符：") +
                                              QString::fromStdString(Join(found.otherTitles)));
            tracker->settle(handle, cupsqueue::JobTracker::Outcome::Unconfirmed);
            return PrintResult::Queued;
        case cupsqueue::Found::Kind::NoAnswer:
            break;
        }
        // The scheduler could not be asked: the job may well be in the queue, so the document is neither
        // printed a second time nor listed as failed.
        ReportUnfollowed(entry, QStringLiteral("打印服务没有应答"));
        tracker->settle(handle, cupsqueue::JobTracker::Outcome::Unconfirmed);
        return PrintResult::Queued;
    }

    static std::string Join(const std::vector<std::string> &items)
    {
        std::string text;
        for (const std::string &item : items)
            text += (text.empty() ? "" : "; ") + item;
        return text;
    }

    // Why a document's job could not be followed: for whoever reads the program's error output.
    static void ReportUnfollowed(const DocumentEntry &entry, const QString &why)
    {
        qWarning().noquote() << QStringLiteral("无法确认“%1”是否已打印（打印任务“%2”）：%3")
                                    .arg(entry.path, entry.jobTitle, why);
    }

    bool printOut(WordProcessor::Document document)
    {
        if (!created || aborted || wedged)
            return false;
        if (destination.empty()) {
            const cupsqueue::Destination dest = cupsqueue::DefaultDestination();
            if (dest.state != cupsqueue::Destination::State::Ready)
                return false;
            destination = dest.name;
        }
        for (int attempt = 0;; ++attempt) {
            auto it = documents.find(document);
            if (it == documents.end())
                return false;
            const DocumentEntry entry = it->second;
            const PrintResult result = printOnce(document, entry, destination);
            if (result == PrintResult::NotPrinted && !aborted)
                jobTracker()->checkNow(); // a queue that refuses jobs is told at once
            if (result != PrintResult::Lost)
                return result == PrintResult::Queued;
            // The office died under the print (killed from outside, or crashed) before any job got out:
            // load the document into a fresh office and print it once more.
            if (attempt > 0 || aborted || !ensureOffice())
                return false;
            int handle = NoDocument;
            if (load(entry, &handle) != LoadResult::Opened)
                return false;
            // The fresh load takes the place of the lost one under the caller's handle.
            call(
                [document, handle](CallState &s) {
                    s.components[document] = s.components[handle];
                    s.components.erase(handle);
                    return true;
                },
                CloseDeadline);
            documents.erase(handle);
        }
    }

    void close(WordProcessor::Document document)
    {
        pageCounts.erase(document);
        if (documents.erase(document) == 0 || wedged)
            return;
        const std::optional<bool> closed = call(
            [document](CallState &s) {
                const auto it = s.components.find(document);
                if (it == s.components.end())
                    return true;
                uno::Reference<lang::XComponent> component = it->second;
                s.components.erase(it);
                if (!component.is())
                    return true;
                try {
                    unodocument::Close(component);
                } catch (const uno::Exception &) {
                    return false;
                }
                return true;
            },
            progressWatch());
        if (!closed.value_or(false))
            officeLost();
    }

    std::vector<WordProcessor::JobResult> takeJobResults(WordProcessor::Document waitFor)
    {
        std::shared_ptr<cupsqueue::JobTracker> current;
        {
            std::lock_guard<std::mutex> lock(trackerMutex);
            current = tracker;
        }
        std::vector<WordProcessor::JobResult> results;
        if (!current)
            return results;
        const int key = waitFor == WordProcessor::AllDocuments ? cupsqueue::JobTracker::AllKeys
                        : waitFor == NoDocument                ? cupsqueue::JobTracker::NoKey
                                                               : waitFor;
        for (const cupsqueue::JobTracker::Result &r : current->take(key)) {
            const auto job = jobIds.find(r.key);
            WordProcessor::JobResult result{r.key, r.outcome == cupsqueue::JobTracker::Outcome::Printed,
                                            job == jobIds.end() ? 0 : std::max(job->second, 0)};
            result.unconfirmed = r.outcome == cupsqueue::JobTracker::Outcome::Unconfirmed;
            results.push_back(result);
            if (job != jobIds.end())
                jobIds.erase(job);
        }
        return results;
    }

    int pageCount(WordProcessor::Document document)
    {
        const auto known = pageCounts.find(document);
        if (known != pageCounts.end())
            return known->second;
        if (documents.find(document) == documents.end() || aborted || wedged)
            return -1;
        return call(
                   [document](CallState &s) {
                       const auto it = s.components.find(document);
                       return it == s.components.end() ? -1 : unodocument::PageCount(it->second);
                   },
                   progressWatch())
            .value_or(-1);
    }

    // The office takes only UTF-8 names: a folder whose name is not is reached through a link of our own.
    QString writablePath(const QString &target)
    {
        if (target.isValidUtf16())
            return target;
        if (linkDir.empty())
            linkDir = officefiles::MakeProfileDir();
        const int slash = target.lastIndexOf(QLatin1Char('/'));
        const std::string dir = linkDir + "/" + std::to_string(++links);
        const std::string link = dir + "/folder";
        if (linkDir.empty() || ::mkdir(dir.c_str(), 0700) != 0 ||
            ::symlink(EncodeFileName(target.left(slash)).constData(), link.c_str()) != 0)
            return target;
        return QString::fromStdString(link) + target.mid(slash);
    }

    bool exportPdf(WordProcessor::Document document, const QString &target)
    {
        if (documents.find(document) == documents.end() || aborted || wedged)
            return false;
        const QString path = writablePath(target);
        const auto result = call(
            [document, path, pages = options.pages](CallState &s) {
                const auto it = s.components.find(document);
                if (it == s.components.end())
                    return std::make_pair(unodocument::ExportResult::Failed, -1);
                const unodocument::ExportResult written = unodocument::ExportPdf(it->second, path, pages);
                // Laid out for the export already.
                return std::make_pair(written, written == unodocument::ExportResult::Written
                                                   ? unodocument::PageCount(it->second)
                                                   : -1);
            },
            progressWatch());
        if (!result || result->first == unodocument::ExportResult::BridgeFailed) {
            officeLost();
            return false;
        }
        if (result->second >= 0)
            pageCounts[document] = result->second;
        return result->first == unodocument::ExportResult::Written;
    }

    void abort()
    {
        aborted = true;
        state->process.abort();
        state->spareProcess.abort();
        std::lock_guard<std::mutex> lock(trackerMutex);
        if (tracker)
            tracker->abort();
    }

    void quit()
    {
        if (!calls)
            return;
        if (!wedged) {
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
            documents.clear();
            call(
                [](CallState &s) {
                    if (s.alive && s.process.running())
                        s.session.terminate();
                    s.session.forget();
                    return true;
                },
                TerminateDeadline);
            call(
                [](CallState &s) {
                    // The office leaves shortly after it agreed to terminate; give it that moment.
                    const auto end = Clock::now() + ExitWait;
                    while (s.process.running() && Clock::now() < end)
                        std::this_thread::sleep_for(milliseconds(10));
                    s.reap();
                    s.dropSpare();
                    // The local service manager and its bridge factory go with this client.
                    s.session.dispose();
                    return true;
                },
                ExitWait + CloseDeadline);
        }
        killGroup();
        state->spareProcess.kill();
        officefiles::Remove(linkDir, {});
        linkDir.clear();
        created = false;
        officeUp = false;
        if (!wedged)
            calls.reset();
    }

    QString printerProblem()
    {
        if (printerChecked && !destination.empty()) {
            // During the run: what the tracker saw of the destination, without asking again.
            const QString name = QString::fromStdString(destination);
            switch (jobTracker()->checkWhileBusy()) {
            case cupsqueue::JobTracker::Problem::None:
                return QString();
            case cupsqueue::JobTracker::Problem::Stopped:
                return QStringLiteral("默认打印机“%1”已停止,无法打印!").arg(name);
            case cupsqueue::JobTracker::Problem::NotAccepting:
                return QStringLiteral("默认打印机“%1”不接受打印任务,无法打印!").arg(name);
            case cupsqueue::JobTracker::Problem::Gone:
                return QStringLiteral("默认打印机“%1”已被删除,无法打印!").arg(name);
            }
        }
        printerChecked = true;
        const cupsqueue::Destination dest = cupsqueue::DefaultDestination();
        const QString name = QString::fromStdString(dest.name);
        switch (dest.state) {
        case cupsqueue::Destination::State::Ready:
            if (destination != dest.name)
                lastJobId = -1;
            destination = dest.name;
            return QString();
        case cupsqueue::Destination::State::NoServer:
            return QStringLiteral("无法连接打印服务,无法打印!");
        case cupsqueue::Destination::State::NoDefault:
            return QStringLiteral("没有默认打印机,无法打印!");
        case cupsqueue::Destination::State::Stopped:
            return QStringLiteral("默认打印机“%1”已停止,无法打印!").arg(name);
        case cupsqueue::Destination::State::NotAccepting:
            return QStringLiteral("默认打印机“%1”不接受打印任务,无法打印!").arg(name);
        }
        return QString();
    }
};

LibreOfficeWordProcessor::LibreOfficeWordProcessor(const QString &programDir) : d(new Impl(programDir)) {}

LibreOfficeWordProcessor::~LibreOfficeWordProcessor()
{
    d->quit();
    // A call that never returned keeps the call state alive by itself; the call thread is left to it.
}

QString LibreOfficeWordProcessor::DefaultProgramDir()
{
    const QByteArray env = qgetenv("QUILLMARK_OFFICE_PROGRAM");
    return env.isEmpty() ? QStringLiteral(QUILLMARK_OFFICE_PROGRAM) : QString::fromLocal8Bit(env);
}

bool LibreOfficeWordProcessor::create()
{
    return d->create();
}

void LibreOfficeWordProcessor::setVisible(bool)
{
    // The office always runs headless.
}

void LibreOfficeWordProcessor::setDisplayAlerts(bool)
{
    // Every question of the office is answered with Abort by the loader's interaction handler.
}

bool LibreOfficeWordProcessor::queryDocuments()
{
    return d->created && !d->aborted && d->ensureOffice();
}

WordProcessor::Document LibreOfficeWordProcessor::open(const QString &path, bool, bool, bool,
                                                       const QString &passwordDocument, const QString &, bool)
{
    return d->open(path, passwordDocument);
}

bool LibreOfficeWordProcessor::printOut(Document document)
{
    return d->printOut(document);
}

void LibreOfficeWordProcessor::close(Document document, bool)
{
    d->close(document);
}

void LibreOfficeWordProcessor::quit()
{
    d->quit();
}

QString LibreOfficeWordProcessor::printerProblem()
{
    return d->printerProblem();
}

bool LibreOfficeWordProcessor::followsJobs() const
{
    return true;
}

std::vector<WordProcessor::JobResult> LibreOfficeWordProcessor::takeJobResults(Document waitFor)
{
    return d->takeJobResults(waitFor);
}

WordProcessor::OpenFailure LibreOfficeWordProcessor::lastOpenFailure() const
{
    return d->lastFailure;
}

bool LibreOfficeWordProcessor::setPrintOptions(const PrintOptions &options)
{
    d->options = options;
    return true;
}

bool LibreOfficeWordProcessor::exportPdf(Document document, const QString &target)
{
    return d->exportPdf(document, target);
}

int LibreOfficeWordProcessor::pageCount(Document document)
{
    return d->pageCount(document);
}

void LibreOfficeWordProcessor::abort()
{
    d->abort();
}

int LibreOfficeWordProcessor::officePid() const
{
    return d->state->process.group();
}
