#include "print/libreoffice/documentlinks.h"

#include "platform/filename.h"
#include "print/libreoffice/jobpolicy.h"
#include "print/libreoffice/officeprocess.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file name may hold 255 bytes; the scheduler keeps a job name of up to 255 as well.
constexpr int MaxName = 240;
constexpr int MaxExtension = 16;

} // namespace

QByteArray MarkedName(const QByteArray &fileName, const std::string &mark)
{
    const QString name = QString::fromUtf8(fileName);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0 && name.size() - dot <= MaxExtension;
    QString stem = hasExtension ? name.left(dot) : name;
    const QByteArray extension = hasExtension ? name.mid(dot).toUtf8() : QByteArray();
    const QByteArray tail = " " + QByteArray::fromStdString(mark) + extension;
    while (!stem.isEmpty() && stem.toUtf8().size() + tail.size() > MaxName) {
        stem.chop(1);
        if (!stem.isEmpty() && QChar(stem.back()).isHighSurrogate())
            stem.chop(1);
    }
    return (stem.isEmpty() ? QByteArray("document") : stem.toUtf8()) + tail;
}

DocumentLinks::DocumentLinks() : token_(jobs::NewRunToken()) {}

bool DocumentLinks::ready()
{
    if (dir_.empty())
        dir_ = officefiles::MakeProfileDir();
    return !dir_.empty();
}

QString DocumentLinks::markedLink(const QString &path, const std::string &mark)
{
    if (!ready())
        return QString();
    const QByteArray target = EncodeFileName(path);
    const QByteArray link =
        QByteArray::fromStdString(dir_) + "/" + MarkedName(target.mid(target.lastIndexOf('/') + 1), mark);
    ::unlink(link.constData());
    if (::symlink(target.constData(), link.constData()) != 0)
        return QString();
    return QString::fromUtf8(link);
}

void DocumentLinks::drop(const QString &link)
{
    if (!link.isEmpty())
        ::unlink(link.toUtf8().constData());
}

QString DocumentLinks::writablePath(const QString &target)
{
    if (target.isValidUtf16())
        return target;
    const int slash = target.lastIndexOf(QLatin1Char('/'));
    if (!ready())
        return target;
    const std::string folder = dir_ + "/" + std::to_string(++folders_);
    const std::string link = folder + "/folder";
    if (::mkdir(folder.c_str(), 0700) != 0 ||
        ::symlink(EncodeFileName(target.left(slash)).constData(), link.c_str()) != 0)
        return target;
    return QString::fromStdString(link) + target.mid(slash);
}

void DocumentLinks::removeAll()
{
    officefiles::Remove(dir_, {});
    dir_.clear();
}
