#include "print/axwordprocessor.h"

#include "platform/localserver.h"

#include <QAxObject>
#include <QList>
#include <QObject>
#include <QVariant>
#include <algorithm>

#include <objbase.h>

using Clock = std::chrono::steady_clock;

namespace {

// Hears the exception a server raises in a call (no printer, a document it cannot print).
class ExceptionSink : public QObject
{
    Q_OBJECT
public:
    bool raised = false;
public slots:
    void caught(int, const QString &, const QString &, const QString &) { raised = true; }
};

} // namespace

// Marks a call as under way for the watchdog.
class AxCall
{
public:
    explicit AxCall(AxWordProcessor &client) : client_(client)
    {
        std::lock_guard<std::mutex> lock(client_.watchMutex_);
        client_.inCall_ = true;
        client_.callStarted_ = Clock::now();
        client_.watchWake_.notify_all();
    }
    ~AxCall()
    {
        std::lock_guard<std::mutex> lock(client_.watchMutex_);
        client_.inCall_ = false;
    }
    AxCall(const AxCall &) = delete;
    AxCall &operator=(const AxCall &) = delete;

private:
    AxWordProcessor &client_;
};

AxWordProcessor::AxWordProcessor(const Limits &limits) : limits_(limits) {}

AxWordProcessor::~AxWordProcessor()
{
    {
        std::lock_guard<std::mutex> lock(watchMutex_);
        stopWatch_ = true;
        watchWake_.notify_all();
    }
    if (watchdog_.joinable())
        watchdog_.join();
    delete application_;
}

bool AxWordProcessor::create()
{
    // The print thread joins the multithreaded apartment before the server is created; the result is
    // not needed (an apartment joined earlier is as good).
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (!watchdog_.joinable())
        watchdog_ = std::thread([this] { watch(); });
    return start();
}

bool AxWordProcessor::start()
{
    if (aborted_)
        return false;
    LocalServerWatch servers(L"Word.Application");
    application_ = new QAxObject();
    if (!application_->setControl(QStringLiteral("Word.Application")) || application_->isNull()) {
        delete application_;
        application_ = nullptr;
        return false;
    }
    std::lock_guard<std::mutex> lock(serverMutex_);
    server_ = servers.started();
    lost_ = false;
    // An abort that came while the server started reaches it now.
    if (aborted_ && server_) {
        server_->terminate();
        lost_ = true;
    }
    return true;
}

bool AxWordProcessor::serverLost() const
{
    std::lock_guard<std::mutex> lock(serverMutex_);
    return lost_ || (server_ && !server_->running());
}

// Forgets a server that is gone, ending it first if it is not. Its objects are released without a call.
void AxWordProcessor::dropServer()
{
    std::shared_ptr<LocalServerProcess> server;
    {
        std::lock_guard<std::mutex> lock(serverMutex_);
        server = std::move(server_);
        lost_ = false;
    }
    if (server) {
        server->terminate();
        server->waitForExit(2000);
    }
    opened_.clear();
    documents_ = nullptr;
    delete application_;
    application_ = nullptr;
}

void AxWordProcessor::setVisible(bool visible)
{
    visible_ = visible;
    if (application_) {
        AxCall call(*this);
        application_->dynamicCall("SetVisible (bool Visible)",
                                  visible ? QStringLiteral("true") : QStringLiteral("false"));
    }
}

void AxWordProcessor::setDisplayAlerts(bool enabled)
{
    alerts_ = enabled;
    if (application_) {
        AxCall call(*this);
        application_->setProperty("DisplayAlerts", enabled);
    }
}

bool AxWordProcessor::queryDocuments()
{
    if (!application_)
        return false;
    AxCall call(*this);
    documents_ = application_->querySubObject("Documents");
    return documents_ != nullptr;
}

WordProcessor::Document AxWordProcessor::open(const QString &path, bool confirmConversions, bool readOnly,
                                              bool addToRecentFiles, const QString &passwordDocument,
                                              const QString &passwordTemplate, bool revert)
{
    if (aborted_)
        return NoDocument;
    // A server that hung or died on an earlier document is replaced by a fresh one, set up the same way.
    if (application_ && serverLost()) {
        dropServer();
        if (!start())
            return NoDocument;
        setVisible(visible_);
        setDisplayAlerts(alerts_);
        queryDocuments();
    }
    if (!documents_)
        return NoDocument;
    QAxObject *document = nullptr;
    {
        AxCall call(*this);
        document = documents_->querySubObject(
            "Open(const QString&,QVariant,QVariant,QVariant,QVariant,QVariant,QVariant,QVariant)", path,
            QVariant(confirmConversions), QVariant(readOnly), QVariant(addToRecentFiles),
            QVariant(passwordDocument), QVariant(passwordTemplate), QVariant(revert));
    }
    if (!document)
        return NoDocument;
    const Document handle = next_++;
    opened_.insert(handle, document);
    return handle;
}

bool AxWordProcessor::printOut(Document document)
{
    QAxObject *object = opened_.value(document);
    if (!object || aborted_)
        return false;
    ExceptionSink sink;
    QObject::connect(object, SIGNAL(exception(int, QString, QString, QString)), &sink,
                     SLOT(caught(int, QString, QString, QString)));
    {
        AxCall call(*this);
        // In the foreground (Background false): the call returns once the document has been handed to the
        // printer, so closing it and quitting the server next cannot drop a job that is still spooling.
        object->dynamicCall("PrintOut(QVariant)", QVariant(false));
    }
    QObject::disconnect(object, nullptr, &sink, nullptr);
    // An exception (no printer) or a server that died or was ended meanwhile: not printed.
    return !sink.raised && !serverLost() && !aborted_;
}

void AxWordProcessor::close(Document document, bool saveChanges)
{
    // Also after an abort: quitting the server with a document still open leaves it to ask about that
    // document, or to keep running. The object stays with the application and is released with it.
    QAxObject *object = opened_.take(document);
    if (object && !serverLost()) {
        AxCall call(*this);
        object->dynamicCall("Close (Boolean)", saveChanges);
    }
}

void AxWordProcessor::quit()
{
    if (!application_)
        return;
    // Whatever is still open is closed without saving first, oldest first.
    QList<Document> handles = opened_.keys();
    std::sort(handles.begin(), handles.end());
    for (const Document handle : handles)
        close(handle, false);
    if (!serverLost()) {
        AxCall call(*this);
        application_->dynamicCall("Quit(void)");
    }
    opened_.clear();
    documents_ = nullptr;
    delete application_;
    application_ = nullptr;
    // No server is left behind: one that does not end by itself soon after is ended.
    std::shared_ptr<LocalServerProcess> server;
    {
        std::lock_guard<std::mutex> lock(serverMutex_);
        server = std::move(server_);
    }
    if (server && !server->waitForExit(unsigned(limits_.exitWait.count()))) {
        server->terminate();
        server->waitForExit(2000);
    }
}

void AxWordProcessor::abort()
{
    // COM objects belong to the print thread; from here the server itself is ended, so that a call under
    // way returns with an error. A server that could not be told apart from others is left alone.
    aborted_ = true;
    std::lock_guard<std::mutex> lock(serverMutex_);
    if (server_) {
        server_->terminate();
        lost_ = true;
    }
}

void AxWordProcessor::watch()
{
    Clock::time_point watched;      // the start of the call looked at
    Clock::time_point lastProgress; // when the server last used CPU time during it
    long long lastCpu = -1;
    std::unique_lock<std::mutex> lock(watchMutex_);
    while (!stopWatch_) {
        if (!inCall_) {
            watchWake_.wait(lock);
            continue;
        }
        const Clock::time_point started = callStarted_;
        lock.unlock();
        {
            std::lock_guard<std::mutex> serverLock(serverMutex_);
            if (server_ && !lost_) {
                const Clock::time_point now = Clock::now();
                const long long cpu = server_->cpuTimeMs();
                if (started != watched || cpu != lastCpu) {
                    watched = started;
                    lastCpu = cpu;
                    lastProgress = now;
                }
                if (now - lastProgress >= limits_.stall || now - started >= limits_.cap) {
                    server_->terminate();
                    lost_ = true;
                }
            }
        }
        lock.lock();
        if (!stopWatch_)
            watchWake_.wait_for(lock, std::min<std::chrono::milliseconds>(limits_.stall / 4,
                                                                          std::chrono::milliseconds(1000)));
    }
}

#include "axwordprocessor.moc"
