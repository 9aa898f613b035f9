#include "print/failurelist.h"

#include "platform/filename.h"
#include "platform/textfile.h"

#include <QHash>
#include <QSet>

QString FailureListUnconfirmedMarker()
{
    return QStringLiteral("[未确认] ");
}

QString FailureListLine(const QString &path)
{
    QString line = path;
    line.replace(QLatin1Char('\n'), QChar(0x2424));
    line.replace(QLatin1Char('\r'), QChar(0x240D));
    return line;
}

bool WriteFailureList(const QString &listPath, const QStringList &paths)
{
    QString text;
    for (const QString &path : paths)
        text += FailureListLine(path) + QLatin1Char('\n');
    const QByteArray bytes = EncodeFileName(text);
    return WriteTextFileReplacing(EncodeFileName(listPath).constData(), bytes.constData(),
                                  static_cast<size_t>(bytes.size()));
}

QString FailureListPath(const QString &line)
{
    const QString marker = FailureListUnconfirmedMarker();
    return line.startsWith(marker) ? line.mid(marker.size()) : line;
}

QStringList MergeFailureList(const QStringList &old, const QStringList &learnt, const QStringList &settled)
{
    QHash<QString, QString> lineOf; // path -> this run's line
    for (const QString &line : learnt)
        lineOf.insert(FailureListPath(line), line);
    const QSet<QString> done(settled.begin(), settled.end());
    QStringList merged;
    QSet<QString> listed;
    const auto add = [&](const QString &path, const QString &line) {
        if (!listed.contains(path)) {
            listed.insert(path);
            merged.append(line);
        }
    };
    for (const QString &line : old) {
        const QString path = FailureListPath(line);
        if (lineOf.contains(path))
            add(path, lineOf.value(path));
        else if (!done.contains(path) && !line.isEmpty())
            add(path, line);
    }
    for (const QString &line : learnt)
        add(FailureListPath(line), line);
    return merged;
}
