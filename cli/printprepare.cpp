#include "cli/printprepare.h"

#include "cli/batchrun.h"
#include "cli/printinputs.h"
#include "platform/filename.h"
#include "platform/printerchoice.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

const char kFailureListName[] = "无法设置或修改密码的文件目录.txt";
const char kPdfFailureListName[] = "无法导出PDF的文件目录.txt";

namespace {

QString FolderPath(const QString &path)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return clean.endsWith(QLatin1Char('/')) ? clean : clean + QLatin1Char('/');
}

} // namespace

int PrepareRun(const PrintCommand &command, const QString &password, const QStringList &passwords,
               QTextStream &err, PreparedRun *run)
{
    using Mode = PrintJobSettingsRecord::Mode;
    const QFileInfo folderInfo(command.folder);
    if (command.folder.isEmpty() || !folderInfo.isDir()) {
        err << QStringLiteral("文件夹不存在：%1").arg(command.folder) << Qt::endl;
        return kPrintExitNothingPrinted;
    }
    // As the window hands it over: the folder ends in "/", the failure list sits inside it.
    const QString folder = FolderPath(command.folder);
    PrintJobSettingsRecord &settings = run->setup.settings;
    settings = PrintJobSettingsRecord();
    if (!command.fromList.isEmpty()) {
        QFile list(command.fromList);
        QString error;
        if (!list.open(QIODevice::ReadOnly)) {
            err << QStringLiteral("无法读取文档列表：%1").arg(command.fromList) << Qt::endl;
            return kPrintExitNothingPrinted;
        }
        if (!ParseDocumentList(command.fromList, list.readAll(), folder, &settings.documentList, &error)) {
            err << error << Qt::endl;
            return kPrintExitNothingPrinted;
        }
        settings.useDocumentList = true;
    }
    if (!command.reportPath.isEmpty()) {
        const QString reportPath = QFileInfo(command.reportPath).absoluteFilePath();
        const QFileInfo reportFolder(QFileInfo(reportPath).absolutePath());
        if (!reportFolder.isDir()) {
            err << QStringLiteral("报告所在的文件夹不存在：%1").arg(command.reportPath) << Qt::endl;
            return kPrintExitNothingPrinted;
        }
        run->report = std::make_unique<PrintReport>(reportPath, !command.passwordsFile.isEmpty());
        QString error;
        if (!run->report->open(&error)) {
            err << error << Qt::endl;
            return kPrintExitNothingPrinted;
        }
    }
    if (command.pdfFolder.isEmpty() && !command.check && !command.printer.isEmpty()) {
        std::string problem;
        if (!UsePrinterForThisProcess(command.printer.toStdString(), &problem)) {
            err << QString::fromStdString(problem) << Qt::endl;
            return kPrintExitNothingPrinted;
        }
    }
    if (!command.doneFolder.isEmpty()) {
        const QString done = FolderPath(command.doneFolder);
        // Documents moved there would be found again by the next scan.
        if (done.startsWith(folder) || folder.startsWith(done)) {
            err << QStringLiteral("完成文件夹不能在所处理的文件夹之内，也不能包含它：%1")
                       .arg(command.doneFolder)
                << Qt::endl;
            return kPrintExitNothingPrinted;
        }
        if (!QDir().mkpath(done)) {
            err << QStringLiteral("无法创建完成文件夹：%1").arg(command.doneFolder) << Qt::endl;
            return kPrintExitNothingPrinted;
        }
        run->setup.doneFolder = done;
    }
    if (!command.pdfFolder.isEmpty()) {
        const QString pdfFolder = QDir::cleanPath(QFileInfo(command.pdfFolder).absoluteFilePath());
        if (!QDir().mkpath(pdfFolder) || !QFileInfo(pdfFolder).isDir()) {
            err << QStringLiteral("无法创建 PDF 文件夹：%1").arg(command.pdfFolder) << Qt::endl;
            return kPrintExitNothingPrinted;
        }
        settings.mode = Mode::ExportPdf;
        settings.pdfFolder = pdfFolder.endsWith(QLatin1Char('/')) ? pdfFolder : pdfFolder + QLatin1Char('/');
        settings.overwritePdf = command.overwrite;
    } else if (command.check) {
        settings.mode = Mode::Check;
    }
    if ((command.newOnly || command.watch) && !run->report) {
        err << QStringLiteral("--new-only 与 --watch 需要 --report 文件（记录已完成的文档）。") << Qt::endl;
        return kPrintExitNothingPrinted;
    }
    if (command.newOnly || command.watch) {
        run->ledger = std::make_unique<PrintLedger>(PrintLedger::PathFor(run->report->path()));
        QString error;
        if (!run->ledger->open(&error)) {
            err << error << Qt::endl;
            return kPrintExitNothingPrinted;
        }
        for (const ReportRow &row : run->report->earlierRows())
            run->records.insert(row.path, {row.outcome, row.size, row.modifiedMs});
        const QHash<QString, PrintLedger::Entry> entries = run->ledger->entries();
        for (auto it = entries.constBegin(); it != entries.constEnd(); ++it)
            run->records.insert(it.key(), it.value());
    }
    settings.sourcePath = folder;
    settings.password = password;
    settings.passwords = passwords;
    settings.delayMs = command.delayMs;
    settings.printOptions = command.printOptions;
    // The command line keeps the failure list itself (a check keeps none).
    settings.failureListPath.clear();
    RunSetup &setup = run->setup;
    setup.quiet = command.quiet;
    setup.passwordLines = !command.passwordsFile.isEmpty();
    if (settings.mode != Mode::Check)
        setup.failureListPath =
            folder +
            QString::fromUtf8(settings.mode == Mode::ExportPdf ? kPdfFailureListName : kFailureListName);
    setup.wholeFolder = !settings.useDocumentList && !command.newOnly && !command.watch;
    setup.report = run->report.get();
    setup.ledger = run->ledger.get();
    return -1;
}

void ConnectAccount(BatchRun &batch, RunAccount &account)
{
    QObject::connect(
        &batch, &BatchRun::documentStarted,
        [&account](int number, int total, const QString &path) { account.started(number, total, path); });
    QObject::connect(&batch, &BatchRun::documentFinished,
                     [&account](const DocumentOutcome &result) { account.finished(result); });
    QObject::connect(&batch, &BatchRun::unreadableFolders,
                     [&account](const QStringList &folders) { account.unreadable(folders); });
    QObject::connect(&batch, &BatchRun::runFinished,
                     [&account](int done, int failed, const QString &problem) {
                         account.runFinished(done, failed, problem);
                     });
}

void KeepLedger(BatchRun &batch, const PreparedRun &run)
{
    PrintLedger *ledger = run.ledger.get();
    if (!ledger)
        return;
    const QString root = QDir::toNativeSeparators(run.setup.settings.sourcePath);
    batch.setHooks(
        [ledger, root](const QString &path) {
            const QFileInfo info(path);
            ledger->started(RunAccount::Relative(path, root), info.size(),
                            info.lastModified().toMSecsSinceEpoch());
        },
        [ledger, root](const DocumentOutcome &result) {
            ledger->finished(RunAccount::Relative(result.path, root),
                             {result.outcome, result.size, result.modifiedMs});
        });
}

void TellUnfinished(PreparedRun &run, RunAccount &account)
{
    if (!run.ledger)
        return;
    const QString root = QDir::toNativeSeparators(run.setup.settings.sourcePath);
    QStringList unfinished;
    const QHash<QString, PrintLedger::Entry> entries = run.ledger->entries();
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
        if (it->outcome == QLatin1String(PrintLedger::Started))
            unfinished.append(it.key());
    }
    unfinished.sort();
    int number = -unfinished.size();
    for (const QString &relative : unfinished) {
        PrintLedger::Entry entry = entries.value(relative);
        entry.outcome = QString::fromLatin1(outcome::Unconfirmed);
        run.ledger->record(relative, entry);
        run.records.insert(relative, entry);
        DocumentOutcome result;
        result.number = number++;
        result.path = root + QDir::toNativeSeparators(relative);
        result.outcome = entry.outcome;
        result.size = entry.size;
        result.modifiedMs = entry.modifiedMs;
        account.finished(result);
    }
}
