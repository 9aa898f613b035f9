#include "cli/printcli.h"

#include "cli/batchrun.h"
#include "cli/printinputs.h"
#include "cli/printprepare.h"
#include "cli/printwatch.h"
#include "platform/brokenpipe.h"
#include "platform/localcodec.h"
#include "platform/secretinput.h"
#include "platform/termsignal.h"
#include "print/threadobject.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace {

const char PasswordVariable[] = "QUILLMARK_PASSWORD";

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

// Only what is new: on the run's thread, the folder's documents (or the list's) without those done before
// and unchanged since.
BatchRun::Prepare LeaveOutDone(const PreparedRun &run, BatchRun &batch, RunAccount &account)
{
    const QHash<QString, PrintLedger::Entry> records = run.records;
    return [records, &batch, &account](PrintJobSettingsRecord &settings, const std::function<bool()> &stop) {
        const QString root = QDir::toNativeSeparators(settings.sourcePath);
        QStringList candidates = settings.documentList;
        QStringList unreadable;
        if (!settings.useDocumentList) {
            ThreadObject lister;
            for (const QFileInfo &file :
                 lister.ListFilesRecursively(settings.sourcePath, &unreadable, stop)) {
                const QString path = QDir::toNativeSeparators(file.filePath());
                if (ThreadObject::IsPrintableDocument(path))
                    candidates.append(path);
            }
        }
        QStringList taken;
        int unchanged = 0, uncertain = 0;
        for (const QString &path : candidates) {
            const QFileInfo info(path);
            const PrintLedger::Entry record = records.value(RunAccount::Relative(path, root));
            if (!info.isFile() || !LeftOutAsDone(record, info.size(), info.lastModified().toMSecsSinceEpoch(),
                                                 settings.mode, false))
                taken.append(path);
            else if (record.outcome == QLatin1String(outcome::Unconfirmed) ||
                     record.outcome == QLatin1String(PrintLedger::Started))
                ++uncertain;
            else
                ++unchanged;
        }
        settings.useDocumentList = true;
        settings.documentList = taken;
        QStringList folders;
        for (const QString &folder : unreadable)
            folders.append(QDir::toNativeSeparators(folder) + QDir::separator());
        // Queued behind nothing the run told yet: the account hears it first.
        QMetaObject::invokeMethod(
            &batch,
            [&account, unchanged, uncertain, folders] { account.leftOut(unchanged, uncertain, folders); },
            Qt::QueuedConnection);
    };
}

int RunOnce(PreparedRun &run, bool newOnly, QTextStream &out, QTextStream &err)
{
    RunAccount account(run.setup, out, err);
    TellUnfinished(run, account);
    BatchRun batch;
    KeepLedger(batch, run);
    ConnectAccount(batch, account);
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&batch, &BatchRun::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    batch.start(run.setup.settings, newOnly ? LeaveOutDone(run, batch, account) : BatchRun::Prepare());
    loop.exec();
    // A termination signal ended the loop: documents already queued are left to print; the office goes.
    const bool interrupted = !finished;
    if (interrupted)
        batch.abortAndWait();
    return account.conclude(interrupted);
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
    PreparedRun run;
    const int refused = PrepareRun(command, password, passwords, err, &run);
    if (refused >= 0)
        return refused;
    ThreadObject::SetViewerLauncher([](const QString &) {});
    QuitOnTerminationSignals(true);
    if (command.watch)
        return WatchFolder(run, command.stableSeconds, out, err);
    return RunOnce(run, command.newOnly, out, err);
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
