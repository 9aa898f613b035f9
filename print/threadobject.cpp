#include "print/threadobject.h"

#include "platform/viewer.h"
#include "print/failurelist.h"
#include "print/printjobsettings.h"
#include "print/wordprocessor.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QWaitCondition>
#include <algorithm>
#include <map>
#include <vector>

namespace {

// Every run under way, so that AbortRuns can reach it from another thread.
struct ActiveRun
{
    WordProcessor *processor = nullptr;
    bool aborted = false;
};

QMutex runsMutex;
QWaitCondition runsWake; // wakes pauses when a run is aborted
std::vector<ActiveRun *> activeRuns;

QMutex viewerMutex;
ThreadObject::ViewerLauncher &viewerLauncher()
{
    static ThreadObject::ViewerLauncher launcher;
    return launcher;
}

// Registers a run for the time of one ReplaceExcelText call.
class RunRegistration
{
public:
    RunRegistration()
    {
        QMutexLocker lock(&runsMutex);
        activeRuns.push_back(&run_);
    }
    ~RunRegistration()
    {
        QMutexLocker lock(&runsMutex);
        activeRuns.erase(std::find(activeRuns.begin(), activeRuns.end(), &run_));
    }
    RunRegistration(const RunRegistration &) = delete;
    RunRegistration &operator=(const RunRegistration &) = delete;

    // The processor must be detached before it is destroyed: AbortRuns may call it at any time. One that
    // joins a run aborted already is told at once.
    void attach(WordProcessor *processor)
    {
        QMutexLocker lock(&runsMutex);
        run_.processor = processor;
        if (processor && run_.aborted)
            processor->abort();
    }
    bool aborted() const
    {
        QMutexLocker lock(&runsMutex);
        return run_.aborted;
    }
    // Like Sleep: 0 gives up the rest of the time slice. Cut short when the run is aborted.
    void pause(int milliseconds)
    {
        if (milliseconds <= 0) {
            QThread::yieldCurrentThread();
            return;
        }
        QDeadlineTimer deadline(milliseconds);
        QMutexLocker lock(&runsMutex);
        while (!run_.aborted && !deadline.hasExpired())
            runsWake.wait(&runsMutex, deadline);
    }

private:
    ActiveRun run_;
};

QString NoWordProcessorText()
{
    return QStringLiteral("未找到可用的文字处理软件（Word、WPS 或 LibreOffice），未能打印。");
}
QString NoDocumentsText()
{
    return QStringLiteral("文字处理软件无法打开文档，未能打印。");
}
QString AbortedText()
{
    return QStringLiteral("打印已中止。");
}
QString UnconfirmedText(int count)
{
    return QStringLiteral("另有%1个文档已交给打印机，但未能确认是否打印出来（失败列表中标为“%2”）。")
        .arg(count)
        .arg(FailureListUnconfirmedMarker().trimmed());
}
QString FailureListNotWrittenText(const QString &path)
{
    return QStringLiteral("无法写入打印失败的文件列表（%1），列表未能显示。")
        .arg(QDir::toNativeSeparators(path));
}

} // namespace

ThreadObject::ThreadObject(QObject *parent) : QObject(parent) {}

void ThreadObject::SetViewerLauncher(ViewerLauncher launcher)
{
    QMutexLocker lock(&viewerMutex);
    viewerLauncher() = std::move(launcher);
}

void ThreadObject::AbortRuns()
{
    QMutexLocker lock(&runsMutex);
    for (ActiveRun *run : activeRuns) {
        run->aborted = true;
        if (run->processor)
            run->processor->abort();
    }
    runsWake.wakeAll();
}

void ThreadObject::ReplaceExcelText()
{
    // A copy: the window may rewrite the record once the button is enabled again, before this run is over.
    const PrintJobSettingsRecord settings = PrintJobSettings;
    QStringList failedPaths; // in the order they were met; folders that could not be read end in a separator
    int printedCount = 0;
    QString problem; // why the run printed less than it could; shown after the count

    RunRegistration run; // from here on AbortRuns reaches this run
    QStringList unreadableFolders;
    const QFileInfoList files =
        ListFilesRecursively(settings.sourcePath, &unreadableFolders, [&run] { return run.aborted(); });
    const int n = files.size();

    std::unique_ptr<WordProcessor> office;
    if (!run.aborted())
        office = CreateWordProcessor();
    run.attach(office.get());
    const bool created = office && office->create();
    bool ready = created;
    if (created) {
        office->setVisible(false);
        office->setDisplayAlerts(false);
        if (!office->queryDocuments()) {
            ready = false;
            problem = NoDocumentsText();
        }
    } else {
        problem = NoWordProcessorText();
    }

    const int total = int(std::count_if(files.cbegin(), files.cend(), [](const QFileInfo &file) {
        return IsPrintableDocument(QDir::toNativeSeparators(file.filePath()));
    }));
    int number = 0;
    // Documents whose job is still followed, the documents that did not print and those whose printing
    // could not be confirmed, with the order in which they were tried: a job may end after later
    // documents were tried.
    struct Tried
    {
        int index;
        int number;
        QString path;
    };
    std::map<WordProcessor::Document, Tried> queued;
    std::vector<std::pair<int, QString>> failed;
    std::vector<Tried> unconfirmed;
    std::map<WordProcessor::Document, bool> outcomes;
    auto collect = [&](WordProcessor::Document waitFor) {
        for (const WordProcessor::JobResult &result : office->takeJobResults(waitFor)) {
            const auto it = queued.find(result.document);
            if (it == queued.end())
                continue;
            outcomes[result.document] = result.printed;
            if (result.printed)
                ++printedCount;
            else if (result.unconfirmed)
                unconfirmed.push_back(it->second);
            else
                failed.push_back({it->second.index, it->second.path});
            queued.erase(it);
        }
    };

    for (int i = 0; ready && i < n; ++i) {
        const QString path = QDir::toNativeSeparators(files.at(i).filePath());
        if (!IsPrintableDocument(path))
            continue;
        if (run.aborted())
            break;
        // Before the first document, and again before each one: a printer that stops or starts refusing
        // jobs mid-run ends the run at once; the documents not tried are not listed.
        problem = office->printerProblem();
        if (!problem.isEmpty())
            break;

        emit ShowDisposingFile(path);
        emit DocumentStarted(++number, total, path);
        const WordProcessor::Document document =
            office->open(path, false, false, false, settings.password, settings.password, true);
        bool handedOver = false;
        if (document != WordProcessor::NoDocument) {
            handedOver = office->printOut(document);
            office->close(document, false);
        }
        bool printed = handedOver;
        if (handedOver && office->followsJobs()) {
            queued[document] = {i, number, path};
            // A pause spaces out printed documents: with one, the job is followed to its end first.
            if (settings.delayMs > 0) {
                collect(document);
                const auto outcome = outcomes.find(document);
                printed = outcome != outcomes.end() && outcome->second;
            }
        } else if (handedOver) {
            ++printedCount;
        } else if (!run.aborted()) {
            // A document cut off by an abort did not fail on its own account.
            failed.push_back({i, path});
        }
        collect(WordProcessor::NoDocument);
        if (!printed)
            continue;
        emit ShowDisposingFile(QStringLiteral("延时:") + QString::number(settings.delayMs) +
                               QStringLiteral("毫秒!"));
        run.pause(settings.delayMs);
    }
    // The count and the failure list wait for the jobs still followed; an abort leaves them to print.
    if (ready && !queued.empty() && !run.aborted())
        collect(WordProcessor::AllDocuments);
    // A printer that stopped under the last jobs: the label says why they did not print.
    if (ready && office->followsJobs() && problem.isEmpty() && !failed.empty() && !run.aborted())
        problem = office->printerProblem();

    // Unconfirmed documents go to the list too, marked: the user has to look at the printer for them.
    const int failedCount = int(failed.size());
    for (const Tried &t : unconfirmed)
        failed.push_back({t.index, FailureListUnconfirmedMarker() + t.path});
    std::sort(failed.begin(), failed.end());
    for (const auto &f : failed)
        failedPaths.append(f.second);
    std::sort(unconfirmed.begin(), unconfirmed.end(),
              [](const Tried &a, const Tried &b) { return a.index < b.index; });

    if (created)
        office->quit();
    run.attach(nullptr);
    office.reset();

    const bool aborted = run.aborted();
    if (aborted)
        problem = AbortedText();
    // Nothing below these folders could be seen, let alone printed: they head the list (they were met
    // before any document was tried), each ending in a separator. A run stopped by a problem lists only
    // what it tried.
    if (problem.isEmpty()) {
        QStringList folders;
        for (const QString &folder : unreadableFolders)
            folders.append(QDir::toNativeSeparators(folder) + QDir::separator());
        failedPaths = folders + failedPaths;
    }
    // Written before the count is shown, so that the label can say when it could not be. The list is kept
    // even when the program is ending, but no viewer pops up then.
    const bool listWritten = failedPaths.isEmpty() || WriteFailureList(settings.failureListPath, failedPaths);
    if (!listWritten) {
        if (!problem.isEmpty())
            problem += QLatin1Char(' ');
        problem += FailureListNotWrittenText(settings.failureListPath);
    }
    QString finalText =
        QStringLiteral("成功打印") + QString::number(printedCount) + QStringLiteral("个word文件!");
    if (!unconfirmed.empty())
        finalText += QLatin1Char(' ') + UnconfirmedText(int(unconfirmed.size()));
    if (!problem.isEmpty())
        finalText += QLatin1Char(' ') + problem;
    emit ShowDisposingFile(finalText);
    for (const Tried &t : unconfirmed)
        emit DocumentUnconfirmed(t.number, t.path);
    emit RunFinished(printedCount, failedCount, problem);
    // The window starts the viewer on its own thread. Before the button comes back: a new click deletes
    // the list.
    if (!failedPaths.isEmpty() && listWritten && !aborted)
        emit ShowFailureList(settings.failureListPath);
    emit Set_pBtn_Enable();
}

void ThreadObject::LaunchViewer(const QString &failureListPath)
{
    ViewerLauncher launcher;
    {
        QMutexLocker lock(&viewerMutex);
        launcher = viewerLauncher();
    }
    if (launcher)
        launcher(failureListPath);
    else
        ShowTextFileInViewer(failureListPath);
}
