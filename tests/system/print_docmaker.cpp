#include "tests/system/print_docmaker.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <osl/file.hxx>
#include <rtl/bootstrap.hxx>

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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
    QTemporaryDir profile;
    const QString pipe = QStringLiteral("quillmark_docmaker_%1").arg(getpid());
    const QByteArray bin = QByteArrayLiteral(QUILLMARK_OFFICE_PROGRAM "/soffice.bin");
    const QByteArray env =
        ("-env:UserInstallation=" + QUrl::fromLocalFile(profile.path()).toString()).toUtf8();
    const QByteArray accept = ("--accept=pipe,name=" + pipe + ";urp;").toUtf8();
    auto spawn = [&]() -> pid_t {
        const pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            execl(bin.constData(), bin.constData(), env.constData(), "--headless", "--invisible",
                  "--norestore", "--nologo", "--nodefault", "--nolockcheck", accept.constData(),
                  static_cast<char *>(nullptr));
            _exit(127);
        }
        if (pid > 0)
            setpgid(pid, pid);
        return pid;
    };
    pid_t office = spawn();
    if (office < 0) {
        *error = "fork failed";
        return false;
    }
    int starts = 1;
    bool ok = false;
    try {
        rtl::Bootstrap::set("URE_BOOTSTRAP",
                            "vnd.sun.star.pathname:" QUILLMARK_OFFICE_PROGRAM "/fundamentalrc");
        uno::Reference<uno::XComponentContext> local = cppu::defaultBootstrap_InitialComponentContext();
        uno::Reference<bridge::XUnoUrlResolver> resolver = bridge::UnoUrlResolver::create(local);
        uno::Reference<uno::XComponentContext> remote;
        for (int i = 0; i < 600 && !remote.is(); ++i) {
            int status = 0;
            if (waitpid(office, &status, WNOHANG) == office) {
                // The first start on a fresh profile ends with 81 and must be repeated.
                if (!WIFEXITED(status) || WEXITSTATUS(status) != 81 || starts++ > 3) {
                    *error = "office exited";
                    return false;
                }
                office = spawn();
                continue;
            }
            try {
                remote.set(
                    resolver->resolve(ToUno("uno:pipe,name=" + pipe + ";urp;StarOffice.ComponentContext")),
                    uno::UNO_QUERY);
            } catch (const uno::Exception &) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        if (!remote.is()) {
            *error = "no connection to the office";
        } else {
            uno::Reference<frame::XDesktop2> desktop = frame::Desktop::create(remote);
            ok = true;
            for (const PasswordJob &job : jobs) {
                uno::Sequence<beans::PropertyValue> load(1);
                load[0] = Property("Hidden", uno::Any(true));
                uno::Reference<lang::XComponent> doc =
                    desktop->loadComponentFromURL(Url(job.source), "_blank", 0, load);
                uno::Reference<frame::XStorable> storable(doc, uno::UNO_QUERY);
                if (!storable.is()) {
                    *error = "cannot load " + job.source;
                    ok = false;
                    break;
                }
                uno::Sequence<beans::PropertyValue> store(2);
                store[0] = Property("FilterName", uno::Any(OUString("MS Word 97")));
                store[1] = Property("Password", uno::Any(ToUno(job.password)));
                storable->storeToURL(Url(job.target), store);
                uno::Reference<util::XCloseable>(doc, uno::UNO_QUERY_THROW)->close(true);
            }
            try {
                desktop->terminate();
            } catch (const uno::Exception &) {
            }
        }
    } catch (const uno::Exception &e) {
        *error = "UNO: " + QString::fromUtf16(reinterpret_cast<const char16_t *>(e.Message.getStr()));
        ok = false;
    }
    for (int i = 0; i < 100; ++i) {
        int status = 0;
        if (waitpid(office, &status, WNOHANG) == office) {
            office = 0;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (office) {
        kill(-office, SIGKILL);
        waitpid(office, nullptr, 0);
    }
    return ok;
}

} // namespace docmaker
