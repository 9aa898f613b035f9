#pragma once
// The word processor on Windows: Word or WPS through the COM class "Word.Application" (ActiveQt).

#include "print/wordprocessor.h"

#include <QHash>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class QAxObject;
class LocalServerProcess;

class AxWordProcessor : public WordProcessor
{
public:
    struct Limits
    {
        // A call during which the server uses no CPU time this long has hung (a dialog nobody sees, a
        // file on a share that does not answer): the server is ended and the call returns.
        std::chrono::milliseconds stall{20000};
        // No single call takes longer, whatever the server does.
        std::chrono::milliseconds cap{30 * 60 * 1000};
        // How long a server may take to end after "Quit(void)" before it is ended.
        std::chrono::milliseconds exitWait{5000};
    };

    AxWordProcessor() : AxWordProcessor(Limits()) {}
    explicit AxWordProcessor(const Limits &limits);
    ~AxWordProcessor() override;

    bool create() override;
    void setVisible(bool visible) override;
    void setDisplayAlerts(bool enabled) override;
    bool queryDocuments() override;
    Document open(const QString &path, bool confirmConversions, bool readOnly, bool addToRecentFiles,
                  const QString &passwordDocument, const QString &passwordTemplate, bool revert) override;
    bool printOut(Document document) override;
    void close(Document document, bool saveChanges) override;
    void quit() override;
    void abort() override;

    AxWordProcessor(const AxWordProcessor &) = delete;
    AxWordProcessor &operator=(const AxWordProcessor &) = delete;

private:
    friend class AxCall;
    bool start();
    void dropServer();
    bool serverLost() const;
    void watch();

    const Limits limits_;
    QAxObject *application_ = nullptr; // owns the collection and every document object
    QAxObject *documents_ = nullptr;
    QHash<Document, QAxObject *> opened_;
    Document next_ = 1;
    bool visible_ = false;
    bool alerts_ = true;
    std::atomic<bool> aborted_{false};

    // The server's process, when it could be told apart: abort() and the watchdog end it from their
    // threads, and a call under way then returns with an error.
    mutable std::mutex serverMutex_;
    std::shared_ptr<LocalServerProcess> server_;
    bool lost_ = false; // ended by us, or died: no further call reaches it

    // The watchdog: looks at the server while a call is under way.
    std::mutex watchMutex_;
    std::condition_variable watchWake_;
    bool inCall_ = false;
    bool stopWatch_ = false;
    std::chrono::steady_clock::time_point callStarted_;
    std::thread watchdog_;
};
