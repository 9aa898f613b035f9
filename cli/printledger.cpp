#include "cli/printledger.h"

#include "platform/fileinfo.h"
#include "platform/filename.h"
#include "platform/fileops.h"
#include "platform/textfile.h"

#include "print/documentoutcome.h"

#include <QList>
#include <QMutexLocker>

namespace {

constexpr size_t kLargestLedger = 256u << 20;
const QByteArray Heading = "quillmark-ledger 1\n";
const QByteArray Forgotten = "forgotten";

// "<outcome>\t<size>\t<modified ms>\t<relative path's bytes in hex>"
QByteArray Line(const QString &relative, const QString &outcome, qint64 size, qint64 modifiedMs)
{
    return outcome.toLatin1() + '\t' + QByteArray::number(size) + '\t' + QByteArray::number(modifiedMs) +
           '\t' + EncodeFileName(relative).toHex() + '\n';
}

} // namespace

const char PrintLedger::Started[] = "started";

QString PrintLedger::PathFor(const QString &reportPath)
{
    return reportPath + QStringLiteral(".ledger");
}

PrintLedger::PrintLedger(const QString &path) : path_(path) {}

PrintLedger::~PrintLedger()
{
    if (file_)
        std::fclose(file_);
}

bool PrintLedger::open(QString *error)
{
    const QByteArray where = EncodeFileName(path_);
    const QString refused = QStringLiteral("无法使用记录文件：%1").arg(path_);
    const EntryKind kind = QueryEntryNoFollow(where.constData());
    if (kind != EntryKind::Missing) {
        std::string bytes;
        if (kind != EntryKind::File || !ReadRegularFile(where.constData(), kLargestLedger, bytes) ||
            (!bytes.empty() && !QByteArray::fromStdString(bytes).startsWith(Heading))) {
            *error = refused + QStringLiteral("（不是本程序的记录文件）");
            return false;
        }
        for (const QByteArray &line : QByteArray::fromStdString(bytes).split('\n')) {
            const QList<QByteArray> fields = line.split('\t');
            if (fields.size() != 4)
                continue;
            const QString relative = DecodeFileName(QByteArray::fromHex(fields.at(3)));
            if (fields.at(0) == Forgotten)
                entries_.remove(relative);
            else
                entries_.insert(relative, {QString::fromLatin1(fields.at(0)), fields.at(1).toLongLong(),
                                           fields.at(2).toLongLong()});
        }
    }
    // Written anew: one line per document.
    QByteArray text = Heading;
    for (auto it = entries_.constBegin(); it != entries_.constEnd(); ++it)
        text += Line(it.key(), it->outcome, it->size, it->modifiedMs);
    if (!WriteTextFileReplacing(where.constData(), text.constData(), size_t(text.size())) ||
        !(file_ = OpenFileForAppending(where.constData()))) {
        *error = refused;
        return false;
    }
    return true;
}

QHash<QString, PrintLedger::Entry> PrintLedger::entries() const
{
    QMutexLocker lock(&mutex_);
    return entries_;
}

bool PrintLedger::record(const QString &relative, const Entry &entry)
{
    QMutexLocker lock(&mutex_);
    entries_.insert(relative, entry);
    return append(Line(relative, entry.outcome, entry.size, entry.modifiedMs));
}

bool PrintLedger::started(const QString &relative, qint64 size, qint64 modifiedMs)
{
    QMutexLocker lock(&mutex_);
    const auto before = entries_.constFind(relative);
    if (before != entries_.constEnd())
        beforeStart_.insert(relative, *before);
    const Entry entry{QString::fromLatin1(Started), size, modifiedMs};
    entries_.insert(relative, entry);
    return append(Line(relative, entry.outcome, size, modifiedMs));
}

bool PrintLedger::finished(const QString &relative, const Entry &entry)
{
    QMutexLocker lock(&mutex_);
    const Entry before = beforeStart_.take(relative);
    if (entry.outcome != QLatin1String(outcome::NotTried)) {
        entries_.insert(relative, entry);
        return append(Line(relative, entry.outcome, entry.size, entry.modifiedMs));
    }
    if (entries_.value(relative).outcome != QLatin1String(Started))
        return true; // never begun: what it had stays
    if (before.outcome.isEmpty()) {
        entries_.remove(relative);
        return append(Line(relative, QString::fromLatin1(Forgotten), -1, -1));
    }
    entries_.insert(relative, before);
    return append(Line(relative, before.outcome, before.size, before.modifiedMs));
}

bool PrintLedger::forget(const QString &relative)
{
    QMutexLocker lock(&mutex_);
    entries_.remove(relative);
    return append(Line(relative, QString::fromLatin1(Forgotten), -1, -1));
}

bool PrintLedger::append(const QByteArray &line)
{
    return file_ && std::fwrite(line.constData(), 1, size_t(line.size()), file_) == size_t(line.size()) &&
           FlushFileToDisk(file_);
}

bool LeftOutAsDone(const PrintLedger::Entry &entry, qint64 size, qint64 modifiedMs,
                   PrintJobSettingsRecord::Mode mode, bool watching)
{
    using Mode = PrintJobSettingsRecord::Mode;
    const QString &what = entry.outcome;
    if (what.isEmpty() || entry.size != size || entry.modifiedMs != modifiedMs || entry.size < 0 ||
        entry.modifiedMs < 0)
        return false;
    const char *done = mode == Mode::Check       ? outcome::Opens
                       : mode == Mode::ExportPdf ? outcome::Exported
                                                 : outcome::Printed;
    if (what == QLatin1String(done) || what == QLatin1String(outcome::Unconfirmed) ||
        what == QLatin1String(PrintLedger::Started))
        return true;
    return watching && what != QLatin1String(outcome::NotTried);
}
