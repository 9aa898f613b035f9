#pragma once
// What the command line's tests share: a fresh folder for each test function, the fake word processor
// installed for it, and a run of quillmark-print whose output is kept.

#include "cli/printcli.h"
#include "tests/fakes/fakewordprocessor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QTemporaryDir>
#include <QTextStream>
#include <memory>

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

    std::unique_ptr<QTemporaryDir> tmp_;
    QString root_;
    std::shared_ptr<FakeOffice> office_;
    QString out_, err_;
};
