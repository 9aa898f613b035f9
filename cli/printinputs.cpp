#include "cli/printinputs.h"

#include "platform/filename.h"
#include "print/failurelist.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextCodec>

namespace {

bool DecodeUtf8(const QByteArray &bytes, QString *text)
{
    QTextCodec *codec = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state;
    *text = codec->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

QList<QByteArray> Lines(const QByteArray &bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // the line end of the last line starts no new one
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

bool IsDone(const QString &outcome)
{
    return outcome == QLatin1String("printed") || outcome == QLatin1String("exported");
}

// A report row's path: the exact bytes when the report carries them, else the text.
QString RowPath(const QString &path, const QString &hex)
{
    if (hex.isEmpty())
        return path;
    return DecodeFileName(QByteArray::fromHex(hex.toLatin1()));
}

bool ReadCsvReport(const QByteArray &bytes, QStringList *entries, QString *error)
{
    QString text;
    DecodeUtf8(bytes, &text);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    int at = 0;
    const QStringList header = ParseCsvRecord(text, at, &at);
    const int pathColumn = header.indexOf(QStringLiteral("path"));
    if (pathColumn < 0) {
        *error = QStringLiteral("这个 .csv 文件不是报告（缺少 path 列）。");
        return false;
    }
    const int outcomeColumn = header.indexOf(QStringLiteral("outcome"));
    const int hexColumn = header.indexOf(QStringLiteral("path_hex"));
    while (at < text.size()) {
        const QStringList row = ParseCsvRecord(text, at, &at);
        if (row.size() == 1 && row.first().isEmpty())
            continue; // an empty line
        const auto field = [&](int column) {
            return column >= 0 && column < row.size() ? row.at(column) : QString();
        };
        if (IsDone(field(outcomeColumn)))
            continue;
        const QString path = RowPath(field(pathColumn), field(hexColumn));
        if (!path.isEmpty())
            entries->append(path);
    }
    return true;
}

bool ReadJsonReport(const QByteArray &bytes, QStringList *entries, QString *error)
{
    int number = 0;
    for (const QByteArray &line : Lines(bytes)) {
        ++number;
        if (line.trimmed().isEmpty())
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (!document.isObject() || !document.object().value(QStringLiteral("path")).isString()) {
            *error = QStringLiteral("报告第 %1 行不是有效的记录。").arg(number);
            return false;
        }
        const QJsonObject row = document.object();
        if (IsDone(row.value(QStringLiteral("outcome")).toString()))
            continue;
        entries->append(RowPath(row.value(QStringLiteral("path")).toString(),
                                row.value(QStringLiteral("path_hex")).toString()));
    }
    return true;
}

} // namespace

bool ParsePasswords(const QByteArray &bytes, QStringList *passwords, QString *error)
{
    passwords->clear();
    QByteArray content = bytes;
    if (content.startsWith("\xEF\xBB\xBF"))
        content.remove(0, 3);
    QString text;
    if (!DecodeUtf8(content, &text)) {
        *error = QStringLiteral("密码文件不是 UTF-8 编码。");
        return false;
    }
    for (const QByteArray &line : Lines(content))
        passwords->append(QString::fromUtf8(line));
    if (passwords->isEmpty()) {
        *error = QStringLiteral("密码文件是空的（空行表示“无密码”）。");
        return false;
    }
    return true;
}

QStringList ParseCsvRecord(const QString &text, int from, int *next)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    int i = from;
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields.append(field);
            field.clear();
        } else if (c == QLatin1Char('\n')) {
            ++i;
            break;
        } else if (c != QLatin1Char('\r')) {
            field += c;
        }
    }
    fields.append(field);
    *next = i;
    return fields;
}

bool ParseDocumentList(const QString &listName, const QByteArray &bytes, const QString &folder,
                       QStringList *paths, QString *error)
{
    paths->clear();
    QStringList entries;
    const QString lower = listName.toLower();
    if (lower.endsWith(QLatin1String(".csv"))) {
        if (!ReadCsvReport(bytes, &entries, error))
            return false;
    } else if (lower.endsWith(QLatin1String(".json"))) {
        if (!ReadJsonReport(bytes, &entries, error))
            return false;
    } else {
        // A failure list names documents not seen printed under a marker: they are taken again too.
        const QString unconfirmed = FailureListUnconfirmedMarker();
        for (const QByteArray &line : Lines(bytes)) {
            if (line.isEmpty())
                continue;
            QString entry = DecodeFileName(line);
            if (entry.startsWith(unconfirmed))
                entry.remove(0, unconfirmed.size());
            entries.append(entry);
        }
    }
    const QString root = QDir::cleanPath(QDir::fromNativeSeparators(folder)) + QLatin1Char('/');
    for (const QString &entry : entries) {
        const QString given = QDir::fromNativeSeparators(entry);
        // Taken apart as text, never through the file system: ".." cannot lead out through a link name.
        const QString path = QDir::cleanPath(QDir::isAbsolutePath(given) ? given : root + given);
        if (!path.startsWith(root) || path.size() == root.size()) {
            *error = QStringLiteral("列表中的路径不在文件夹内：%1").arg(QDir::toNativeSeparators(entry));
            return false;
        }
        paths->append(QDir::toNativeSeparators(path));
    }
    return true;
}
