#pragma once
// What the command line's tests share: a fresh folder for each test function, the fake word processor
// installed for it, and a run of quillmark-print whose output is kept.

#include "cli/printcli.h"
#include "tests/fakes/fakewordprocessor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <csignal>
#include <memory>

const QString FailureListName = QStringLiteral("无法设置或修改密码的文件目录.txt");
const QString PdfFailureListName = QStringLiteral("无法导出PDF的文件目录.txt");

inline QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

class PrintCliFixture : public QObject
{
protected:
    // For init(): the documents' folder is root_ (tmp_/folder/). False when no temporary folder could be
    // made.
    bool setUp(const QString &folder)
    {
        tmp_ = std::make_unique<QTemporaryDir>();
        root_ = tmp_->path() + QLatin1Char('/') + folder + QLatin1Char('/');
        // The record of the PDFs made lives in the user's data folder: the test's own.
        qputenv("XDG_DATA_HOME", QFile::encodeName(tmp_->path() + "/data"));
        office_ = InstallFakeWordProcessor();
        out_.clear();
        err_.clear();
        return tmp_->isValid() && QDir().mkpath(root_);
    }
    // For cleanup(): the word processors still alive, which should be none.
    int tearDown()
    {
        UninstallFakeWordProcessor();
        const int alive = office_ ? office_->instancesAlive() : 0;
        office_.reset();
        tmp_.reset();
        return alive;
    }
    QString file(const QString &relative, const QByteArray &bytes = "doc")
    {
        WriteAll(root_ + relative, bytes);
        return root_ + relative;
    }
    int execute(const PrintCommand &command, const QStringList &passwords = QStringList(),
                const QString &password = QString())
    {
        QTextStream out(&out_), err(&err_);
        return ExecutePrintCommand(command, password, passwords, out, err);
    }

    // Runs command and interrupts it (SIGINT) once its output shows progress.
    int executeInterruptedAt(const PrintCommand &command, const QString &progress)
    {
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (out_.contains(progress)) {
                poll.stop();
                std::raise(SIGINT);
            }
        });
        poll.start(10);
        const int code = execute(command);
        restartEventLoops();
        return code;
    }
    // An interrupt or a quit ends every event loop; a new one has to start clean for what follows.
    static void restartEventLoops()
    {
        QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
        QCoreApplication::exec();
    }

    std::unique_ptr<QTemporaryDir> tmp_;
    QString root_;
    std::shared_ptr<FakeOffice> office_;
    QString out_, err_;
};
