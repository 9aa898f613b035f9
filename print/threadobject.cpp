#include "print/threadobject.h"

#include "platform/filename.h"
#include "platform/fileops.h"
#include "platform/viewer.h"
#include "print/documentoutcome.h"
#include "print/failurelist.h"
#include "print/jobbook.h"
#include "print/pagerange.h"
#include "print/pdfexport.h"
#include "print/printjobsettings.h"
#include "print/runcontrol.h"
#include "print/runtexts.h"
#include "print/wordprocessor.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <memory>
#include <vector>

namespace {

QMutex viewerMutex;
ThreadObject::ViewerLauncher &viewerLauncher()
{
    static ThreadObject::ViewerLauncher launcher;
    return launcher;
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

// The file as it is when it is tried, so that a later run can tell whether it changed since.
void NoteFileState(DocumentOutcome &result)
{
    const QFileInfo info(result.path);
    if (!info.exists())
        return;
    result.size = info.size();
    result.modifiedMs = info.lastModified().toMSecsSinceEpoch();
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
    RunRegistration::AbortAll();
}

bool ThreadObject::TakesListedDocument(const QString &path, const QString &root)
{
    if (!IsPrintableDocument(path) || QueryEntryNoFollow(EncodeFileName(path).constData()) != EntryKind::File)
        return false;
    if (!path.startsWith(root))
        return false;
    // The scan enters no hidden folder (it does enter folder links, and so may a list).
    const QStringList folders = path.mid(root.size()).split(QDir::separator());
    QString folder = root;
    for (int i = 0; i + 1 < folders.size(); ++i) {
        folder += folders.at(i);
        if (folders.at(i).isEmpty() || QFileInfo(folder).isHidden())
            return false;
        folder += QDir::separator();
    }
    return true;
}

void ThreadObject::ReplaceExcelText()
{
    using Mode = PrintJobSettingsRecord::Mode;
    // A copy: the window may rewrite the record once the button is enabled again, before this run is over.
    const PrintJobSettingsRecord settings = PrintJobSettings;
    const bool printing = settings.mode == Mode::Print;
    const RunTexts texts(settings.mode);
    const QString root = QDir::toNativeSeparators(settings.sourcePath);
    QString problem; // why the run printed less than it could; shown after the count

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
    std::unique_ptr<PdfExporter> exporter;
    bool ready = created;
    if (created) {
        office->setVisible(false);
        office->setDisplayAlerts(false);
        if (!office->queryDocuments()) {
            ready = false;
            problem = texts.noDocuments();
        } else if (!settings.printOptions.isDefault() && !office->setPrintOptions(settings.printOptions)) {
            ready = false;
            problem = texts.printOptionsUnsupported();
        } else if (settings.mode == Mode::ExportPdf && !office->exportsPdf()) {
            ready = false;
            problem = texts.pdfExportUnsupported();
        } else if (settings.mode == Mode::ExportPdf) {
            exporter = std::make_unique<PdfExporter>(settings);
            ready = exporter->ready();
            if (!ready)
                problem = texts.noTemporaryFolder();
        }
    } else {
        problem = texts.noWordProcessor();
    }
    const std::vector<PasswordTry> tries = PasswordTries(settings);
    const QString &range = settings.printOptions.pages;
    const int copies = printing ? settings.printOptions.copies : 1;

    auto finish = [this](DocumentOutcome result, const QElapsedTimer &clock, const char *what) {
        result.outcome = QString::fromLatin1(what);
        result.seconds = clock.isValid() ? double(clock.nsecsElapsed()) / 1e9 : 0.0;
        emit DocumentFinished(result);
    };
    JobBook jobs(finish);

    int index = 0;
    for (; ready && index < total; ++index) {
        JobBook::Entry entry{index, DocumentOutcome(), QElapsedTimer()};
        DocumentOutcome &result = entry.outcome;
        result.number = index + 1;
        result.total = total;
        result.path = paths.at(index);
        if (run.aborted())
            break;
        // A word processor that broke down over the last document takes no further one.
        problem = texts.breakdown(office->breakdown());
        if (!problem.isEmpty())
            break;
        // A listed name that is gone, or that the scan would not take, is not tried.
        if (settings.useDocumentList && !TakesListedDocument(result.path, root)) {
            finish(result, QElapsedTimer(), outcome::NotTried);
            continue;
        }
        NoteFileState(result);
        // Before the first document, and again before each one: a printer that stops or starts refusing
        // jobs mid-run ends the run at once.
        if (printing) {
            problem = office->printerProblem();
            if (!problem.isEmpty())
                break;
        }
        // A PDF that stays as it is needs no office.
        if (exporter && exporter->keeps(result.path)) {
            finish(result, QElapsedTimer(), outcome::SkippedExisting);
            continue;
        }

        const QString &path = result.path;
        emit ShowDisposingFile(path);
        emit DocumentStarted(index + 1, total, path);
        entry.clock.start();
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
                problem = texts.breakdown(breakdown);
                break;
            }
            if (breakdown == WordProcessor::Breakdown::NotAnswering)
                failure = WordProcessor::OpenFailure::TimedOut;
            jobs.failed(entry, OpenFailureOutcome(failure));
            continue;
        }

        if (settings.mode == Mode::Check) {
            office->close(document, false);
            jobs.done(entry, outcome::Opens);
            continue;
        }
        // A range past the document's end selects nothing: there is nothing to send, and no job to wait for.
        int selected = -1;
        if (!range.isEmpty()) {
            const int pageCount = office->pageCount(document);
            if (pageCount >= 0)
                selected = PagesSelected(range, pageCount);
            if (selected == 0) {
                office->close(document, false);
                result.pages = 0;
                finish(result, entry.clock, outcome::NoPages);
                continue;
            }
        }

        if (exporter) {
            const PdfExporter::Result exported = exporter->exportDocument(*office, document, path);
            // The page count after the work: the document is laid out by then.
            result.pages = selected >= 0 ? selected : (range.isEmpty() ? office->pageCount(document) : -1);
            office->close(document, false);
            if (exported == PdfExporter::Result::Exported) {
                jobs.done(entry, outcome::Exported);
            } else if (run.aborted()) {
                break; // cut off on the way: nothing of it was written, it counts as not tried
            } else if (exported == PdfExporter::Result::Kept) {
                result.pages = -1;
                finish(result, entry.clock, outcome::SkippedExisting);
            } else {
                result.pages = -1;
                jobs.failed(entry, outcome::ExportFailed);
            }
            continue;
        }

        const bool handedOver = office->printOut(document);
        const int pageCount = selected >= 0 ? selected : (range.isEmpty() ? office->pageCount(document) : -1);
        result.pages = pageCount >= 0 ? pageCount * copies : -1;
        office->close(document, false);
        bool printed = handedOver;
        if (handedOver && office->followsJobs()) {
            jobs.queue(document, entry);
            // A pause spaces out printed documents: with one, the job is followed to its end first.
            if (settings.delayMs > 0) {
                jobs.collect(*office, document);
                printed = jobs.printed(document);
            }
        } else if (handedOver) {
            jobs.done(entry, outcome::Printed);
        } else if (office->breakdown() == WordProcessor::Breakdown::NotAnswering || run.aborted()) {
            // The print call never came back, or was cut off by the abort: a job may have got out.
            jobs.unconfirmed(entry);
        } else {
            jobs.failed(entry, outcome::PrinterError);
        }
        jobs.collect(*office, WordProcessor::NoDocument);
        if (!printed)
            continue;
        emit ShowDisposingFile(QStringLiteral("延时:") + QString::number(settings.delayMs) +
                               QStringLiteral("毫秒!"));
        run.pause(settings.delayMs);
    }
    if (ready && problem.isEmpty() && !run.aborted())
        problem = texts.breakdown(office->breakdown());
    // The count and the failure list wait for the jobs still followed; an abort leaves them to print.
    if (ready && jobs.anyQueued() && !run.aborted())
        jobs.collect(*office, WordProcessor::AllDocuments);
    // A printer that stopped under the last jobs: the label says why they did not print.
    if (ready && printing && office->followsJobs() && problem.isEmpty() && jobs.failedCount() > 0 &&
        !run.aborted())
        problem = office->printerProblem();
    // Jobs left in the queue at an abort print or not without us: the user has to look at the printer.
    jobs.abandonQueued();
    // What the run did not come to, so that a report names every document.
    for (int rest = ready ? index : 0; rest < total; ++rest) {
        DocumentOutcome untried;
        untried.number = rest + 1;
        untried.total = total;
        untried.path = paths.at(rest);
        finish(untried, QElapsedTimer(), outcome::NotTried);
    }

    exporter.reset();
    if (created)
        office->quit();
    run.attach(nullptr);
    office.reset();

    const bool aborted = run.aborted();
    if (aborted)
        problem = texts.aborted();
    QStringList failedPaths = jobs.failureLines();
    // Nothing below these folders could be seen, let alone printed: they head the list (they were met
    // before any document was tried), each ending in a separator. A run stopped by a problem lists only
    // what it tried.
    if (problem.isEmpty() && !unreadableFolders.isEmpty()) {
        QStringList folders;
        for (const QString &folder : unreadableFolders)
            folders.append(QDir::toNativeSeparators(folder) + QDir::separator());
        failedPaths = folders + failedPaths;
        emit UnreadableFolders(folders);
    }
    // A check leaves the folder as it found it; a run without a list path leaves the list to its caller.
    if (settings.mode == Mode::Check || settings.failureListPath.isEmpty())
        failedPaths.clear();
    // Written before the count is shown, so that the label can say when it could not be. The list is kept
    // even when the program is ending, but no viewer pops up then.
    const bool listWritten = failedPaths.isEmpty() || WriteFailureList(settings.failureListPath, failedPaths);
    if (!listWritten) {
        if (!problem.isEmpty())
            problem += QLatin1Char(' ');
        problem += RunTexts::failureListNotWritten(settings.failureListPath);
    }
    QString finalText =
        QStringLiteral("成功打印") + QString::number(jobs.doneCount()) + QStringLiteral("个word文件!");
    if (jobs.unconfirmedCount() > 0)
        finalText += QLatin1Char(' ') + texts.unconfirmed(jobs.unconfirmedCount());
    if (!problem.isEmpty())
        finalText += QLatin1Char(' ') + problem;
    emit ShowDisposingFile(finalText);
    for (const auto &document : jobs.unconfirmedDocuments())
        emit DocumentUnconfirmed(document.first, document.second);
    emit RunFinished(jobs.doneCount(), jobs.failedCount(), problem);
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
