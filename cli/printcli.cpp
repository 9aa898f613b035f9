#include "cli/printcli.h"

#include "platform/brokenpipe.h"
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

} // namespace

int ExecutePrintCommand(const PrintCommand &command, const QString &password, QTextStream &out,
                        QTextStream &err)
{
    const QFileInfo folderInfo(command.folder);
    if (command.folder.isEmpty() || !folderInfo.isDir()) {
        err << QStringLiteral("文件夹不存在：%1").arg(command.folder) << Qt::endl;
        return kPrintExitNothingPrinted;
    }
    if (!command.printer.isEmpty()) {
        std::string problem;
        if (!UsePrinterForThisProcess(command.printer.toStdString(), &problem)) {
            err << QString::fromStdString(problem) << Qt::endl;
            return kPrintExitNothingPrinted;
        }
    }

    // As the window hands it over: the folder ends in "/", the failure list sits inside it.
    QString folder = QDir::cleanPath(folderInfo.absoluteFilePath());
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    PrintJobSettings.sourcePath = folder;
    PrintJobSettings.password = password;
    PrintJobSettings.delayMs = command.delayMs;
    PrintJobSettings.failureListPath = folder + FailureListName;
    // An earlier run's list would be taken for this run's.
    QFile::remove(PrintJobSettings.failureListPath);
    ThreadObject::SetViewerLauncher([](const QString &) {});

    QuitOnTerminationSignals();
    QEventLoop loop;
    QThread thread;
    auto *worker = new ThreadObject;
    worker->moveToThread(&thread);
    const QDir root(folder);
    int total = 0, printed = 0, failed = 0;
    QString problem;
    QStringList unconfirmed; // relative paths, in the order tried
    bool finished = false;
    QObject::connect(worker, &ThreadObject::DocumentStarted, &loop,
                     [&](int number, int documents, const QString &path) {
                         total = documents;
                         if (!command.quiet)
                             out << QStringLiteral("[%1/%2] %3")
                                        .arg(number)
                                        .arg(documents)
                                        .arg(QDir::toNativeSeparators(root.relativeFilePath(path)))
                                 << Qt::endl;
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
        QCoreApplication::sendPostedEvents(&loop);
    }
    delete worker;

    const bool listed = failed > 0 || !unconfirmed.isEmpty();
    const bool listWritten = listed && QFileInfo(PrintJobSettings.failureListPath).isFile();
    if (!command.quiet) {
        if (total == 0 && failed == 0 && printed == 0 && problem.isEmpty() && !interrupted)
            out << QStringLiteral("文件夹中没有 Word 文档。") << Qt::endl;
        out << QStringLiteral("已打印 %1 个文档，未能打印 %2 个。").arg(printed).arg(failed) << Qt::endl;
        // Sent to the printer, but not seen printed: neither in the count nor among the failures.
        for (const QString &path : unconfirmed)
            out << QStringLiteral("未能确认是否已打印：%1").arg(path) << Qt::endl;
        if (listWritten)
            out << QStringLiteral("未能打印的文档列在：%1")
                       .arg(QDir::toNativeSeparators(PrintJobSettings.failureListPath))
                << Qt::endl;
    }
    if (!problem.isEmpty())
        err << problem << Qt::endl;
    else if (interrupted)
        err << QStringLiteral("打印已中止。") << Qt::endl;
    if (listed && !listWritten && problem.isEmpty()) // the run says so itself when it could not write it
        err << QStringLiteral("无法写入失败列表：%1")
                   .arg(QDir::toNativeSeparators(PrintJobSettings.failureListPath))
            << Qt::endl;

    if (interrupted)
        return kPrintExitInterrupted;
    if (failed > 0 || !unconfirmed.isEmpty())
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
    if (!command.passwordFile.isEmpty()) {
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
        password = QString::fromLocal8Bit(line.c_str());
    } else if (qEnvironmentVariableIsSet(PasswordVariable)) {
        password = QString::fromLocal8Bit(qgetenv(PasswordVariable));
    }
    // The office and anything else started for the run need not know it.
    qunsetenv(PasswordVariable);

    return ExecutePrintCommand(command, password, out, err);
}
