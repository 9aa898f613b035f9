#include "tests/system/print_docmaker.h"

#include "tests/system/print_officesession.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <osl/file.hxx>

#ifndef QUILLMARK_OFFICE_PROGRAM
#define QUILLMARK_OFFICE_PROGRAM "/usr/lib/libreoffice/program"
#endif

using namespace com::sun::star;
using rtl::OUString;

namespace docmaker {

namespace {

OUString ToUno(const QString &text)
{
    return OUString(reinterpret_cast<const sal_Unicode *>(text.utf16()), text.size());
}

OUString Url(const QString &path)
{
    OUString url;
    osl::FileBase::getFileURLFromSystemPath(ToUno(QFileInfo(path).absoluteFilePath()), url);
    return url;
}

beans::PropertyValue Property(const char *name, const uno::Any &value)
{
    beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

QString Soffice()
{
    return QStringLiteral(QUILLMARK_OFFICE_PROGRAM "/soffice");
}

} // namespace

bool Convert(const QString &dir, const QString &format, QString *error)
{
    QTemporaryDir profile;
    QStringList inputs;
    for (const QString &name : QDir(dir).entryList({"*.txt"}, QDir::Files))
        inputs << QDir(dir).filePath(name);
    if (inputs.isEmpty())
        return true;
    QProcess soffice;
    soffice.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args{"-env:UserInstallation=" + QUrl::fromLocalFile(profile.path()).toString(),
                     "--headless",
                     "--norestore",
                     "--convert-to",
                     format,
                     "--outdir",
                     dir};
    soffice.start(Soffice(), args + inputs);
    if (!soffice.waitForFinished(120000) || soffice.exitCode() != 0) {
        *error = "soffice --convert-to failed: " + QString::fromLocal8Bit(soffice.readAll());
        soffice.kill();
        return false;
    }
    return true;
}

bool SavePasswordProtected(const QVector<PasswordJob> &jobs, QString *error)
{
    OfficeSession office(QStringLiteral(QUILLMARK_OFFICE_PROGRAM));
    if (!office.start(error))
        return false;
    try {
        for (const PasswordJob &job : jobs) {
            uno::Sequence<beans::PropertyValue> load(1);
            load[0] = Property("Hidden", uno::Any(true));
            uno::Reference<lang::XComponent> doc =
                office.desktop()->loadComponentFromURL(Url(job.source), "_blank", 0, load);
            uno::Reference<frame::XStorable> storable(doc, uno::UNO_QUERY);
            if (!storable.is()) {
                *error = "cannot load " + job.source;
                return false;
            }
            uno::Sequence<beans::PropertyValue> store(2);
            store[0] = Property("FilterName", uno::Any(OUString("MS Word 97")));
            store[1] = Property("Password", uno::Any(ToUno(job.password)));
            storable->storeToURL(Url(job.target), store);
            uno::Reference<util::XCloseable>(doc, uno::UNO_QUERY_THROW)->close(true);
        }
    } catch (const uno::Exception &e) {
        *error = "UNO: " + QString::fromUtf16(reinterpret_cast<const char16_t *>(e.Message.getStr()));
        return false;
    }
    return true;
}

} // namespace docmaker
