#include "tests/windows/standinlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <string>
#include <windows.h>

namespace standin {

namespace {

QStringList Lines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

const QString StartLine = QStringLiteral("server started, pid ");

} // namespace

bool StartRpcService(int timeoutMs)
{
    const DWORD deadline = GetTickCount() + DWORD(timeoutMs);
    do {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE service =
            manager ? OpenServiceW(manager, L"RpcSs", SERVICE_START | SERVICE_QUERY_STATUS) : nullptr;
        SERVICE_STATUS status{};
        bool running = false;
        if (service) {
            if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING)
                running = true;
            else if (status.dwCurrentState != SERVICE_START_PENDING)
                StartServiceW(service, 0, nullptr); // refused while the service database is locked
            CloseServiceHandle(service);
        }
        if (manager)
            CloseServiceHandle(manager);
        if (running)
            return true;
        Sleep(1000);
    } while (int(deadline - GetTickCount()) > 0);
    return false;
}

QString Program()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/wordstandin.exe");
}

bool Register(const QString &folder, const QString &how, const QString &program)
{
    // Started and waited for by hand: Qt 5.15's QProcess watches a child from Windows' thread pool, and a
    // run of this test crashed there in Qt, between two cases.
    const QString server = QDir::toNativeSeparators(program.isEmpty() ? Program() : program);
    std::wstring line =
        (QStringLiteral("\"%1\" /regserver \"%2\" %3").arg(server, QDir::toNativeSeparators(folder), how))
            .toStdWString();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    DWORD code = 1;
    const bool ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended && code == 0;
}

QList<QPair<qint64, QString>> TimedCalls(const QString &folder)
{
    static const QRegularExpression line(QStringLiteral("^t=(\\d+) (.*)$"));
    QList<QPair<qint64, QString>> calls;
    for (const QString &text : Lines(folder + QStringLiteral("/calls.log"))) {
        const QRegularExpressionMatch match = line.match(text);
        if (match.hasMatch() && !match.captured(2).startsWith(StartLine))
            calls.append({match.captured(1).toLongLong(), match.captured(2)});
    }
    return calls;
}

QStringList Calls(const QString &folder)
{
    QStringList calls;
    for (const auto &call : TimedCalls(folder))
        calls << call.second;
    return calls;
}

QStringList Printed(const QString &folder)
{
    return Lines(folder + QStringLiteral("/prints.log"));
}

QList<qint64> ServerPids(const QString &folder)
{
    QList<qint64> pids;
    for (const QString &text : Lines(folder + QStringLiteral("/calls.log"))) {
        const int at = text.indexOf(StartLine);
        if (at >= 0)
            pids << text.mid(at + StartLine.size()).toLongLong();
    }
    return pids;
}

bool ProcessRunning(qint64 pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (!process)
        return false;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

void EndProcess(qint64 pid)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, DWORD(pid));
    if (!process)
        return;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
}

} // namespace standin
