#include "print/threadobject.h"

#include "platform/fileinfo.h"
#include "platform/filename.h"
#include "platform/fileops.h"
#include "platform/viewer.h"
#include "print/documentoutcome.h"
#include "print/failurelist.h"
#include "print/printjobsettings.h"
#include "print/wordprocessor.h"

#include <QAtomicInt>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QThread>
#include <QWaitCondition>
#include <algorithm>
#include <cstdio>
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
QString NotAnsweringText()
{
    return QStringLiteral("文字处理软件没有响应，其余文档未能处理。");
}
// Why a word processor that broke down cannot go on; empty while it can.
QString BreakdownText(WordProcessor::Breakdown breakdown)
{
    switch (breakdown) {
    case WordProcessor::Breakdown::Unavailable:
        return NoWordProcessorText();
    case WordProcessor::Breakdown::NotAnswering:
        return NotAnsweringText();
    case WordProcessor::Breakdown::None:
        break;
    }
    return QString();
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

QString PrintOptionsUnsupportedText()
{
    return QStringLiteral("所用的文字处理软件不支持所选的打印选项，未能打印。");
}

QString PdfExportUnsupportedText()
{
    return QStringLiteral("所用的文字处理软件不能导出 PDF，未能导出。");
}

// One password to offer, and the line of the passwords it came from (0: none).
struct PasswordTry
{
    QString password;
    int line;
};

// The passwords to offer each document, in order. With a list of them (or when checking) no password is
// offered first: a document that opens so is not encrypted, and no line is said to have opened it. The
// list's own empty line is not offered twice; it is named when a document opens without a password.
std::vector<PasswordTry> PasswordTries(const PrintJobSettingsRecord &settings)
{
    const bool checking = settings.mode == PrintJobSettingsRecord::Mode::Check;
    if (settings.passwords.isEmpty()) {
        if (checking && !settings.password.isEmpty())
            return {{QString(), 0}, {settings.password, 0}};
        return {{settings.password, 0}};
    }
    std::vector<PasswordTry> tries{{QString(), 0}};
    for (int i = 0; i < settings.passwords.size(); ++i) {
        if (settings.passwords.at(i).isEmpty()) {
            if (tries.front().line == 0)
                tries.front().line = i + 1;
        } else {
            tries.push_back({settings.passwords.at(i), i + 1});
        }
    }
    return tries;
}

const char *OpenFailureOutcome(WordProcessor::OpenFailure failure)
{
    switch (failure) {
    case WordProcessor::OpenFailure::WrongPassword:
        return outcome::WrongPassword;
    case WordProcessor::OpenFailure::TimedOut:
        return outcome::TimedOut;
    case WordProcessor::OpenFailure::Damaged:
    case WordProcessor::OpenFailure::Unknown:
        break;
    }
    return outcome::Damaged;
}

// A listed path is taken as discovery would take it: an existing file that passes the document test.
bool IsListedDocument(const QString &path)
{
    bool isFolder = false;
    return QueryPathEntry(EncodeFileName(path).constData(), &isFolder) && !isFolder &&
           ThreadObject::IsPrintableDocument(path);
}

// The PDF of a document: the same path below the PDF folder, with ".pdf" for the Word extension.
QString PdfPathFor(const PrintJobSettingsRecord &settings, const QString &documentPath)
{
    const QString root = QDir::toNativeSeparators(settings.sourcePath);
    QString relative = documentPath;
    if (relative.startsWith(root))
        relative = relative.mid(root.size());
    else
        relative = relative.mid(relative.lastIndexOf(QDir::separator()) + 1);
    relative.truncate(relative.lastIndexOf(QLatin1Char('.')));
    return QDir::toNativeSeparators(settings.pdfFolder) + relative + QStringLiteral(".pdf");
}

// Makes the folders above path that are missing. The names go to the file system as its own bytes.
void MakeFoldersAbove(const QString &path)
{
    const QChar separator = QDir::separator();
    for (int at = path.indexOf(separator, 1); at > 0; at = path.indexOf(separator, at + 1)) {
        const QByteArray folder = EncodeFileName(path.left(at));
        bool isFolder = false;
        if (!QueryPathEntry(folder.constData(), &isFolder))
            MakeFolder(folder.constData());
    }
}

// The office writes the PDF beside its place under a name of its own, which is then renamed into place:
// no half-written PDF ever carries the document's name, and one that appeared meanwhile is kept unless
// overwriting was asked for.
bool ExportPdf(WordProcessor &office, WordProcessor::Document document, const QString &pdfPath,
               bool overwrite)
{
    static QAtomicInt counter;
    MakeFoldersAbove(pdfPath);
    const int slash = pdfPath.lastIndexOf(QDir::separator());
    const QString temporary = pdfPath.left(slash + 1) + QStringLiteral(".quillmark-%1-%2.pdf.part")
                                                            .arg(CurrentProcessNumber())
                                                            .arg(counter.fetchAndAddRelaxed(1));
    const QByteArray temporaryBytes = EncodeFileName(temporary);
    const QByteArray targetBytes = EncodeFileName(pdfPath);
    bool placed = office.exportPdf(document, temporary);
    if (placed) {
        placed = overwrite ? ReplaceFileWith(temporaryBytes.constData(), targetBytes.constData())
                           : MoveFileNoReplace(temporaryBytes.constData(), targetBytes.constData());
    }
    if (!placed)
        std::remove(temporaryBytes.constData());
    return placed;
}

} // namespace

ThreadObject::ThreadObject(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<DocumentOutcome>();
}

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
    using Mode = PrintJobSettingsRecord::Mode;
    // A copy: the window may rewrite the record once the button is enabled again, before this run is over.
    const PrintJobSettingsRecord settings = PrintJobSettings;
    const bool printing = settings.mode == Mode::Print;
    QStringList failedPaths; // in the order they were met; folders that could not be read end in a separator
    int printedCount = 0;    // printed, exported, or (when checking) opened
    QString problem;         // why the run printed less than it could; shown after the count

    RunRegistration run; // from here on AbortRuns reaches this run
    QStringList unreadableFolders;
    QStringList paths; // the documents to take, in order
    if (settings.useDocumentList) {
        paths = settings.documentList;
    } else {
        for (const QFileInfo &file : ListFilesRecursively(settings.sourcePath, &unreadableFolders,
                                                          [&run] { return run.aborted(); })) {
            const QString path = QDir::toNativeSeparators(file.filePath());
            if (IsPrintableDocument(path))
                paths.append(path);
        }
    }
    const int total = paths.size();

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
        } else if (!settings.printOptions.isDefault() && !office->setPrintOptions(settings.printOptions)) {
            ready = false;
            problem = PrintOptionsUnsupportedText();
        } else if (settings.mode == Mode::ExportPdf && !office->exportsPdf()) {
            ready = false;
            problem = PdfExportUnsupportedText();
        }
    } else {
        problem = NoWordProcessorText();
    }
    const std::vector<PasswordTry> tries = PasswordTries(settings);

    // Documents whose job is still followed, the documents that did not print and those whose printing
    // could not be confirmed, with the order in which they were tried: a job may end after later
    // documents were tried.
    struct Pending
    {
        int index;
        DocumentOutcome outcome;
        QElapsedTimer clock;
    };
    std::map<WordProcessor::Document, Pending> queued;
    std::vector<std::pair<int, QString>> failed;
    std::vector<Pending> unconfirmed;
    std::map<WordProcessor::Document, bool> outcomes;
    auto finish = [&](DocumentOutcome result, const QElapsedTimer &clock, const char *what) {
        result.outcome = QString::fromLatin1(what);
        result.seconds = clock.isValid() ? double(clock.nsecsElapsed()) / 1e9 : 0.0;
        emit DocumentFinished(result);
    };
    auto collect = [&](WordProcessor::Document waitFor) {
        for (const WordProcessor::JobResult &result : office->takeJobResults(waitFor)) {
            const auto it = queued.find(result.document);
            if (it == queued.end())
                continue;
            outcomes[result.document] = result.printed;
            Pending &pending = it->second;
            pending.outcome.jobId = result.jobId;
            if (result.printed) {
                ++printedCount;
            } else if (result.unconfirmed) {
                unconfirmed.push_back(pending);
            } else {
                failed.push_back({pending.index, pending.outcome.path});
            }
            finish(pending.outcome, pending.clock,
                   result.printed ? outcome::Printed
                                  : (result.unconfirmed ? outcome::Unconfirmed : outcome::PrinterError));
            queued.erase(it);
        }
    };

    QSet<QString> pdfsMade;
    int index = 0;
    for (; ready && index < total; ++index) {
        const QString &path = paths.at(index);
        DocumentOutcome result;
        result.number = index + 1;
        result.total = total;
        result.path = path;
        if (run.aborted())
            break;
        // A word processor that broke down over the last document takes no further one.
        problem = BreakdownText(office->breakdown());
        if (!problem.isEmpty())
            break;
        // A listed name that is gone, or is no document, is not tried.
        if (settings.useDocumentList && !IsListedDocument(path)) {
            finish(result, QElapsedTimer(), outcome::NotTried);
            continue;
        }
        // Before the first document, and again before each one: a printer that stops or starts refusing
        // jobs mid-run ends the run at once; the documents not tried are not listed.
        if (printing) {
            problem = office->printerProblem();
            if (!problem.isEmpty())
                break;
        }
        QString pdfPath;
        if (settings.mode == Mode::ExportPdf) {
            pdfPath = PdfPathFor(settings, path);
            // Looked at before the document is opened: a PDF that stays as it is needs no office. a.doc
            // and a.docx share a PDF name: the second never replaces what this run made of the first.
            const bool madeByThisRun = pdfsMade.contains(pdfPath);
            if (madeByThisRun ||
                (!settings.overwritePdf && QueryPathEntry(EncodeFileName(pdfPath).constData(), nullptr))) {
                finish(result, QElapsedTimer(), outcome::SkippedExisting);
                continue;
            }
        }

        emit ShowDisposingFile(path);
        emit DocumentStarted(index + 1, total, path);
        QElapsedTimer clock;
        clock.start();
        WordProcessor::Document document = WordProcessor::NoDocument;
        WordProcessor::OpenFailure failure = WordProcessor::OpenFailure::Unknown;
        for (const PasswordTry &attempt : tries) {
            if (run.aborted())
                break;
            document = office->open(path, false, false, false, attempt.password, attempt.password, true);
            if (document != WordProcessor::NoDocument) {
                result.passwordLine = attempt.line;
                result.encrypted = !attempt.password.isEmpty();
                break;
            }
            failure = office->lastOpenFailure();
            if (office->breakdown() != WordProcessor::Breakdown::None)
                break;
            // Another password cannot mend a damaged file, and would only hang the office again.
            if (failure != WordProcessor::OpenFailure::Unknown &&
                failure != WordProcessor::OpenFailure::WrongPassword)
                break;
        }
        if (document == WordProcessor::NoDocument) {
            // A document cut off by an abort did not fail on its own account.
            if (run.aborted())
                break;
            const WordProcessor::Breakdown breakdown = office->breakdown();
            // The office died and none could take its place: the document was never really tried.
            if (breakdown == WordProcessor::Breakdown::Unavailable) {
                problem = BreakdownText(breakdown);
                break;
            }
            if (breakdown == WordProcessor::Breakdown::NotAnswering)
                failure = WordProcessor::OpenFailure::TimedOut;
            failed.push_back({index, path});
            finish(result, clock, OpenFailureOutcome(failure));
            continue;
        }

        if (settings.mode == Mode::Check) {
            office->close(document, false);
            ++printedCount;
            finish(result, clock, outcome::Opens);
            continue;
        }
        // The page count after the work: the document is laid out by then.
        if (settings.mode == Mode::ExportPdf) {
            const bool exported = ExportPdf(*office, document, pdfPath, settings.overwritePdf);
            if (exported)
                pdfsMade.insert(pdfPath);
            result.pages = office->pageCount(document);
            office->close(document, false);
            if (exported) {
                ++printedCount;
            } else if (!run.aborted()) {
                failed.push_back({index, path});
            }
            finish(result, clock, exported ? outcome::Exported : outcome::ExportFailed);
            continue;
        }

        const bool handedOver = office->printOut(document);
        result.pages = office->pageCount(document);
        office->close(document, false);
        bool printed = handedOver;
        if (handedOver && office->followsJobs()) {
            queued[document] = {index, result, clock};
            // A pause spaces out printed documents: with one, the job is followed to its end first.
            if (settings.delayMs > 0) {
                collect(document);
                const auto outcome = outcomes.find(document);
                printed = outcome != outcomes.end() && outcome->second;
            }
        } else if (handedOver) {
            ++printedCount;
            finish(result, clock, outcome::Printed);
        } else if (office->breakdown() == WordProcessor::Breakdown::NotAnswering) {
            // The print call never came back: a job may have got out.
            unconfirmed.push_back({index, result, clock});
            finish(result, clock, outcome::Unconfirmed);
        } else if (!run.aborted()) {
            failed.push_back({index, path});
            finish(result, clock, outcome::PrinterError);
        } else {
            // Cut off by the abort: whether a job got out is not known.
            unconfirmed.push_back({index, result, clock});
            finish(result, clock, outcome::Unconfirmed);
        }
        collect(WordProcessor::NoDocument);
        if (!printed)
            continue;
        emit ShowDisposingFile(QStringLiteral("延时:") + QString::number(settings.delayMs) +
                               QStringLiteral("毫秒!"));
        run.pause(settings.delayMs);
    }
    if (ready && problem.isEmpty() && !run.aborted())
        problem = BreakdownText(office->breakdown());
    // The count and the failure list wait for the jobs still followed; an abort leaves them to print.
    if (ready && !queued.empty() && !run.aborted())
        collect(WordProcessor::AllDocuments);
    // A printer that stopped under the last jobs: the label says why they did not print.
    if (ready && printing && office->followsJobs() && problem.isEmpty() && !failed.empty() && !run.aborted())
        problem = office->printerProblem();
    // Jobs left in the queue at an abort print or not without us: the user has to look at the printer.
    for (const auto &entry : queued) {
        unconfirmed.push_back(entry.second);
        finish(entry.second.outcome, entry.second.clock, outcome::Unconfirmed);
    }
    queued.clear();
    // What the run did not come to, so that a report names every document.
    for (int rest = ready ? index : 0; rest < total; ++rest) {
        DocumentOutcome untried;
        untried.number = rest + 1;
        untried.total = total;
        untried.path = paths.at(rest);
        finish(untried, QElapsedTimer(), outcome::NotTried);
    }

    // Unconfirmed documents go to the list too, marked: the user has to look at the printer for them.
    const int failedCount = int(failed.size());
    for (const Pending &t : unconfirmed)
        failed.push_back({t.index, FailureListUnconfirmedMarker() + t.outcome.path});
    std::sort(failed.begin(), failed.end());
    for (const auto &f : failed)
        failedPaths.append(f.second);
    std::sort(unconfirmed.begin(), unconfirmed.end(),
              [](const Pending &a, const Pending &b) { return a.index < b.index; });

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
    // A check leaves the folder as it found it.
    if (settings.mode == Mode::Check)
        failedPaths.clear();
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
    for (const Pending &t : unconfirmed)
        emit DocumentUnconfirmed(t.outcome.number, t.outcome.path);
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
