#pragma once
// The stand-in word processor as the Windows tests meet it: registering it for a folder, and reading what
// it logged there.

#include <QList>
#include <QString>
#include <QStringList>

namespace standin {

// Starts Wine's RPC service, which activating a local server needs, and waits until it runs. Wine starts
// it on demand, but a start asked for while its services are still coming up fails, and then every
// activation fails. False when it is not running after timeoutMs.
bool StartRpcService(int timeoutMs = 60000);
// Registers the stand-in as "Word.Application", logging into folder: how is quoted, unquoted, launcher or
// inproc (wordstandin.exe /regserver). program is the copy of wordstandin.exe to register (and, for a
// launcher, the launcher's copy beside it); the one beside the test program when empty.
bool Register(const QString &folder, const QString &how = QStringLiteral("quoted"),
              const QString &program = QString());
// The stand-in beside the test program.
QString Program();
// Its calls, in order, without their times; the lines naming a server's process are left out.
QStringList Calls(const QString &folder);
// The same with the time of each call in milliseconds (the system's tick count).
QList<QPair<qint64, QString>> TimedCalls(const QString &folder);
// The documents printed, in order.
QStringList Printed(const QString &folder);
// The server processes that started, in order.
QList<qint64> ServerPids(const QString &folder);
bool ProcessRunning(qint64 pid);
void EndProcess(qint64 pid);

} // namespace standin
