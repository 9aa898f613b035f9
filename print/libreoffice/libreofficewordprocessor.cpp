#include "print/libreoffice/libreofficewordprocessor.h"

#include "print/libreoffice/callthread.h"
#include "print/libreoffice/cupsqueue.h"

#include "platform/filename.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QString>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XFrames.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/task/ErrorCodeRequest.hpp>
#include <com/sun/star/task/PasswordRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/CloseVetoException.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/view/PrintableState.hpp>
#include <com/sun/star/view/XPrintJobBroadcaster.hpp>
#include <com/sun/star/view/XPrintJobListener.hpp>
#include <com/sun/star/view/XPrintable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>
#include <osl/file.hxx>
#include <rtl/bootstrap.hxx>
#include <rtl/ref.hxx>
#include <rtl/ustring.hxx>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <random>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef QUILLMARK_OFFICE_PROGRAM
#define QUILLMARK_OFFICE_PROGRAM "/usr/lib/libreoffice/program"
#endif

using namespace com::sun::star;
using rtl::OString;
using rtl::OUString;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {

// soffice.bin leaves with this code once after it has filled a fresh profile; it is then started again.
constexpr int RestartExitCode = 81;

const milliseconds StartDeadline{60000};
const milliseconds CloseDeadline{15000};
const milliseconds TerminateDeadline{10000};
const milliseconds ExitWait{5000};

// A 460-page document takes a few seconds to load and as many to print; leave ample room above that.
milliseconds DeadlineFor(qint64 bytes)
{
    return milliseconds(30000 + bytes / (1024 * 1024) * 20000);
}

OUString ToUno(const QString &text)
{
    return OUString(reinterpret_cast<const sal_Unicode *>(text.utf16()), text.size());
}

OUString ToUno(const std::string &text)
{
    return OStringToOUString(OString(text.c_str(), text.size()), RTL_TEXTENCODING_UTF8);
}

// A file URL of the name's own bytes: every byte outside the unreserved set is percent-encoded, so a name
// that is not UTF-8 reaches the office unchanged.
OUString FileUrl(const QString &absolutePath)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : EncodeFileName(absolutePath)) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
            b == '.' || b == '_' || b == '~' || b == '/') {
            url += c;
        } else {
            url += '%';
            url += hex[b >> 4];
            url += hex[b & 0xF];
        }
    }
    return OUString::createFromAscii(url.c_str());
}

// The office's file access takes only URLs whose bytes are UTF-8: it reports an I/O error for any other
// name. Such a file is reached through a symbolic link of a UTF-8 name (the undecodable bytes shown as
// U+FFFD) in a private folder, made for one load and removed after it; the document keeps its open file.
std::string TempRoot();

class UnicodeNameLink
{
public:
    explicit UnicodeNameLink(const QString &path) : path_(path)
    {
        const QByteArray bytes = EncodeFileName(path);
        const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        title_ = name;
        if (QString::fromUtf8(bytes).toUtf8() == bytes)
            return;
        std::string dir = TempRoot() + "/quillmark-name-" + std::to_string(getpid()) + "-XXXXXX";
        if (!mkdtemp(dir.data()))
            return;
        dir_ = dir;
        QByteArray readable = QString::fromUtf8(EncodeFileName(name)).toUtf8();
        if (readable.size() > 250) // each byte shown as U+FFFD takes three: keep within a name's limit
            readable = "document" + readable.mid(readable.lastIndexOf('.'), 16);
        const std::string link = dir_ + "/" + readable.toStdString();
        if (symlink(bytes.constData(), link.c_str()) != 0)
            return;
        link_ = link;
        path_ = QString::fromStdString(link);
        title_ = QString::fromUtf8(readable);
    }
    ~UnicodeNameLink()
    {
        if (!link_.empty())
            unlink(link_.c_str());
        if (!dir_.empty())
            rmdir(dir_.c_str());
    }
    UnicodeNameLink(const UnicodeNameLink &) = delete;
    UnicodeNameLink &operator=(const UnicodeNameLink &) = delete;

    const QString &path() const { return path_; }   // what to load
    const QString &title() const { return title_; } // the document's name, as the print job shows it

private:
    QString path_;
    QString title_;
    std::string dir_;
    std::string link_;
};

std::string ToUtf8(const OUString &text)
{
    return OUStringToOString(text, RTL_TEXTENCODING_UTF8).getStr();
}

beans::PropertyValue Property(const char *name, const uno::Any &value)
{
    beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

uno::Sequence<beans::PropertyValue> Args(std::initializer_list<beans::PropertyValue> values)
{
    return uno::Sequence<beans::PropertyValue>(values.begin(), static_cast<sal_Int32>(values.size()));
}

// Answers every question of the office with Abort, and remembers why it was asked.
class AbortingHandler : public cppu::WeakImplHelper1<task::XInteractionHandler>
{
public:
    void SAL_CALL handle(const uno::Reference<task::XInteractionRequest> &request) override
    {
        const uno::Any what = request->getRequest();
        task::ErrorCodeRequest error;
        if (what >>= error)
            errorCode = error.ErrCode;
        if (what.isExtractableTo(cppu::UnoType<task::PasswordRequest>::get()))
            passwordAsked = true;
        const auto continuations = request->getContinuations();
        for (const auto &continuation : continuations) {
            uno::Reference<task::XInteractionAbort> abort(continuation, uno::UNO_QUERY);
            if (abort.is()) {
                abort->select();
                return;
            }
        }
    }

    // The document is protected, and the password offered did not open it.
    bool passwordRefused() const { return passwordAsked || errorCode == WrongPasswordError; }

    static constexpr sal_Int32 WrongPasswordError = 0x1000f;
    std::atomic<sal_Int32> errorCode{0};
    std::atomic<bool> passwordAsked{false};
};

class JobListener : public cppu::WeakImplHelper1<view::XPrintJobListener>
{
public:
    void SAL_CALL printJobEvent(const view::PrintJobEvent &event) override
    {
        states |= 1u << static_cast<unsigned>(event.State);
    }
    void SAL_CALL disposing(const lang::EventObject &) override {}

    bool saw(view::PrintableState state) const { return states & (1u << static_cast<unsigned>(state)); }

    std::atomic<unsigned> states{0};
};

std::string TempRoot()
{
    const char *tmp = std::getenv("TMPDIR");
    std::string root = tmp && *tmp ? tmp : "/tmp";
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return root;
}

// Where the office keeps its named pipes, whatever TMPDIR says.
const std::string PipeFolder = "/tmp";

// The name of the pipe through which a second start on the same profile finds the running office:
// "SingleOfficeIPC_" and the MD5 digest of the profile URL's UTF-16 text, each byte in unpadded hex.
std::string ProfilePipeName(const OUString &profileUrl)
{
    QByteArray utf16;
    for (sal_Int32 i = 0; i < profileUrl.getLength(); ++i) {
        const sal_Unicode c = profileUrl[i];
        utf16.append(char(c & 0xff));
        utf16.append(char(c >> 8));
    }
    const QByteArray digest = QCryptographicHash::hash(utf16, QCryptographicHash::Md5);
    std::string name = "SingleOfficeIPC_";
    for (char byte : digest)
        name += QString::number(uchar(byte), 16).toStdString();
    return name;
}

// Was the process gone (not merely someone else's)?
bool ProcessGone(const std::string &digits)
{
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    return ::kill(pid_t(std::stol(digits)), 0) != 0 && errno == ESRCH;
}

// A program that was killed could not remove its office's profile and pipes: remove those whose program
// is gone. Their names carry its process id.
void RemoveLeftovers()
{
    std::error_code error;
    const std::string profilePrefix = "quillmark-office-";
    for (const auto &entry : std::filesystem::directory_iterator(TempRoot(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, profilePrefix.size(), profilePrefix) != 0)
            continue;
        const std::string rest = name.substr(profilePrefix.size());
        struct stat info;
        if (!ProcessGone(rest.substr(0, rest.find('-'))) || lstat(entry.path().c_str(), &info) != 0 ||
            info.st_uid != getuid())
            continue;
        OUString url;
        osl::FileBase::getFileURLFromSystemPath(ToUno(entry.path().string()), url);
        std::error_code ignored;
        std::filesystem::remove(
            PipeFolder + "/OSL_PIPE_" + std::to_string(getuid()) + "_" + ProfilePipeName(url), ignored);
        std::filesystem::remove_all(entry.path(), ignored);
    }
    const std::string pipePrefix = "OSL_PIPE_" + std::to_string(getuid()) + "_quillmark_";
    for (const auto &entry : std::filesystem::directory_iterator(PipeFolder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, pipePrefix.size(), pipePrefix) != 0)
            continue;
        const std::string rest = name.substr(pipePrefix.size());
        if (ProcessGone(rest.substr(0, rest.find('_')))) {
            std::error_code ignored;
            std::filesystem::remove(entry.path(), ignored);
        }
    }
}

std::string RandomTag()
{
    std::random_device device;
    std::mt19937_64 engine((uint64_t(device()) << 32) ^ device() ^
                           uint64_t(Clock::now().time_since_epoch().count()));
    char text[17];
    snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(engine()));
    return text;
}

} // namespace

class LibreOfficeWordProcessor::Impl
{
public:
    struct DocumentEntry
    {
        uno::Reference<lang::XComponent> component;
        qint64 size = 0;
        QString title;
        int office = 0; // the office instance that loaded it
        // How it was loaded, to load it again if the office dies under its print.
        QString path;
        std::string filter;
        QString password;
    };

    // One started office. Touched on the call thread only.
    struct Office
    {
        pid_t pid = 0;
        int instance = 0;
        std::string pipeName;
        std::string profilePipeName;
        std::string profileDir;
        uno::Reference<frame::XDesktop2> desktop;
        bool alive = false;
    };

    explicit Impl(const QString &dir) : programDir(dir) {}

    QString programDir;
    std::unique_ptr<CallThread> calls;
    std::atomic<pid_t> group{0};
    std::atomic<bool> aborted{false};
    bool created = false;
    bool wedged = false;

    // Touched on the call thread only.
    uno::Reference<uno::XComponentContext> local;
    Office office;
    int instances = 0;

    // Touched by the calling thread and by tasks, never at once: a task runs while its caller waits.
    std::map<int, DocumentEntry> documents;
    int nextHandle = 1;
    std::string destination;
    int lastJobId = -1; // the id of the last job known on the destination; -1 before the first print

    std::string sofficeBin() const { return (programDir + QStringLiteral("/soffice.bin")).toStdString(); }

    void killGroup()
    {
        const pid_t g = group.load();
        if (g > 0)
            ::kill(-g, SIGKILL);
    }

    // Runs task on the call thread; at the deadline the office is killed so that a blocked call returns.
    // False when the task had to be cut off (the office is then gone). Tasks capture this object and
    // shared or copied data only: if a call never returns, this object is left to it.
    bool call(std::function<void()> task, milliseconds deadline)
    {
        if (!calls || wedged)
            return false;
        const CallThread::Outcome outcome = calls->run(std::move(task), deadline, [this] { killGroup(); });
        if (outcome == CallThread::Outcome::Wedged)
            wedged = true;
        return outcome == CallThread::Outcome::Done;
    }

    // --- the office process (call thread) ---

    pid_t spawn(const std::string &bin, const std::string &profileUrl, const std::string &pipe)
    {
        std::vector<std::string> args = {bin,
                                         "-env:UserInstallation=" + profileUrl,
                                         "--headless",
                                         "--invisible",
                                         "--norestore",
                                         "--nologo",
                                         "--nodefault",
                                         "--nolockcheck",
                                         "--accept=pipe,name=" + pipe + ";urp;"};
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t parent = getpid();

        const pid_t pid = fork();
        if (pid == 0) {
            // Only async-signal-safe calls from here on.
            setpgid(0, 0);
            // The office dies with the thread that started it, even if this program crashes.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(127);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            signal(SIGPIPE, SIG_DFL);
            const int null = ::open("/dev/null", O_RDWR);
            if (null >= 0) {
                dup2(null, 0);
                dup2(null, 1);
                dup2(null, 2);
            }
#ifdef SYS_close_range
            if (syscall(SYS_close_range, 3u, ~0u, 0u) != 0)
#endif
                for (int fd = 3; fd < 4096; ++fd)
                    ::close(fd);
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (pid > 0) {
            setpgid(pid, pid); // either side may win the race; both ask for the same
            group = pid;
            if (aborted)
                killGroup();
        }
        return pid;
    }

    // Ends the office's processes and removes what it leaves behind. Call thread.
    void reapOffice()
    {
        if (office.pid > 0) {
            group = 0;
            ::kill(-office.pid, SIGKILL);
            while (waitpid(office.pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        group = 0;
        office.pid = 0;
        office.alive = false;
        office.desktop.clear();
        std::error_code ignored;
        if (!office.profileDir.empty())
            std::filesystem::remove_all(office.profileDir, ignored);
        // An office that was killed leaves its two sockets behind: the one we connect through, and the one
        // another start on the same profile would hand its work to.
        for (const std::string &name : {office.pipeName, office.profilePipeName})
            if (!name.empty())
                std::filesystem::remove(PipeFolder + "/OSL_PIPE_" + std::to_string(getuid()) + "_" + name,
                                        ignored);
        office.profileDir.clear();
        office.pipeName.clear();
        office.profilePipeName.clear();
    }

    // Releases the references into an office that is gone. Call thread.
    void forgetDocuments(int instance)
    {
        for (auto &entry : documents)
            if (entry.second.office == instance)
                entry.second.component.clear();
    }

    // Starts an office with a fresh profile and pipe and connects to it. Call thread.
    bool startOffice()
    {
        std::string profile = TempRoot() + "/quillmark-office-" + std::to_string(getpid()) + "-XXXXXX";
        if (!mkdtemp(profile.data()))
            return false;
        office = Office();
        office.instance = ++instances;
        office.profileDir = profile;
        office.pipeName = "quillmark_" + std::to_string(getpid()) + "_" + std::to_string(office.instance) +
                          "_" + RandomTag();
        OUString profileUrl;
        osl::FileBase::getFileURLFromSystemPath(ToUno(profile), profileUrl);
        office.profilePipeName = ProfilePipeName(profileUrl);

        uno::Reference<bridge::XUnoUrlResolver> resolver = bridge::UnoUrlResolver::create(local);
        const OUString url = ToUno("uno:pipe,name=" + office.pipeName + ";urp;StarOffice.ComponentContext");
        const std::string bin = sofficeBin();
        int starts = 0;
        office.pid = spawn(bin, ToUtf8(profileUrl), office.pipeName);
        if (office.pid <= 0)
            return false;
        ++starts;
        for (;;) {
            if (aborted)
                return false;
            int exitCode = -1;
            if (reapIfExited(&exitCode)) {
                const bool firstRun = exitCode == RestartExitCode;
                if (!firstRun || starts >= 3)
                    return false;
                office.pid = spawn(bin, ToUtf8(profileUrl), office.pipeName);
                if (office.pid <= 0)
                    return false;
                ++starts;
                continue;
            }
            try {
                uno::Reference<uno::XComponentContext> remote(resolver->resolve(url), uno::UNO_QUERY_THROW);
                office.desktop = frame::Desktop::create(remote);
                office.alive = true;
                return true;
            } catch (const connection::NoConnectException &) {
            } catch (const uno::Exception &) {
            }
            std::this_thread::sleep_for(milliseconds(25));
        }
    }

    // Has the office's process ended? Then whatever is left of its group is killed and it is reaped.
    // exitCode receives its exit code (-1 when a signal ended it). Call thread.
    bool reapIfExited(int *exitCode = nullptr)
    {
        if (office.pid <= 0)
            return true;
        siginfo_t info;
        memset(&info, 0, sizeof info);
        if (waitid(P_PID, office.pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
            group = 0;
            office.pid = 0;
            return true;
        }
        if (info.si_pid == 0)
            return false;
        // Not reaped yet, the process keeps its group id reserved: the group can be ended safely.
        group = 0;
        ::kill(-office.pid, SIGKILL);
        while (waitpid(office.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        if (exitCode)
            *exitCode = info.si_code == CLD_EXITED ? info.si_status : -1;
        office.pid = 0;
        return true;
    }

    bool officeRunning()
    {
        return !reapIfExited();
    }

    // Makes sure a usable office runs; a dead one is cleared away and replaced. Calling thread.
    bool ensureOffice()
    {
        if (aborted || wedged)
            return false;
        auto alive = std::make_shared<bool>(false);
        call([this, alive] { *alive = office.alive && officeRunning() && bridgeAlive(); }, CloseDeadline);
        if (*alive)
            return true;
        auto started = std::make_shared<bool>(false);
        const bool finished = call(
            [this, started] {
                forgetDocuments(office.instance);
                reapOffice();
                *started = startOffice();
                if (!*started)
                    reapOffice();
            },
            StartDeadline);
        if (!finished) {
            call([this] { reapOffice(); }, CloseDeadline);
            return false;
        }
        return *started;
    }

    // Does the office still answer over the bridge? A killed office's bridge is disposed at once, while
    // its process may take a while longer to go. Call thread.
    bool bridgeAlive()
    {
        if (!office.desktop.is())
            return false;
        try {
            office.desktop->getFrames();
            return true;
        } catch (const uno::RuntimeException &) {
            return false;
        }
    }

    // After a call failed: was the office lost (killed, crashed)? Then clear it away. Calling thread.
    bool officeLost()
    {
        auto lost = std::make_shared<bool>(false);
        call(
            [this, lost] {
                *lost = !officeRunning() || !bridgeAlive();
                if (*lost) {
                    forgetDocuments(office.instance);
                    reapOffice();
                }
            },
            CloseDeadline);
        return *lost;
    }

    static void closeComponent(const uno::Reference<lang::XComponent> &component)
    {
        try {
            uno::Reference<util::XCloseable> closeable(component, uno::UNO_QUERY);
            if (closeable.is())
                closeable->close(true);
            else
                component->dispose();
        } catch (const util::CloseVetoException &) {
            try {
                component->dispose();
            } catch (const uno::Exception &) {
            }
        }
    }

    // --- operations ---

    bool create()
    {
        if (created)
            return office.alive;
        const std::string bin = sofficeBin();
        const QString rc = programDir + QStringLiteral("/fundamentalrc");
        if (access(bin.c_str(), X_OK) != 0 || !QFileInfo(rc).isFile())
            return false;
        created = true;
        RemoveLeftovers();

        // Writing into an office that has just died must not end this program.
        struct sigaction current;
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            signal(SIGPIPE, SIG_IGN);

        calls.reset(new CallThread);
        auto bootstrapped = std::make_shared<bool>(false);
        const OUString rcPath = ToUno(rc);
        call(
            [this, rcPath, bootstrapped] {
                try {
                    // Without this the bootstrap succeeds and the first real call crashes.
                    rtl::Bootstrap::set("URE_BOOTSTRAP", "vnd.sun.star.pathname:" + rcPath);
                    local = cppu::defaultBootstrap_InitialComponentContext();
                    *bootstrapped = local.is();
                } catch (const uno::Exception &) {
                }
            },
            StartDeadline);
        if (!*bootstrapped)
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

    struct LoadOutput
    {
        LoadResult result = LoadResult::Refused;
        bool threw = false;
        int handle = NoDocument;
    };

    LoadResult load(const QString &path, const char *filter, const QString &password, qint64 size,
                    int *handle)
    {
        auto out = std::make_shared<LoadOutput>();
        const std::string filterName = filter;
        const bool finished = call(
            [this, out, path, filterName, password, size] {
                rtl::Reference<AbortingHandler> handler(new AbortingHandler);
                try {
                    const UnicodeNameLink loadable(path);
                    const OUString url = FileUrl(loadable.path());
                    const uno::Sequence<beans::PropertyValue> args = Args(
                        {Property("Hidden", uno::Any(true)),
                         // Read-only: otherwise a lock file is written beside the user's document, and a
                         // stale one (after a crash, or another user's) makes the load fail.
                         Property("ReadOnly", uno::Any(true)),
                         Property("Password", uno::Any(ToUno(password))),
                         Property("FilterName", uno::Any(ToUno(filterName))),
                         Property("MacroExecutionMode", uno::Any(document::MacroExecMode::NEVER_EXECUTE)),
                         Property("UpdateDocMode", uno::Any(document::UpdateDocMode::NO_UPDATE)),
                         Property("InteractionHandler",
                                  uno::Any(uno::Reference<task::XInteractionHandler>(handler.get())))});
                    uno::Reference<frame::XComponentLoader> loader(office.desktop, uno::UNO_QUERY_THROW);
                    uno::Reference<lang::XComponent> component =
                        loader->loadComponentFromURL(url, "_blank", 0, args);
                    if (!component.is()) {
                        out->result =
                            handler->passwordRefused() ? LoadResult::PasswordRefused : LoadResult::Refused;
                        return;
                    }
                    if (!uno::Reference<text::XTextDocument>(component, uno::UNO_QUERY).is()) {
                        closeComponent(component);
                        return;
                    }
                    const int h = nextHandle++;
                    documents[h] = DocumentEntry{component, size,       loadable.title(), office.instance,
                                                 path,      filterName, password};
                    out->handle = h;
                    out->result = LoadResult::Opened;
                } catch (const uno::RuntimeException &) {
                    // DisposedException and the other errors of a dead bridge; told apart below.
                    out->threw = true;
                } catch (const uno::Exception &) {
                    // An encrypted .docx with a wrong password ends here ("type detection aborted").
                    out->result =
                        handler->passwordRefused() ? LoadResult::PasswordRefused : LoadResult::Refused;
                }
            },
            DeadlineFor(size));
        if (!finished) {
            officeLost();
            return LoadResult::CutOff;
        }
        if (out->threw && officeLost())
            return LoadResult::OfficeLost;
        *handle = out->handle;
        return out->result;
    }

    WordProcessor::Document open(const QString &path, const QString &password)
    {
        if (!created || aborted || wedged)
            return NoDocument;
        const QFileInfo info(path);
        // An empty file would open as an empty document; Word refuses it, and so do we. The name's own
        // bytes: it may not be UTF-8.
        struct stat status;
        if (stat(EncodeFileName(info.absoluteFilePath()).constData(), &status) != 0 ||
            !S_ISREG(status.st_mode) || status.st_size == 0)
            return NoDocument;
        const qint64 size = status.st_size;

        // The filter of the extension first; a real Word file with the other Word extension opens with
        // the other one.
        const QString suffix = info.suffix().toLower();
        std::vector<const char *> filters;
        if (suffix == QLatin1String("docx"))
            filters = {"MS Word 2007 XML", "MS Word 97"};
        else if (suffix == QLatin1String("doc"))
            filters = {"MS Word 97", "MS Word 2007 XML"};
        else if (suffix == QLatin1String("docm"))
            filters = {"MS Word 2007 XML VBA", "MS Word 97"};
        else
            return NoDocument;

        bool retriedAfterLoss = false;
        for (size_t i = 0; i < filters.size();) {
            if (!ensureOffice())
                return NoDocument;
            int handle = NoDocument;
            switch (load(info.absoluteFilePath(), filters[i], password, size, &handle)) {
            case LoadResult::Opened:
                return handle;
            case LoadResult::PasswordRefused:
            case LoadResult::CutOff:
                // A wrong password stays wrong with the other filter; a hang would only repeat.
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

    struct PrintOutput
    {
        bool printerSet = false;
        bool returned = false;
        bool threw = false;
        bool spoolFailed = false;
        bool spooled = false;
    };

    enum class PrintResult
    {
        Printed,
        NotPrinted,
        Lost
    };

    // Prints once. Lost: the office died under the call before any job reached the queue.
    PrintResult printOnce(const DocumentEntry &entry, const std::string &dest)
    {
        // Jobs are numbered upwards: the new one comes after every job known before. The scheduler's whole
        // list is read once; after that the last job followed marks the place.
        if (lastJobId < 0)
            lastJobId = cupsqueue::HighestJobId(dest);
        const int before = lastJobId;
        auto out = std::make_shared<PrintOutput>();
        const bool finished = call(
            [out, entry, dest] {
                rtl::Reference<JobListener> listener(new JobListener);
                try {
                    uno::Reference<view::XPrintable> printable(entry.component, uno::UNO_QUERY_THROW);
                    const OUString name = ToUno(dest);
                    printable->setPrinter(Args({Property("Name", uno::Any(name))}));
                    // An unknown name is ignored silently, and the job would go elsewhere.
                    const auto current = printable->getPrinter();
                    for (const auto &p : current) {
                        OUString value;
                        if (p.Name == "Name" && (p.Value >>= value) && value == name)
                            out->printerSet = true;
                    }
                    if (!out->printerSet)
                        return;
                    uno::Reference<view::XPrintJobBroadcaster> broadcaster(entry.component, uno::UNO_QUERY);
                    if (broadcaster.is())
                        broadcaster->addPrintJobListener(
                            uno::Reference<view::XPrintJobListener>(listener.get()));
                    printable->print(Args({Property("Wait", uno::Any(true))}));
                    out->returned = true;
                    if (broadcaster.is())
                        broadcaster->removePrintJobListener(
                            uno::Reference<view::XPrintJobListener>(listener.get()));
                } catch (const uno::Exception &) {
                    out->threw = true;
                }
                out->spoolFailed = listener->saw(view::PrintableState_JOB_SPOOLING_FAILED) ||
                                   listener->saw(view::PrintableState_JOB_FAILED) ||
                                   listener->saw(view::PrintableState_JOB_ABORTED);
                out->spooled = listener->saw(view::PrintableState_JOB_SPOOLED);
            },
            DeadlineFor(entry.size));
        // A call cut off at its deadline hung: it would hang again, so it is not tried once more.
        const bool died = (!finished || out->threw) && officeLost() && finished;
        if (out->spoolFailed)
            return PrintResult::NotPrinted;
        if (!out->printerSet)
            return died ? PrintResult::Lost : PrintResult::NotPrinted;

        cupsqueue::FollowLimits limits;
        if (!out->returned)
            limits.appear = milliseconds(2000); // the office died on the way: a job may have got out
        int jobId = 0;
        const cupsqueue::JobOutcome outcome =
            cupsqueue::FollowJob(dest, before, entry.title.toStdString(), limits, &jobId);
        lastJobId = std::max(lastJobId, jobId);
        switch (outcome) {
        case cupsqueue::JobOutcome::Printed:
            return PrintResult::Printed;
        case cupsqueue::JobOutcome::NotPrinted:
            return PrintResult::NotPrinted;
        case cupsqueue::JobOutcome::Unknown:
            // No job to follow: it never reached the queue, unless the office said it did (and the
            // scheduler keeps no history of finished jobs).
            if (out->returned && out->spooled)
                return PrintResult::Printed;
            return died ? PrintResult::Lost : PrintResult::NotPrinted;
        }
        return PrintResult::NotPrinted;
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
            if (it == documents.end() || !it->second.component.is())
                return false;
            const DocumentEntry entry = it->second;
            const PrintResult result = printOnce(entry, destination);
            if (result != PrintResult::Lost)
                return result == PrintResult::Printed;
            // The office died under the print (killed from outside, or crashed) before any job got out:
            // load the document into a fresh office and print it once more.
            if (attempt > 0 || aborted || !ensureOffice())
                return false;
            int handle = NoDocument;
            if (load(entry.path, entry.filter.c_str(), entry.password, entry.size, &handle) !=
                LoadResult::Opened)
                return false;
            documents[document] = documents[handle];
            documents.erase(handle);
        }
    }

    void close(WordProcessor::Document document)
    {
        auto it = documents.find(document);
        if (it == documents.end())
            return;
        uno::Reference<lang::XComponent> component = it->second.component;
        documents.erase(it);
        if (!component.is() || wedged)
            return;
        auto threw = std::make_shared<bool>(false);
        const bool finished = call(
            [component, threw]() mutable {
                try {
                    closeComponent(component);
                } catch (const uno::Exception &) {
                    *threw = true;
                }
                component.clear();
            },
            CloseDeadline);
        component.clear();
        if (!finished || *threw)
            officeLost();
    }

    void quit()
    {
        if (!calls)
            return;
        if (!wedged) {
            call(
                [this] {
                    for (auto &entry : documents) {
                        if (entry.second.component.is() && office.alive) {
                            try {
                                closeComponent(entry.second.component);
                            } catch (const uno::Exception &) {
                            }
                        }
                        entry.second.component.clear();
                    }
                    documents.clear();
                },
                CloseDeadline);
            call(
                [this] {
                    if (!office.alive || !office.desktop.is() || !officeRunning())
                        return;
                    try {
                        office.desktop->terminate();
                    } catch (const uno::Exception &) {
                    }
                    office.desktop.clear();
                },
                TerminateDeadline);
            call(
                [this] {
                    // The office leaves shortly after it agreed to terminate; give it that moment.
                    const auto end = Clock::now() + ExitWait;
                    while (officeRunning() && Clock::now() < end)
                        std::this_thread::sleep_for(milliseconds(10));
                    reapOffice();
                    // The local service manager and its bridge factory go with this client.
                    uno::Reference<lang::XComponent> context(local, uno::UNO_QUERY);
                    local.clear();
                    if (context.is()) {
                        try {
                            context->dispose();
                        } catch (const uno::Exception &) {
                        }
                    }
                },
                ExitWait + CloseDeadline);
        }
        killGroup();
        created = false;
        if (!wedged)
            calls.reset();
    }

    QString printerProblem()
    {
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
    if (d->wedged) {
        // A call that never returned still uses this state: leave it to that call.
        (void)d.release();
    }
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

void LibreOfficeWordProcessor::abort()
{
    d->aborted = true;
    d->killGroup();
}

int LibreOfficeWordProcessor::officePid() const
{
    return d->group.load();
}
