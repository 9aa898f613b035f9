#pragma once
// The word processor on Windows: Word or WPS through the COM class "Word.Application".
//
// Every call to the server, releases included, is made on a thread of its own (print/axcallthread.h) and
// watched: when the server's process is known (platform/localserver.h), a call during which it does no
// work for a while, or that lasts past a cap, ends the server, and the call returns; when it is not
// known, a call that outlasts its bound is given up and the word processor is said not to answer
// (Breakdown::NotAnswering). A server that holds documents this run did not open (the user's own) is
// never quit or ended: it is left running and shown.
//
// The batch options are Word's own calls (print/axbatch.cpp): PrintOut's Copies, Range with Pages and
// Collate; ExportAsFixedFormat for PDFs; ComputeStatistics for the page count. PrintOut has no per-job
// duplex, so --duplex is refused.

#include "print/wordprocessor.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class DispatchCall;
struct DispatchResult;
struct IDispatch;
class AxCallThread;
class LocalServerProcess;

class AxWordProcessor : public WordProcessor
{
public:
    struct Limits
    {
        // A call during which the server does no work (CPU time under cpuPercent of the time, and less
        // than ioBytes read or written) this long has hung: a dialog nobody sees, a share that does not
        // answer. The server is ended and the call returns.
        std::chrono::milliseconds stall{20000};
        int cpuPercent = 10;
        long long ioBytes = 4096;
        // No Open or PrintOut takes longer, whatever the server does (a server busy in a loop).
        std::chrono::milliseconds cap{30 * 60 * 1000};
        // The bound of every other call, and of every call when the server's process is not known.
        std::chrono::milliseconds call{60000};
        // Open and PrintOut when the server's process is not known: given up after this long.
        std::chrono::milliseconds unwatchedDocument{5 * 60 * 1000};
        // How long refusals as busy are tried again (well within the bound of a call).
        std::chrono::milliseconds busy{30000};
        // How long a server may take to end after "Quit" (an Office shutdown) before it is ended.
        std::chrono::milliseconds exitWait{30000};
        // How long the check for the user's documents before a forced end may take.
        std::chrono::milliseconds check{3000};
        // After the server was ended, how long the call under way may take to return.
        std::chrono::milliseconds grace{10000};
        // After an abort, how long the call under way may still take before the server is ended (or, when
        // its process is not known, the call given up): a quick call, such as Quit, ends by itself.
        std::chrono::milliseconds abortWait{1000};
    };
    // The default limits, with QUILLMARK_OFFICE_STALL_SECONDS and QUILLMARK_OFFICE_CALL_SECONDS (for
    // tests) in place of the stall and of the bounds of unwatched calls when they are set.
    static Limits DefaultLimits();

    AxWordProcessor() : AxWordProcessor(DefaultLimits()) {}
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
    bool setPrintOptions(const PrintOptions &options) override;
    bool exportsPdf() const override;
    bool exportPdf(Document document, const QString &target) override;
    int pageCount(Document document) override;
    OpenFailure lastOpenFailure() const override { return lastFailure_; }
    Breakdown breakdown() const override { return breakdown_; }

    AxWordProcessor(const AxWordProcessor &) = delete;
    AxWordProcessor &operator=(const AxWordProcessor &) = delete;

    struct Objects; // the server's objects, touched only on the call thread

private:
    enum class CallEnd
    {
        Done,     // the call returned by itself
        Ended,    // the server was ended (hung, or aborted) and the call returned
        Abandoned // the call did not return; nothing reaches the server any more
    };
    CallEnd call(bool documentCall, std::function<void(Objects &)> task);
    bool endByForce();
    bool userDocumentsPresent();
    void leaveToUser();
    bool start();
    void dropServer();
    void releaseObjects();
    int documentCount(bool *answered);
    // A call on an open document of this run, watched as Open is. False when it could not be made or did
    // not return by itself (the document is not open here, the run was aborted, the server is gone or was
    // ended); result is then left as it was.
    bool documentCall(Document document, const std::function<DispatchCall(IDispatch *)> &make,
                      DispatchResult *result);

    const Limits limits_;
    std::unique_ptr<AxCallThread> calls_;
    std::shared_ptr<Objects> objects_;
    int ownOpen_ = 0;      // documents of this run open in the server now
    bool opening_ = false; // an Open is under way
    Document next_ = 1;
    PrintOptions options_;
    std::map<Document, int> pageCounts_; // as Word counted them, while the document is open
    bool toldNoExport_ = false;
    bool visible_ = false;
    bool alerts_ = true;
    bool lost_ = false; // ended or died: the next document needs a fresh server
    bool quitCleanly_ = false;
    OpenFailure lastFailure_ = OpenFailure::Unknown;
    Breakdown breakdown_ = Breakdown::None;
    bool toldUnidentified_ = false;
    // This server's documents and when each was opened: the owner files a forced end leaves are theirs.
    std::vector<std::pair<std::wstring, long long>> openedHere_;

    std::atomic<bool> aborted_{false};
    mutable std::mutex serverMutex_; // abort() comes from another thread
    std::shared_ptr<LocalServerProcess> server_;
    AxCallThread *wakeable_ = nullptr;
};
