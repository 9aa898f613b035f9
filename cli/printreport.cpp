#include "cli/printreport.h"

#include "platform/filename.h"
#include "platform/textfile.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

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

} // namespace

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
    return QStringLiteral("path,outcome,password_line,job_id,pages,seconds,path_hex");
}

QString PrintReport::csvLine(const ReportRow &row) const
{
    const QStringList fields{CsvField(Readable(row.path)),
                             row.outcome,
                             passwordLines_ && row.passwordLine > 0 ? QString::number(row.passwordLine)
                                                                    : QString(),
                             row.jobId > 0 ? QString::number(row.jobId) : QString(),
                             row.pages >= 0 ? QString::number(row.pages) : QString(),
                             Seconds(row.seconds),
                             Hex(row.path)};
    return fields.join(QLatin1Char(','));
}

QString PrintReport::jsonLine(const ReportRow &row) const
{
    QJsonObject object;
    object.insert(QStringLiteral("path"), Readable(row.path));
    object.insert(QStringLiteral("outcome"), row.outcome);
    object.insert(QStringLiteral("password_line"),
                  passwordLines_ && row.passwordLine > 0 ? QJsonValue(row.passwordLine) : QJsonValue());
    object.insert(QStringLiteral("job_id"), row.jobId > 0 ? QJsonValue(row.jobId) : QJsonValue());
    object.insert(QStringLiteral("pages"), row.pages >= 0 ? QJsonValue(row.pages) : QJsonValue());
    object.insert(QStringLiteral("seconds"), Seconds(row.seconds).toDouble());
    const QString hex = Hex(row.path);
    if (!hex.isEmpty())
        object.insert(QStringLiteral("path_hex"), hex);
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QByteArray PrintReport::text() const
{
    QString text;
    if (format_ == Format::Csv)
        text = CsvHeader() + QLatin1Char('\n');
    for (const auto &entry : lines_)
        text += entry.second + QLatin1Char('\n');
    return text.toUtf8();
}

bool PrintReport::add(int number, const ReportRow &row)
{
    lines_[number] = format_ == Format::Csv ? csvLine(row) : jsonLine(row);
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
