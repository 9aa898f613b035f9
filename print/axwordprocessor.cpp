#include "print/axwordprocessor.h"

#include "platform/localserver.h"
#include "platform/ownerfiles.h"
#include "print/axcallthread.h"
#include "print/axdispatch.h"
#include "print/axobjects.h"

#include <QAxObject>
#include <QVariant>
#include <cstdio>

#include <objbase.h>

using std::chrono::milliseconds;

void AxTell(const QString &text)
{
    std::fputs((text + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

void AxRelease(IDispatch *&object)
{
    if (object)
        object->Release();
    object = nullptr;
}

namespace {

// Word's own error codes for a document that does not open.
constexpr long WrongPasswordCode = long(0x800A1520); // 5408: the password is incorrect
constexpr long CorruptedCode = long(0x800A16A0);     // 5792: the file appears to be corrupted
constexpr long NotFoundCode = long(0x800A1436);      // 5174: the file could not be found

milliseconds FromEnvironment(const char *name, milliseconds fallback)
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue(name, &ok);
    return ok && seconds > 0 ? milliseconds(qint64(seconds) * 1000) : fallback;
}

} // namespace

AxWordProcessor::Limits AxWordProcessor::DefaultLimits()
{
    Limits limits;
    limits.stall = FromEnvironment("QUILLMARK_OFFICE_STALL_SECONDS", limits.stall);
    limits.unwatchedDocument = FromEnvironment("QUILLMARK_OFFICE_CALL_SECONDS", limits.unwatchedDocument);
    limits.call = std::min(limits.call, limits.unwatchedDocument);
    return limits;
}

AxWordProcessor::AxWordProcessor(const Limits &limits) : limits_(limits) {}

AxWordProcessor::~AxWordProcessor()
{
    // quit() released everything that could be; what is left stays with an abandoned call.
    std::lock_guard<std::mutex> lock(serverMutex_);
    wakeable_ = nullptr;
}

bool AxWordProcessor::create()
{
    // The print thread joins the multithreaded apartment, as before; the calls themselves go to a thread
    // of their own in the same apartment.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    return start();
}

void AxWordProcessor::setVisible(bool visible)
{
    visible_ = visible;
    if (!objects_ || lost_)
        return;
    call(false, [visible](Objects &o) {
        if (o.application)
            o.application->dynamicCall("SetVisible (bool Visible)",
                                       visible ? QStringLiteral("true") : QStringLiteral("false"));
    });
}

void AxWordProcessor::setDisplayAlerts(bool enabled)
{
    alerts_ = enabled;
    if (!objects_ || lost_)
        return;
    call(false, [enabled, busy = limits_.busy](Objects &o) {
        DispatchCall(o.app, L"DisplayAlerts", DispatchCall::Put).arg(enabled).invoke(busy);
    });
}

bool AxWordProcessor::queryDocuments()
{
    return objects_ && objects_->documents;
}

WordProcessor::Document AxWordProcessor::open(const QString &path, bool confirmConversions, bool readOnly,
                                              bool addToRecentFiles, const QString &passwordDocument,
                                              const QString &passwordTemplate, bool revert)
{
    lastFailure_ = OpenFailure::Unknown;
    if (aborted_ || breakdown_ != Breakdown::None)
        return NoDocument;
    // Before each document the server is counted: documents it holds that this run did not open are the
    // user's (Word hands a double-clicked document to a running instance), and it is left to them. Then
    // no document of theirs can be opened again with Revert, which would discard their changes.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (lost_ || !objects_) {
            dropServer();
            if (!start() || !objects_) {
                if (!aborted_ && breakdown_ == Breakdown::None)
                    breakdown_ = Breakdown::Unavailable;
                return NoDocument;
            }
            setVisible(visible_);
            setDisplayAlerts(alerts_);
        }
        // A server that cannot count (or is too busy to) is used as it is; one that is gone is replaced.
        bool answered = false;
        const int count = documentCount(&answered);
        if (!lost_ && (!answered || count <= ownOpen_))
            break;
        if (!lost_)
            leaveToUser();
        if (attempt == 1 || aborted_ || breakdown_ != Breakdown::None) {
            if (!aborted_ && breakdown_ == Breakdown::None)
                breakdown_ = Breakdown::Unavailable;
            return NoDocument;
        }
    }

    openedHere_.emplace_back(path.toStdWString(), FileClockNow());
    auto result = std::make_shared<DispatchResult>();
    const Document handle = next_++;
    opening_ = true;
    const CallEnd end = call(true, [=, busy = limits_.busy](Objects &o) {
        *result = DispatchCall(o.documents, L"Open", DispatchCall::Method)
                      .arg(path)
                      .arg(confirmConversions)
                      .arg(readOnly)
                      .arg(addToRecentFiles)
                      .arg(passwordDocument)
                      .arg(passwordTemplate)
                      .arg(revert)
                      .invoke(busy);
        if (result->object)
            o.opened[handle] = result->object;
    });
    opening_ = false;
    if (end != CallEnd::Done) {
        lastFailure_ = OpenFailure::TimedOut;
        return NoDocument;
    }
    if (result->ok() && result->object) {
        ++ownOpen_;
        return handle;
    }
    if (ServerGone(result->result)) {
        // The document took the server with it.
        lost_ = true;
        lastFailure_ = OpenFailure::Damaged;
    } else if (result->code == WrongPasswordCode) {
        lastFailure_ = OpenFailure::WrongPassword;
    } else if (result->code == CorruptedCode || result->code == NotFoundCode) {
        lastFailure_ = OpenFailure::Damaged;
    }
    return NoDocument;
}

bool AxWordProcessor::printOut(Document document)
{
    // In the foreground (Background false): the call returns once the document has been handed to the
    // printer, so closing it and quitting the server next cannot drop a job that is still spooling.
    const PrintOptions options = options_;
    DispatchResult result;
    // Only a call that returned S_OK printed: an exception (no printer), a refusal as busy past its
    // bound, a type or argument the server did not take, a server gone: not printed.
    return documentCall(
               document,
               [options](IDispatch *d) {
                   return WithPrintOptions(DispatchCall(d, L"PrintOut", DispatchCall::Method).arg(false),
                                           options);
               },
               &result) &&
           result.ok();
}

bool AxWordProcessor::documentCall(Document document, const std::function<DispatchCall(IDispatch *)> &make,
                                   DispatchResult *result)
{
    if (aborted_ || lost_ || !objects_ || !objects_->opened.count(document))
        return false;
    auto out = std::make_shared<DispatchResult>();
    const CallEnd end =
        call(true, [=, busy = limits_.busy](Objects &o) { *out = make(o.opened[document]).invoke(busy); });
    if (end == CallEnd::Done && ServerGone(out->result))
        lost_ = true;
    if (end != CallEnd::Done || aborted_)
        return false;
    *result = *out;
    return true;
}

void AxWordProcessor::close(Document document, bool saveChanges)
{
    // Also after an abort: quitting the server with a document still open leaves it to ask about that
    // document, or to keep running.
    if (!objects_ || !objects_->opened.count(document))
        return;
    pageCounts_.erase(document);
    const bool reachable = !lost_;
    auto closed = std::make_shared<bool>(false);
    call(false, [=, busy = limits_.busy](Objects &o) {
        IDispatch *object = o.opened[document];
        o.opened.erase(document);
        if (reachable)
            *closed = DispatchCall(object, L"Close", DispatchCall::Method).arg(saveChanges).invoke(busy).ok();
        AxRelease(object);
    });
    // One that could not be closed stays open in the server, and is counted as ours.
    if (*closed)
        ownOpen_ = std::max(0, ownOpen_ - 1);
}

void AxWordProcessor::quit()
{
    if (!objects_) {
        dropServer();
        return;
    }
    if (!lost_) {
        // Whatever is still open is closed without saving first, oldest first.
        std::vector<Document> handles;
        for (const auto &d : objects_->opened)
            handles.push_back(d.first);
        for (const Document handle : handles)
            close(handle, false);
        bool answered = false;
        const int count = documentCount(&answered);
        if (answered && count > ownOpen_) {
            leaveToUser();
        } else if (!lost_) {
            auto result = std::make_shared<DispatchResult>();
            const CallEnd end = call(false, [result, busy = limits_.busy](Objects &o) {
                *result = DispatchCall(o.app, L"Quit", DispatchCall::Method).invoke(busy);
            });
            releaseObjects();
            std::shared_ptr<LocalServerProcess> server;
            {
                std::lock_guard<std::mutex> lock(serverMutex_);
                server = server_;
            }
            // An Office shutdown takes its time; past it the server is ended.
            quitCleanly_ = end == CallEnd::Done && result->ok() &&
                           (!server || server->waitForExit(unsigned(limits_.exitWait.count())));
        }
    }
    dropServer();
}

void AxWordProcessor::abort()
{
    // Seen by the print thread within a moment, in the call under way or before the next: it ends the
    // server there (after the check for the user's documents), or gives the call up.
    aborted_ = true;
    std::lock_guard<std::mutex> lock(serverMutex_);
    if (wakeable_)
        wakeable_->wake();
}
