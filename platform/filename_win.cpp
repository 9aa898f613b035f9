#include "platform/filename.h"

QString DecodeFileName(const QByteArray &bytes)
{
    return QString::fromLocal8Bit(bytes);
}

QByteArray EncodeFileName(const QString &name)
{
    return name.toLocal8Bit();
}
