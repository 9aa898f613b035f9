// The Windows client's server: started, watched in every call, ended, and left to the user when it holds
// their documents.

#include "platform/localserver.h"
#include "platform/ownerfiles.h"
#include "print/axcallthread.h"
#include "print/axdispatch.h"
#include "print/axobjects.h"

#include <QAxObject>
#include <QUuid>
#include <QVariant>
#include <condition_variable>
#include <thread>

#include <objbase.h>

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

AxWordProcessor::CallEnd AxWordProcessor::call(bool documentCall, std::function<void(Objects &)> task)
{
    if (!calls_ || calls_->abandoned() || !objects_)
        return CallEnd::Abandoned;
    std::shared_ptr<LocalServerProcess> server;
    {
        std::lock_guard<std::mutex> lock(serverMutex_);
        server = server_;
    }
    calls_->post([objects = objects_, task = std::move(task)] { task(*objects); });

    const milliseconds bound = server ? (documentCall ? limits_.cap : limits_.call)
                                      : (documentCall ? limits_.unwatchedDocument : limits_.call);
    const milliseconds every = std::max(milliseconds(20), std::min(limits_.stall / 4, milliseconds(1000)));
    const Clock::time_point started = Clock::now();
    Clock::time_point lastSample = started, lastWork = started;
    long long cpu = server ? server->cpuTimeMs() : -1, io = server ? server->ioBytes() : -1;
    bool ended = false;
    for (;;) {
        if (calls_->wait(every))
            return CallEnd::Done;
        const Clock::time_point now = Clock::now();
        if (aborted_) {
            if (calls_->wait(limits_.abortWait))
                return CallEnd::Done;
            ended = server && endByForce();
            break;
        }
        if (!server) {
            if (now - started >= bound)
                break;
            continue;
        }
        // Work is a share of CPU time or some I/O: an idle server still shows a little of both.
        const long long cpuNow = server->cpuTimeMs(), ioNow = server->ioBytes();
        const long long spent = std::chrono::duration_cast<milliseconds>(now - lastSample).count();
        if ((cpuNow >= 0 && (cpuNow - cpu) * 100 >= limits_.cpuPercent * spent) ||
            (ioNow >= 0 && ioNow - io >= limits_.ioBytes))
            lastWork = now;
        cpu = cpuNow;
        io = ioNow;
        lastSample = now;
        if (now - lastWork >= limits_.stall || now - started >= bound || !server->running()) {
            ended = endByForce();
            break;
        }
    }
    if (ended && calls_->wait(limits_.grace))
        return CallEnd::Ended;
    // Nothing more reaches this server: the call stays on its thread, and the run stops.
    calls_->abandon();
    lost_ = true;
    if (!aborted_)
        breakdown_ = Breakdown::NotAnswering;
    return CallEnd::Abandoned;
}

// Ends the server, unless it holds the user's documents. True when it was ended.
bool AxWordProcessor::endByForce()
{
    std::shared_ptr<LocalServerProcess> server;
    {
        std::lock_guard<std::mutex> lock(serverMutex_);
        server = server_;
    }
    if (!server)
        return false;
    if (server->running() && userDocumentsPresent()) {
        leaveToUser();
        return false;
    }
    server->terminate();
    server->waitForExit(2000);
    lost_ = true;
    return true;
}

// Asked beside the call under way, from a thread of its own, within the check's bound. A server that
// does not answer is hung in our call, and a hung server has taken no document since the last count.
bool AxWordProcessor::userDocumentsPresent()
{
    struct Answer
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool answered = false;
        long count = 0;
    };
    IDispatch *documents = objects_ && objects_->reachable ? objects_->documents : nullptr;
    if (!documents)
        return false;
    documents->AddRef();
    auto answer = std::make_shared<Answer>();
    std::thread([documents, answer] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        const DispatchResult count =
            DispatchCall(documents, L"Count", DispatchCall::Get).invoke(milliseconds(0));
        documents->Release();
        CoUninitialize();
        std::lock_guard<std::mutex> lock(answer->mutex);
        answer->finished = true;
        answer->answered = count.ok();
        answer->count = count.number;
        answer->done.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(answer->mutex);
    answer->done.wait_for(lock, limits_.check, [&] { return answer->finished; });
    // A document being opened may already be in the collection.
    return answer->answered && answer->count > ownOpen_ + (opening_ ? 1 : 0);
}

// The server holds documents this run did not open: it is the user's now. Shown, kept past our end, and
// never quit or ended by us.
void AxWordProcessor::leaveToUser()
{
    std::shared_ptr<LocalServerProcess> server;
    {
        std::lock_guard<std::mutex> lock(serverMutex_);
        server = std::move(server_);
    }
    if (server)
        server->keep();
    if (objects_ && objects_->reachable && objects_->app && calls_ && !calls_->abandoned()) {
        IDispatch *app = objects_->app;
        app->AddRef();
        std::thread([app] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            DispatchCall(app, L"Visible", DispatchCall::Put).arg(true).invoke(milliseconds(2000));
            app->Release();
            CoUninitialize();
        }).detach();
    }
    AxTell(QStringLiteral(
        "文字处理软件中打开着不是本次打印打开的文档（用户自己的文档）：它保持运行并已显示出来，"
        "本程序不会关闭它。"));
    lost_ = true;
    quitCleanly_ = true; // nothing of ours to clean up after it
    openedHere_.clear();
}

bool AxWordProcessor::start()
{
    if (aborted_)
        return false;
    calls_ = std::make_unique<AxCallThread>();
    {
        std::lock_guard<std::mutex> lock(serverMutex_);
        wakeable_ = calls_.get();
    }
    objects_ = std::make_shared<Objects>();
    ownOpen_ = 0;
    lost_ = false;
    quitCleanly_ = false;
    openedHere_.clear();
    LocalServerWatch watch(L"Word.Application");
    auto count = std::make_shared<long>(-1);
    const CallEnd end = call(false, [count, busy = limits_.busy](Objects &o) {
        o.application = new QAxObject();
        if (!o.application->setControl(QStringLiteral("Word.Application")) || o.application->isNull()) {
            delete o.application;
            o.application = nullptr;
            return;
        }
        o.application->queryInterface(QUuid(IID_IDispatch), reinterpret_cast<void **>(&o.app));
        const DispatchResult documents = DispatchCall(o.app, L"Documents", DispatchCall::Get).invoke(busy);
        o.documents = documents.object;
        if (o.documents) {
            const DispatchResult n = DispatchCall(o.documents, L"Count", DispatchCall::Get).invoke(busy);
            *count = n.ok() ? n.number : -1;
        }
    });
    LocalServerWatch::Miss miss = LocalServerWatch::Miss::None;
    std::shared_ptr<LocalServerProcess> server(watch.started(&miss));
    if (end == CallEnd::Abandoned)
        return false;
    if (!objects_->application) {
        releaseObjects();
        return false;
    }
    if (!server && !toldUnidentified_) {
        toldUnidentified_ = true;
        const QString why = miss == LocalServerWatch::Miss::InProcess
                                ? QStringLiteral("它在本程序之内运行")
                                : (miss == LocalServerWatch::Miss::NotRegistered
                                       ? QStringLiteral("注册信息中找不到它的程序")
                                       : QStringLiteral("没有或不止一个新启动的进程能确认是它"));
        AxTell(QStringLiteral(
                   "未能识别文字处理软件的进程（%1）：它不响应时，本程序只能在时限后放弃，无法结束它。")
                   .arg(why));
    }
    {
        std::lock_guard<std::mutex> lock(serverMutex_);
        server_ = server;
        if (aborted_ && server_)
            server_->terminate();
    }
    // A server handed back with documents open is the user's running one: left as it is, not hidden.
    if (*count > 0) {
        AxTell(
            QStringLiteral("文字处理软件已在运行，并打开着用户自己的文档：为免影响这些文档，本次没有使用它。"
                           "请保存并关闭这些文档后再打印。"));
        {
            std::lock_guard<std::mutex> lock(serverMutex_);
            if (server_)
                server_->keep();
            server_.reset();
        }
        releaseObjects();
        quitCleanly_ = true;
        return false;
    }
    openedHere_.clear();
    return true;
}

// Releases the server's objects, within the bound of a call; left to an abandoned call otherwise.
void AxWordProcessor::releaseObjects()
{
    if (objects_ && calls_ && !calls_->abandoned()) {
        objects_->reachable = false;
        call(false, [](Objects &o) {
            for (auto &document : o.opened)
                AxRelease(document.second);
            o.opened.clear();
            AxRelease(o.documents);
            AxRelease(o.app);
            delete o.application;
            o.application = nullptr;
        });
    }
    objects_.reset();
    ownOpen_ = 0;
    pageCounts_.clear();
}

// Lets go of a server that is gone or to be replaced: ended first when it is still running (and not the
// user's); the owner files of the documents it had open go when it did not quit by itself.
void AxWordProcessor::dropServer()
{
    std::shared_ptr<LocalServerProcess> server;
    {
        std::lock_guard<std::mutex> lock(serverMutex_);
        server = server_;
    }
    if (server && server->running())
        endByForce();
    releaseObjects();
    {
        std::lock_guard<std::mutex> lock(serverMutex_);
        server_.reset();
        wakeable_ = nullptr;
    }
    calls_.reset();
    if (!quitCleanly_) {
        for (const auto &opened : openedHere_)
            RemoveOwnerFiles(opened.first, opened.second - 2 * 10000000LL);
    }
    openedHere_.clear();
}

int AxWordProcessor::documentCount(bool *answered)
{
    auto count = std::make_shared<DispatchResult>();
    const CallEnd end = call(false, [count, busy = limits_.busy](Objects &o) {
        *count = DispatchCall(o.documents, L"Count", DispatchCall::Get).invoke(busy);
    });
    *answered = end == CallEnd::Done && count->ok();
    if (end == CallEnd::Done && ServerGone(count->result))
        lost_ = true;
    return int(count->number);
}
