// The bare UNO loop the print run is measured against: one office, and for each file load, print, close.
// No time limits, no job tracking, no restart: the least any UNO client can do.

#include "bench/print_bench_uno.h"

#include <QTemporaryDir>
#include <QUrl>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/view/XPrintable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <osl/file.hxx>
#include <rtl/bootstrap.hxx>

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace com::sun::star;
using rtl::OUString;

namespace {

OUString ToUno(const QString &text)
{
    return OUString(reinterpret_cast<const sal_Unicode *>(text.utf16()), text.size());
}

beans::PropertyValue Property(const char *name, const uno::Any &value)
{
    beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

} // namespace

int BareUnoLoop(const QString &programDir, const QStringList &files, const QString &printer, QString *error)
{
    QTemporaryDir profile;
    const QString pipe = QStringLiteral("quillmark_bench_%1").arg(getpid());
    const QByteArray bin = (programDir + "/soffice.bin").toLocal8Bit();
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
        setpgid(pid, pid);
        return pid;
    };
    pid_t office = spawn();
    int printed = 0;
    try {
        rtl::Bootstrap::set("URE_BOOTSTRAP", "vnd.sun.star.pathname:" + ToUno(programDir) + "/fundamentalrc");
        uno::Reference<uno::XComponentContext> local = cppu::defaultBootstrap_InitialComponentContext();
        uno::Reference<bridge::XUnoUrlResolver> resolver = bridge::UnoUrlResolver::create(local);
        uno::Reference<uno::XComponentContext> remote;
        while (!remote.is()) {
            int status = 0;
            if (waitpid(office, &status, WNOHANG) == office)
                office = spawn(); // the first start on a fresh profile ends at once
            try {
                remote.set(
                    resolver->resolve(ToUno("uno:pipe,name=" + pipe + ";urp;StarOffice.ComponentContext")),
                    uno::UNO_QUERY);
            } catch (const uno::Exception &) {
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
            }
        }
        uno::Reference<frame::XDesktop2> desktop = frame::Desktop::create(remote);
        for (const QString &file : files) {
            OUString url;
            osl::FileBase::getFileURLFromSystemPath(ToUno(file), url);
            uno::Sequence<beans::PropertyValue> load(3);
            load[0] = Property("Hidden", uno::Any(true));
            load[1] = Property("ReadOnly", uno::Any(true));
            load[2] = Property("FilterName", uno::Any(OUString("MS Word 2007 XML")));
            uno::Reference<lang::XComponent> doc = desktop->loadComponentFromURL(url, "_blank", 0, load);
            uno::Reference<view::XPrintable> printable(doc, uno::UNO_QUERY);
            if (!printable.is())
                continue;
            uno::Sequence<beans::PropertyValue> name(1);
            name[0] = Property("Name", uno::Any(ToUno(printer)));
            printable->setPrinter(name);
            uno::Sequence<beans::PropertyValue> wait(1);
            wait[0] = Property("Wait", uno::Any(true));
            printable->print(wait);
            uno::Reference<util::XCloseable>(doc, uno::UNO_QUERY_THROW)->close(true);
            ++printed;
        }
        desktop->terminate();
    } catch (const uno::Exception &e) {
        *error = QString::fromUtf16(reinterpret_cast<const char16_t *>(e.Message.getStr()));
    }
    for (int i = 0; i < 500; ++i) {
        if (waitpid(office, nullptr, WNOHANG) == office) {
            office = 0;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (office) {
        kill(-office, SIGKILL);
        waitpid(office, nullptr, 0);
    }
    return printed;
}
