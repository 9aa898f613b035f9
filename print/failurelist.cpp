#include "print/failurelist.h"

#include "platform/filename.h"
#include "platform/textfile.h"

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
