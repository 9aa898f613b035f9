#include "cli/printcli.h"

#include "cli/printinputs.h"
#include "cli/printreport.h"
#include "platform/brokenpipe.h"
#include "platform/fileinfo.h"
#include "platform/filename.h"
#include "platform/localcodec.h"
#include "platform/printerchoice.h"
#include "platform/secretinput.h"
#include "platform/termsignal.h"
#include "print/printjobsettings.h"
#include "print/threadobject.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

const QString FailureListName = QStringLiteral("无法设置或修改密码的文件目录.txt");
const char PasswordVariable[] = "QUILLMARK_PASSWORD";

// How often an interrupted run is told again to stop: a run that had not registered yet when the
// signal came is reached by the next call.
constexpr unsigned long kAbortRepeatMs = 100;

// The first line of the file, without its line end.
bool ReadPasswordFile(const QString &path, QString *password)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray line = file.readLine();
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    *password = QString::fromLocal8Bit(line);
    return true;
}

// An existing file that passes the document test, as a listed document must be to be tried.
bool IsDocumentFile(const QString &path)
{
    bool isFolder = false;
    return QueryPathEntry(EncodeFileName(path).constData(), &isFolder) && !isFolder &&
           ThreadObject::IsPrintableDocument(path);
}

// What a line of its own says of a document.
QString OutcomeNote(const DocumentOutcome &result, bool passwordLines)
{
    const QString &what = result.outcome;
    if (what == QLatin1String(outcome::Opens)) {
        if (!result.encrypted)
            return QStringLiteral("可以打开");
        if (passwordLines && result.passwordLine > 0)
            return QStringLiteral("可以打开（已加密，密码文件第 %1 行）").arg(result.passwordLine);
        return QStringLiteral("可以打开（已加密）");
    }
    if (what == QLatin1String(outcome::WrongPassword))
        return QStringLiteral("需要密码，所给的密码都打不开");
    if (what == QLatin1String(outcome::Damaged))
        return QStringLiteral("已损坏或不是 Word 文档");
    if (what == QLatin1String(outcome::TimedOut))
        return QStringLiteral("超时，文字处理软件已被结束");
    if (what == QLatin1String(outcome::NotTried))
        return QStringLiteral("文件不存在或不是 Word 文档，未尝试");
    if (what == QLatin1String(outcome::SkippedExisting))
        return QStringLiteral("PDF 已存在，未覆盖");
    return what;
}

} // namespace

int ExecutePrintCommand(const PrintCommand &command, const QString &password, QTextStream &out,
                        QTextStream &err)
{
    return ExecutePrintCommand(command, password, QStringList(), out, err);
}

int ExecutePrintCommand(const PrintCommand &command, const QString &password, const QStringList &passwords,
                        QTextStream &out, QTextStream &err)
{
    using Mode = PrintJobSettingsRecord::Mode;
    const QFileInfo folderInfo(command.folder);
    if (command.folder.isEmpty() || !folderInfo.isDir()) {
        err << QStringLiteral("文件夹不存在：%1").arg(command.folder) << Qt::endl;
        return kPrintExitNothingPrinted;
    }
    // As the window hands it over: the folder ends in "/", the failure list sits inside it.
    QString folder = QDir::cleanPath(folderInfo.absoluteFilePath());
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');

    // Everything the user gave is looked at before the office starts or anything is written.
    PrintJobSettingsRecord settings;
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
    const QString reportPath =
        command.reportPath.isEmpty() ? QString() : QFileInfo(command.reportPath).absoluteFilePath();
    if (!reportPath.isEmpty() && !QFileInfo(reportPath).absoluteDir().exists()) {
        err << QStringLiteral("报告所在的文件夹不存在：%1").arg(command.reportPath) << Qt::endl;
        return kPrintExitNothingPrinted;
    }
    if (command.pdfFolder.isEmpty() && !command.check && !command.printer.isEmpty()) {
        std::string problem;
        if (!UsePrinterForThisProcess(command.printer.toStdString(), &problem)) {
            err << QString::fromStdString(problem) << Qt::endl;
            return kPrintExitNothingPrinted;
        }
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
    std::unique_ptr<PrintReport> report;
    if (!reportPath.isEmpty()) {
        report = std::make_unique<PrintReport>(reportPath, !command.passwordsFile.isEmpty());
        if (!report->write()) {
            err << QStringLiteral("无法写入报告：%1").arg(command.reportPath) << Qt::endl;
            return kPrintExitNothingPrinted;
        }
    }
    settings.sourcePath = folder;
    settings.password = password;
    settings.passwords = passwords;
    settings.delayMs = command.delayMs;
    settings.failureListPath = folder + FailureListName;
    settings.printOptions = command.printOptions;
    PrintJobSettings = settings;
    // An earlier run's list would be taken for this run's.
    QFile::remove(PrintJobSettings.failureListPath);
    ThreadObject::SetViewerLauncher([](const QString &) {});

    QuitOnTerminationSignals();
    QEventLoop loop;
    QThread thread;
    auto *worker = new ThreadObject;
    worker->moveToThread(&thread);
    const QDir root(folder);
    const QString nativeRoot = QDir::toNativeSeparators(folder);
    const auto relative = [&](const QString &path) {
        return path.startsWith(nativeRoot) ? path.mid(nativeRoot.size()) : path;
    };
    int total = 0, printed = 0, failed = 0, encrypted = 0, skipped = 0, notTried = 0;
    QString problem;
    QStringList unconfirmed; // relative paths, in the order tried
    bool finished = false;
    bool reportWritten = true;
    const bool checking = settings.mode == Mode::Check;
    QObject::connect(worker, &ThreadObject::DocumentStarted, &loop,
                     [&](int number, int documents, const QString &path) {
                         total = documents;
                         // A check says what it found on one line, once it knows.
                         if (!command.quiet && !checking)
                             out << QStringLiteral("[%1/%2] %3")
                                        .arg(number)
                                        .arg(documents)
                                        .arg(QDir::toNativeSeparators(root.relativeFilePath(path)))
                                 << Qt::endl;
                     });
    QObject::connect(worker, &ThreadObject::DocumentFinished, &loop, [&](const DocumentOutcome &result) {
        if (result.encrypted && result.outcome == QLatin1String(outcome::Opens))
            ++encrypted;
        if (result.outcome == QLatin1String(outcome::SkippedExisting))
            ++skipped;
        // Listed documents that are gone; those the run did not come to (stopped, interrupted) are only in
        // the report.
        const bool gone = result.outcome == QLatin1String(outcome::NotTried) && settings.useDocumentList &&
                          !IsDocumentFile(result.path);
        if (gone)
            ++notTried;
        const bool tell = gone || result.outcome == QLatin1String(outcome::SkippedExisting) ||
                          (checking && result.outcome != QLatin1String(outcome::NotTried));
        if (!command.quiet && tell)
            out << QStringLiteral("[%1/%2] %3：%4")
                       .arg(result.number)
                       .arg(result.total)
                       .arg(QDir::toNativeSeparators(root.relativeFilePath(result.path)),
                            OutcomeNote(result, !command.passwordsFile.isEmpty()))
                << Qt::endl;
        if (report) {
            ReportRow row;
            row.path = QDir::fromNativeSeparators(relative(result.path));
            row.outcome = result.outcome;
            row.passwordLine = result.passwordLine;
            row.jobId = result.jobId;
            row.pages = result.pages;
            row.seconds = result.seconds;
            reportWritten = report->add(result.number, row) && reportWritten;
        }
    });
    QObject::connect(worker, &ThreadObject::DocumentUnconfirmed, &loop, [&](int, const QString &path) {
        unconfirmed << QDir::toNativeSeparators(root.relativeFilePath(path));
    });
    QObject::connect(worker, &ThreadObject::RunFinished, &loop,
                     [&](int printedCount, int failedCount, const QString &reason) {
                         printed = printedCount;
                         failed = failedCount;
                         problem = reason;
                     });
    QObject::connect(&thread, &QThread::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    thread.start();
    QMetaObject::invokeMethod(
        worker,
        [worker, &thread] {
            worker->ReplaceExcelText();
            thread.quit();
        },
        Qt::QueuedConnection);
    loop.exec();

    const bool interrupted = !finished;
    if (interrupted) {
        // Documents already queued are left to print; the office goes at once.
        do
            ThreadObject::AbortRuns();
        while (!thread.wait(kAbortRepeatMs));
        // Outcomes still on their way belong in the report.
        QCoreApplication::sendPostedEvents(&loop);
    }
    delete worker;
    if (report)
        reportWritten = report->flush() && reportWritten;

    const bool listed = failed > 0 || !unconfirmed.isEmpty();
    const bool listWritten = listed && !checking && QFileInfo(PrintJobSettings.failureListPath).isFile();
    if (!command.quiet) {
        if (total == 0 && failed == 0 && printed == 0 && problem.isEmpty() && !interrupted &&
            !settings.useDocumentList)
            out << QStringLiteral("文件夹中没有 Word 文档。") << Qt::endl;
        if (checking)
            out << QStringLiteral("共 %1 个文档：%2 个可以打开（%3 个已加密），%4 个无法打开。")
                       .arg(printed + failed)
                       .arg(printed)
                       .arg(encrypted)
                       .arg(failed)
                << Qt::endl;
        else if (settings.mode == Mode::ExportPdf)
            out << QStringLiteral("已导出 %1 个 PDF，未能导出 %2 个。").arg(printed).arg(failed) << Qt::endl;
        else
            out << QStringLiteral("已打印 %1 个文档，未能打印 %2 个。").arg(printed).arg(failed) << Qt::endl;
        // Sent to the printer, but not seen printed: neither in the count nor among the failures.
        for (const QString &path : unconfirmed)
            out << QStringLiteral("未能确认是否已打印：%1").arg(path) << Qt::endl;
        if (skipped > 0)
            out << QStringLiteral("%1 个 PDF 已存在，未覆盖（要覆盖请加 --overwrite）。").arg(skipped)
                << Qt::endl;
        if (notTried > 0)
            out << QStringLiteral("列表中有 %1 个文档已不存在或不是 Word 文档，未尝试。").arg(notTried)
                << Qt::endl;
        if (listWritten)
            out << QStringLiteral("未能%1的文档列在：%2")
                       .arg(settings.mode == Mode::ExportPdf ? QStringLiteral("导出")
                                                             : QStringLiteral("打印"),
                            QDir::toNativeSeparators(PrintJobSettings.failureListPath))
                << Qt::endl;
        if (report && reportWritten)
            out << QStringLiteral("报告：%1")
                       .arg(QDir::toNativeSeparators(QFileInfo(command.reportPath).absoluteFilePath()))
                << Qt::endl;
    }
    if (!problem.isEmpty())
        err << problem << Qt::endl;
    else if (interrupted)
        err << QStringLiteral("打印已中止。") << Qt::endl;
    if (listed && !checking && !listWritten &&
        problem.isEmpty()) // the run says so itself when it could not write it
        err << QStringLiteral("无法写入失败列表：%1")
                   .arg(QDir::toNativeSeparators(PrintJobSettings.failureListPath))
            << Qt::endl;
    if (report && !reportWritten)
        err << QStringLiteral("无法写入报告：%1").arg(command.reportPath) << Qt::endl;

    if (interrupted)
        return kPrintExitInterrupted;
    if (failed > 0 || !unconfirmed.isEmpty() || skipped > 0 || notTried > 0 || !reportWritten)
        return kPrintExitSomeFailed;
    if (!problem.isEmpty())
        return kPrintExitNothingPrinted;
    return kPrintExitAllPrinted;
}

int RunPrintCommandLine(int argc, char *argv[])
{
    InitLocal8BitCodec();
    IgnoreBrokenPipe();
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    PrintCommand command;
    const QString error = ParsePrintCommand(arguments, &command);
    if (!error.isEmpty()) {
        err << error << Qt::endl << QStringLiteral("用法见 quillmark-print --help") << Qt::endl;
        return kPrintExitNothingPrinted;
    }
    if (command.help) {
        out << PrintCommandHelp();
        return kPrintExitAllPrinted;
    }

    QString password;
    QStringList passwords;
    if (!command.passwordsFile.isEmpty()) {
        QFile file(command.passwordsFile);
        QString error;
        if (!file.open(QIODevice::ReadOnly)) {
            err << QStringLiteral("无法读取密码文件：%1").arg(command.passwordsFile) << Qt::endl;
            return kPrintExitNothingPrinted;
        }
        if (!ParsePasswords(file.readAll(), &passwords, &error)) {
            err << error << QStringLiteral("（%1）").arg(command.passwordsFile) << Qt::endl;
            return kPrintExitNothingPrinted;
        }
    } else if (!command.passwordFile.isEmpty()) {
        if (!ReadPasswordFile(command.passwordFile, &password)) {
            err << QStringLiteral("无法读取密码文件：%1").arg(command.passwordFile) << Qt::endl;
            return kPrintExitNothingPrinted;
        }
    } else if (command.askPassword) {
        std::string line;
        if (!ReadSecretLine("文档密码：", &line)) {
            err << QStringLiteral("未输入密码。") << Qt::endl;
            return kPrintExitNothingPrinted;
        }
        password = QString::fromUtf8(line.c_str());
    } else if (qEnvironmentVariableIsSet(PasswordVariable)) {
        password = QString::fromLocal8Bit(qgetenv(PasswordVariable));
    }
    // The office and anything else started for the run need not know it.
    qunsetenv(PasswordVariable);

    return ExecutePrintCommand(command, password, passwords, out, err);
}
