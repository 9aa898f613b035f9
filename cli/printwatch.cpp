#include "cli/printwatch.h"

#include "cli/batchrun.h"
#include "cli/keptoffice.h"
#include "print/threadobject.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QTimer>
#include <memory>

namespace {

// The whole tree is looked at again this often, whatever the notifications say.
constexpr int kRescanMs = 30000;
// After a run that something outside the documents stopped (a printer, the office), the next try waits.
constexpr int kRetryMs = 30000;
// A change is looked at once the burst of notifications it makes is over.
constexpr int kSettleMs = 200;
// An office with nothing to do for this long is ended; the next document starts another.
constexpr int kIdleOfficeMs = 5 * 60 * 1000;
// Folders watched for notifications at most; the rescan covers the rest of a larger tree.
constexpr int kMostWatchedFolders = 4096;

class Watch
{
public:
    Watch(PreparedRun &run, int stableSeconds, QTextStream &out, QTextStream &err)
        : run_(run), stableMs_(qint64(stableSeconds) * 1000), out_(out), err_(err),
          root_(QDir::toNativeSeparators(run.setup.settings.sourcePath))
    {
        scanTimer_.setSingleShot(true);
        QObject::connect(&scanTimer_, &QTimer::timeout, [this] { scan(); });
        idleTimer_.setSingleShot(true);
        QObject::connect(&idleTimer_, &QTimer::timeout, [this] {
            if (!batch_.running())
                office_.end();
        });
        QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, [this] { scanSoon(kSettleMs); });
        KeepLedger(batch_, run_);
        // Each batch has an account of its own.
        QObject::connect(
            &batch_, &BatchRun::documentStarted,
            [this](int number, int total, const QString &path) { account_->started(number, total, path); });
        QObject::connect(&batch_, &BatchRun::documentFinished,
                         [this](const DocumentOutcome &result) { account_->finished(result); });
        QObject::connect(&batch_, &BatchRun::runFinished,
                         [this](int done, int failed, const QString &problem) {
                             account_->runFinished(done, failed, problem);
                         });
        QObject::connect(&batch_, &BatchRun::finished, [this] { batchFinished(); });
    }

    int exec()
    {
        if (!run_.setup.quiet)
            out_ << QStringLiteral("正在监视：%1（按 Ctrl+C 结束）").arg(root_) << Qt::endl;
        {
            // What a run before this one began and never finished is told first.
            RunSetup unfinished = setup();
            unfinished.settings.useDocumentList = true;
            RunAccount account(unfinished, out_, err_);
            TellUnfinished(run_, account);
            if (account.rowsAdded() > 0) {
                account.conclude(false);
                rowBase_ += account.rowsAdded();
            }
        }
        scanSoon(0);
        QEventLoop loop;
        loop.exec(); // until a termination signal
        // A batch under way is cut off; its account is concluded as it ends.
        stopping_ = true;
        scanTimer_.stop();
        batch_.abortAndWait();
        office_.end();
        if (!run_.setup.quiet)
            out_ << QStringLiteral("监视已结束。") << Qt::endl;
        return kPrintExitAllPrinted;
    }

private:
    struct Pending
    {
        qint64 size;
        qint64 modifiedMs;
        qint64 sinceMs; // when it was last seen to change, on clock_
    };

    RunSetup setup() const
    {
        RunSetup setup = run_.setup;
        setup.rowBase = rowBase_;
        return setup;
    }

    void scanSoon(int ms)
    {
        if (!scanTimer_.isActive() || scanTimer_.remainingTime() > ms)
            scanTimer_.start(ms);
    }

    // The last record of a document: the ledger's, else the report's from before.
    PrintLedger::Entry record(const QHash<QString, PrintLedger::Entry> &ledger, const QString &relative) const
    {
        const auto entry = ledger.constFind(relative);
        return entry != ledger.constEnd() ? *entry : run_.records.value(relative);
    }

    void watchFolders()
    {
        QStringList folders{run_.setup.settings.sourcePath};
        // Hidden folders and folder links are left out, as far as notifications go.
        QDirIterator it(run_.setup.settings.sourcePath, QDir::Dirs | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext() && folders.size() < kMostWatchedFolders)
            folders.append(it.next());
        const QStringList watched = watcher_.directories();
        QStringList added;
        for (const QString &folder : folders) {
            if (!watched.contains(folder))
                added.append(folder);
        }
        if (!added.isEmpty())
            watcher_.addPaths(added);
    }

    void scan()
    {
        if (batch_.running())
            return; // looked at again once it is over
        if (!clock_.isValid())
            clock_.start();
        watchFolders();
        const qint64 now = clock_.elapsed();
        const QHash<QString, PrintLedger::Entry> ledger = run_.ledger->entries();
        const PrintJobSettingsRecord::Mode mode = run_.setup.settings.mode;
        QHash<QString, Pending> seen;
        QStringList ready;
        qint64 nextMs = kRescanMs;
        ThreadObject lister;
        for (const QFileInfo &file : lister.ListFilesRecursively(run_.setup.settings.sourcePath)) {
            const QString path = QDir::toNativeSeparators(file.filePath());
            if (!ThreadObject::IsPrintableDocument(path))
                continue;
            const QString relative = RunAccount::Relative(path, root_);
            const qint64 size = file.size(), modified = file.lastModified().toMSecsSinceEpoch();
            if (LeftOutAsDone(record(ledger, relative), size, modified, mode, true))
                continue;
            Pending state{size, modified, now};
            const auto before = pending_.constFind(relative);
            if (before != pending_.constEnd() && before->size == size && before->modifiedMs == modified)
                state.sinceMs = before->sinceMs;
            seen.insert(relative, state);
            const qint64 left = state.sinceMs + stableMs_ - now;
            if (left <= 0)
                ready.append(path);
            else
                nextMs = std::min(nextMs, left + 50);
        }
        pending_ = seen; // documents that went away are forgotten
        if (!ready.isEmpty() && retryAfterMs_ <= now) {
            startBatch(ready);
            return;
        }
        if (!ready.isEmpty())
            nextMs = std::min(nextMs, retryAfterMs_ - now);
        scanSoon(int(std::max<qint64>(nextMs, 0)));
    }

    void startBatch(const QStringList &paths)
    {
        idleTimer_.stop();
        account_ = std::make_unique<RunAccount>(setup(), out_, err_);
        PrintJobSettingsRecord settings = run_.setup.settings;
        settings.useDocumentList = true;
        settings.documentList = paths;
        batch_.start(settings);
    }

    void batchFinished()
    {
        // Every outcome is recorded in the ledger by now; what did not get one is taken again later.
        account_->conclude(stopping_);
        if (stopping_)
            return;
        rowBase_ += account_->total();
        if (account_->stoppedByProblem())
            retryAfterMs_ = clock_.elapsed() + kRetryMs;
        idleTimer_.start(kIdleOfficeMs);
        scanSoon(kSettleMs);
    }

    PreparedRun &run_;
    const qint64 stableMs_;
    QTextStream &out_;
    QTextStream &err_;
    const QString root_;
    KeptOffice office_; // before the batch: it outlives every run
    BatchRun batch_;
    std::unique_ptr<RunAccount> account_;
    QFileSystemWatcher watcher_;
    QTimer scanTimer_, idleTimer_;
    QElapsedTimer clock_;
    QHash<QString, Pending> pending_;
    qint64 retryAfterMs_ = 0;
    int rowBase_ = 0;
    bool stopping_ = false;
};

} // namespace

int WatchFolder(PreparedRun &run, int stableSeconds, QTextStream &out, QTextStream &err)
{
    Watch watch(run, stableSeconds, out, err);
    return watch.exec();
}
