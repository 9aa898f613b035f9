#pragma once
// What became of each document, kept beside the report and written (and pushed to the disk) before a
// document is opened and once its outcome is known: a run that is cut off, even killed, and started again
// can tell what it did, and never takes a document twice that may have printed.

#include "print/printjobsettings.h"

#include <QHash>
#include <QMutex>
#include <QString>
#include <cstdio>

class PrintLedger
{
public:
    struct Entry
    {
        QString outcome; // an outcome name, or Started: tried, and never heard of again
        qint64 size = -1;
        qint64 modifiedMs = -1;
    };
    static const char Started[];

    // The ledger of a report: its path with ".ledger" after it.
    static QString PathFor(const QString &reportPath);

    explicit PrintLedger(const QString &path);
    ~PrintLedger();
    PrintLedger(const PrintLedger &) = delete;
    PrintLedger &operator=(const PrintLedger &) = delete;

    // Reads what it holds (a document's last line wins), writes it anew without the lines that no longer
    // count, and opens it for what follows. False with *error when it is something else than a file of
    // ours, or cannot be written.
    bool open(QString *error);
    QString path() const { return path_; }

    // By path relative to the folder ('/' between names). Safe from any thread.
    QHash<QString, Entry> entries() const;
    bool record(const QString &relative, const Entry &entry);
    // Before a document is opened: Started (with the file's size and time then), what it had before kept
    // aside. Then its outcome; a document that was not tried after all (cut off) gets back what it had.
    bool started(const QString &relative, qint64 size, qint64 modifiedMs);
    bool finished(const QString &relative, const Entry &entry);
    // The document went elsewhere (moved to the done folder): a new one of that name is new.
    bool forget(const QString &relative);

private:
    bool append(const QByteArray &line);

    QString path_;
    mutable QMutex mutex_;
    QHash<QString, Entry> entries_;
    QHash<QString, Entry> beforeStart_;
    std::FILE *file_ = nullptr;
};

// Whether a document whose last record is entry, and which is now size bytes modified at modifiedMs, is
// left out as done. Only an unchanged document is: one done in this mode (printed, exported, opened by a
// check), or one that may have printed (unconfirmed, or tried by a run that never came back). A watch also
// leaves out an unchanged one that failed: it would only fail again, over and over; it is taken again once
// it changes.
bool LeftOutAsDone(const PrintLedger::Entry &entry, qint64 size, qint64 modifiedMs,
                   PrintJobSettingsRecord::Mode mode, bool watching);
