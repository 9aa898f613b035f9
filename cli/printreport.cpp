#include "cli/printreport.h"

#include "platform/filename.h"
#include "platform/fileops.h"
#include "platform/textfile.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextCodec>

namespace {

// Columns up to path_hex are what the first reports had; they are still ours.
const QString CsvHeaderFirst = QStringLiteral("path,outcome,password_line,job_id,pages,seconds,path_hex");
constexpr size_t kLargestReport = 256u << 20;

bool IsUtf8(const QByteArray &bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

// The first line (from 1) that is not UTF-8, 0 when all are.
int FirstLineNotUtf8(const QByteArray &bytes)
{
    int number = 0;
    for (const QByteArray &line : bytes.split('\n')) {
        ++number;
        if (!IsUtf8(line))
            return number;
    }
    return 0;
}

// The name as UTF-8 text: a byte that is not UTF-8 shows as U+FFFD (the exact bytes go in path_hex).
QString Readable(const QString &path)
{
    QString text = path;
    for (QChar &c : text) {
        if (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF)
            c = QChar(0xFFFD);
    }
    return text;
}

// The name's own bytes in hex, only when they are not UTF-8.
QString Hex(const QString &path)
{
    if (path.isValidUtf16())
        return QString();
    return QString::fromLatin1(EncodeFileName(path).toHex());
}

// A spreadsheet takes a cell that begins so for a formula; a leading apostrophe makes it text, and the
// reader takes the apostrophe off again (so one is also put before a name that begins with one).
bool NeedsTextMark(const QString &cell)
{
    return !cell.isEmpty() && QStringLiteral("=+-@\t\r'").contains(cell.at(0));
}

QString CsvField(const QString &value)
{
    if (!value.contains(QLatin1Char(',')) && !value.contains(QLatin1Char('"')) &&
        !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r')))
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString Seconds(double seconds)
{
    return QString::number(seconds, 'f', 3);
}

QString Modified(qint64 ms)
{
    return ms < 0 ? QString() : QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

qint64 ModifiedMs(const QString &text)
{
    const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    return time.isValid() ? time.toMSecsSinceEpoch() : -1;
}

// A report row's path: the exact bytes when the report carries them, else the text.
QString RowPath(const QString &path, const QString &hex)
{
    if (hex.isEmpty())
        return path;
    return DecodeFileName(QByteArray::fromHex(hex.toLatin1()));
}

int Number(const QString &text, int none)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? value : none;
}

qint64 LongNumber(const QString &text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok ? value : -1;
}

QString LineError(int line, const QString &what)
{
    return QStringLiteral("报告第 %1 行%2").arg(line).arg(what);
}

bool ReadCsvRows(const QString &text, QVector<ReportRow> *rows, QString *error)
{
    int at = 0, line = 1;
    bool malformed = false;
    const auto record = [&] {
        const int from = at;
        const QStringList fields = ParseCsvRecord(text, from, &at, &malformed);
        const int startLine = line;
        line += text.midRef(from, at - from).count(QLatin1Char('\n'));
        return std::make_pair(fields, startLine);
    };
    const QStringList header = record().first;
    const int pathColumn = header.indexOf(QStringLiteral("path"));
    if (malformed) {
        *error = LineError(1, QStringLiteral("的引号不成对，无法读取。"));
        return false;
    }
    if (pathColumn < 0) {
        *error = QStringLiteral("这个 .csv 文件不是报告（缺少 path 列）。");
        return false;
    }
    const auto column = [&header](const char *name) { return header.indexOf(QLatin1String(name)); };
    const int outcome = column("outcome"), passwordLine = column("password_line"), job = column("job_id"),
              pages = column("pages"), seconds = column("seconds"), hex = column("path_hex"),
              size = column("size"), modified = column("modified");
    // Reports that mark formula-like cells say so by their later columns.
    const bool marked = size >= 0;
    while (at < text.size()) {
        const auto [fields, number] = record();
        if (malformed) {
            *error = LineError(number, QStringLiteral("的引号不成对，无法读取。"));
            return false;
        }
        if (fields.size() == 1 && fields.first().isEmpty())
            continue; // an empty line
        if (fields.size() > header.size()) {
            *error = LineError(number, QStringLiteral("的列数多于表头。"));
            return false;
        }
        const auto field = [&fields](int i) {
            return i >= 0 && i < fields.size() ? fields.at(i) : QString();
        };
        ReportRow row;
        row.path = field(pathColumn);
        if (marked && row.path.startsWith(QLatin1Char('\'')))
            row.path.remove(0, 1);
        row.path = RowPath(row.path, field(hex));
        row.outcome = field(outcome);
        row.passwordLine = Number(field(passwordLine), 0);
        row.jobId = Number(field(job), 0);
        row.pages = Number(field(pages), -1);
        row.seconds = field(seconds).toDouble();
        row.size = LongNumber(field(size));
        row.modifiedMs = ModifiedMs(field(modified));
        if (row.path.contains(QChar(0))) {
            *error = LineError(number, QStringLiteral("的路径含有 NUL 字符。"));
            return false;
        }
        rows->append(row);
    }
    return true;
}

bool ReadJsonRows(const QByteArray &bytes, QVector<ReportRow> *rows, QString *error)
{
    int number = 0;
    for (QByteArray line : bytes.split('\n')) {
        ++number;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(line);
        const QJsonObject object = document.object();
        if (!document.isObject() || !object.value(QStringLiteral("path")).isString()) {
            *error = LineError(number, QStringLiteral("不是有效的记录。"));
            return false;
        }
        ReportRow row;
        row.path = RowPath(object.value(QStringLiteral("path")).toString(),
                           object.value(QStringLiteral("path_hex")).toString());
        row.outcome = object.value(QStringLiteral("outcome")).toString();
        row.passwordLine = object.value(QStringLiteral("password_line")).toInt(0);
        row.jobId = object.value(QStringLiteral("job_id")).toInt(0);
        row.pages = object.value(QStringLiteral("pages")).toInt(-1);
        row.seconds = object.value(QStringLiteral("seconds")).toDouble();
        row.size = qint64(object.value(QStringLiteral("size")).toDouble(-1));
        row.modifiedMs = ModifiedMs(object.value(QStringLiteral("modified")).toString());
        if (row.path.contains(QChar(0))) {
            *error = LineError(number, QStringLiteral("的路径含有 NUL 字符。"));
            return false;
        }
        rows->append(row);
    }
    return true;
}

} // namespace

QStringList ParseCsvRecord(const QString &text, int from, int *next, bool *malformed)
{
    QStringList fields;
    QString field;
    bool quoted = false;     // inside a quoted field
    bool afterQuote = false; // a quoted field has ended; only a separator may follow
    int i = from;
    const auto wrong = [malformed] {
        if (malformed)
            *malformed = true;
    };
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c != QLatin1Char('"')) {
                field += c;
            } else if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else {
                quoted = false;
                afterQuote = true;
            }
        } else if (c == QLatin1Char(',')) {
            fields.append(field);
            field.clear();
            afterQuote = false;
        } else if (c == QLatin1Char('\n')) {
            ++i;
            break;
        } else if (c == QLatin1Char('\r')) {
            continue;
        } else if (c == QLatin1Char('"') && field.isEmpty() && !afterQuote) {
            quoted = true;
        } else {
            // A quote inside a field, or text after a closing quote: a spreadsheet never writes that.
            if (c == QLatin1Char('"') || afterQuote)
                wrong();
            field += c;
        }
    }
    if (quoted)
        wrong(); // the file ended inside quotes
    fields.append(field);
    *next = i;
    return fields;
}

bool ReadReportRows(const QString &name, const QByteArray &bytes, QVector<ReportRow> *rows, QString *error)
{
    rows->clear();
    QByteArray content = bytes;
    if (content.startsWith("\xEF\xBB\xBF"))
        content.remove(0, 3);
    if (const int line = FirstLineNotUtf8(content)) {
        *error = LineError(line, QStringLiteral("不是 UTF-8 编码（请在表格软件中另存为 UTF-8 的 CSV）。"));
        return false;
    }
    if (PrintReport::FormatOf(name) == PrintReport::Format::Json)
        return ReadJsonRows(content, rows, error);
    return ReadCsvRows(QString::fromUtf8(content), rows, error);
}

PrintReport::PrintReport(const QString &path, bool passwordLines)
    : path_(path), format_(FormatOf(path)), passwordLines_(passwordLines)
{
}

PrintReport::Format PrintReport::FormatOf(const QString &path)
{
    return path.toLower().endsWith(QLatin1String(".json")) ? Format::Json : Format::Csv;
}

QString PrintReport::CsvHeader()
{
    return CsvHeaderFirst + QStringLiteral(",size,modified");
}

bool PrintReport::open(QString *error)
{
    const QByteArray where = EncodeFileName(path_);
    const EntryKind kind = QueryEntryNoFollow(where.constData());
    if (kind == EntryKind::Missing)
        return true;
    const QString refused = QStringLiteral("“%1”已存在，且不是本程序写的报告，不会被覆盖。").arg(path_);
    std::string bytes;
    if (kind != EntryKind::File || !ReadRegularFile(where.constData(), kLargestReport, bytes)) {
        *error = refused;
        return false;
    }
    const QByteArray content = QByteArray::fromStdString(bytes);
    if (content.trimmed().isEmpty())
        return true; // nothing in it to lose
    QString problem;
    bool ours = ReadReportRows(path_, content, &earlier_, &problem);
    if (ours && format_ == Format::Csv) {
        const QByteArray header = content.left(content.indexOf('\n')).trimmed();
        ours = header == CsvHeader().toUtf8() || header == CsvHeaderFirst.toUtf8();
    }
    for (const ReportRow &row : earlier_)
        ours = ours && !row.outcome.isEmpty();
    if (!ours) {
        earlier_.clear();
        *error = refused;
        return false;
    }
    for (int i = 0; i < earlier_.size(); ++i)
        earlierIndex_.insert(earlier_.at(i).path, i);
    return true;
}

QString PrintReport::csvLine(const ReportRow &row) const
{
    QString path = Readable(row.path);
    if (NeedsTextMark(path))
        path.prepend(QLatin1Char('\''));
    const QStringList fields{CsvField(path),
                             row.outcome,
                             row.passwordLine > 0 ? QString::number(row.passwordLine) : QString(),
                             row.jobId > 0 ? QString::number(row.jobId) : QString(),
                             row.pages >= 0 ? QString::number(row.pages) : QString(),
                             Seconds(row.seconds),
                             Hex(row.path),
                             row.size >= 0 ? QString::number(row.size) : QString(),
                             Modified(row.modifiedMs)};
    return fields.join(QLatin1Char(','));
}

QString PrintReport::jsonLine(const ReportRow &row) const
{
    QJsonObject object;
    object.insert(QStringLiteral("path"), Readable(row.path));
    object.insert(QStringLiteral("outcome"), row.outcome);
    object.insert(QStringLiteral("password_line"),
                  row.passwordLine > 0 ? QJsonValue(row.passwordLine) : QJsonValue());
    object.insert(QStringLiteral("job_id"), row.jobId > 0 ? QJsonValue(row.jobId) : QJsonValue());
    object.insert(QStringLiteral("pages"), row.pages >= 0 ? QJsonValue(row.pages) : QJsonValue());
    object.insert(QStringLiteral("seconds"), Seconds(row.seconds).toDouble());
    const QString hex = Hex(row.path);
    if (!hex.isEmpty())
        object.insert(QStringLiteral("path_hex"), hex);
    object.insert(QStringLiteral("size"), row.size >= 0 ? QJsonValue(double(row.size)) : QJsonValue());
    object.insert(QStringLiteral("modified"),
                  row.modifiedMs >= 0 ? QJsonValue(Modified(row.modifiedMs)) : QJsonValue());
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString PrintReport::line(const ReportRow &row) const
{
    return format_ == Format::Csv ? csvLine(row) : jsonLine(row);
}

QByteArray PrintReport::text() const
{
    QString text;
    if (format_ == Format::Csv)
        text = CsvHeader() + QLatin1Char('\n');
    for (const ReportRow &row : earlier_) {
        const auto replaced = replacements_.constFind(row.path);
        text += line(replaced == replacements_.constEnd() ? row : rows_.at(*replaced)) + QLatin1Char('\n');
    }
    for (const auto &entry : rows_) {
        if (!earlierIndex_.contains(entry.second.path))
            text += line(entry.second) + QLatin1Char('\n');
    }
    return text.toUtf8();
}

bool PrintReport::add(int number, const ReportRow &row)
{
    ReportRow kept = row;
    if (!passwordLines_)
        kept.passwordLine = 0;
    rows_[number] = kept;
    // What an earlier run learnt of a document stays until this run learns something of it.
    if (earlierIndex_.contains(row.path) && row.outcome != QLatin1String(outcome::NotTried))
        replacements_.insert(row.path, number);
    pending_ = true;
    // Written whole each time: a run of thousands of documents must not write millions of rows.
    if (lastWrite_.isValid() && lastWrite_.elapsed() < 500)
        return true;
    return write();
}

bool PrintReport::flush()
{
    return !pending_ || write();
}

bool PrintReport::write()
{
    lastWrite_.start();
    pending_ = false;
    const QByteArray bytes = text();
    return WriteTextFileReplacing(EncodeFileName(path_).constData(), bytes.constData(),
                                  static_cast<size_t>(bytes.size()));
}
