#include "bench/bench_printserver.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace {

QString Script()
{
    return QStringLiteral(QUILLMARK_SOURCE_DIR "/scripts/printserver.sh");
}

} // namespace

BenchPrintServer::BenchPrintServer(const QString &parent)
    : dir(parent + QStringLiteral("/server")), out(parent + QStringLiteral("/out"))
{
    // The scheduler's helpers run as the user lp: they must be able to reach the server's folder.
    QFile::setPermissions(parent, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                      QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                                      QFileDevice::ReadOther | QFileDevice::ExeOther);
    QProcess start;
    start.start(Script(), {"start", dir, out});
    start.waitForFinished(30000);
    const QString line = QString::fromLocal8Bit(start.readAllStandardOutput()).trimmed();
    if (start.exitCode() != 0 || !line.startsWith(QLatin1String("CUPS_SERVER=")))
        return;
    qputenv("CUPS_SERVER", line.mid(12).toLocal8Bit());
    qunsetenv("PRINTER");
    qunsetenv("LPDEST");
    started_ = true;
}

BenchPrintServer::~BenchPrintServer()
{
    QProcess::execute(Script(), {"stop", dir});
}

int BenchPrintServer::captured() const
{
    return QDir(out).entryList({"job-*.pdf"}, QDir::Files).size();
}

bool BenchPrintServer::waitIdle() const
{
    return QProcess::execute(Script(), {"wait", dir, "300"}) == 0;
}

bool BenchPrintServer::pace(double secondsPerJob) const
{
    return QProcess::execute(Script(), {"pace", dir, QString::number(secondsPerJob)}) == 0;
}
