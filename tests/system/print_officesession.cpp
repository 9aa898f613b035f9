#include "tests/system/print_officesession.h"

#include <QUrl>

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <cppuhelper/bootstrap.hxx>
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
} // namespace

OfficeSession::OfficeSession(const QString &programDir, const QString &profileDir)
    : programDir_(programDir), profileDir_(profileDir.isEmpty() ? profile_.path() : profileDir),
      pipe_(QStringLiteral("quillmark_session_%1_%2").arg(getpid()).arg(quintptr(this)))
{
}

OfficeSession::~OfficeSession()
{
    if (desktop_.is()) {
        try {
            desktop_->terminate();
        } catch (const uno::Exception &) {
        }
        desktop_.clear();
    }
    if (pid_ <= 0)
        return;
    for (int i = 0; i < 500; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

pid_t OfficeSession::spawn()
{
    const QByteArray bin = (programDir_ + "/soffice.bin").toLocal8Bit();
    const QByteArray env = ("-env:UserInstallation=" + QUrl::fromLocalFile(profileDir_).toString()).toUtf8();
    const QByteArray accept = ("--accept=pipe,name=" + pipe_ + ";urp;").toUtf8();
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        execl(bin.constData(), bin.constData(), env.constData(), "--headless", "--invisible", "--norestore",
              "--nologo", "--nodefault", "--nolockcheck", accept.constData(), static_cast<char *>(nullptr));
        _exit(127);
    }
    if (pid > 0)
        setpgid(pid, pid);
    return pid;
}

bool OfficeSession::start(QString *error)
{
    pid_ = spawn();
    if (pid_ <= 0) {
        *error = "cannot start the office";
        return false;
    }
    try {
        rtl::Bootstrap::set("URE_BOOTSTRAP",
                            "vnd.sun.star.pathname:" + ToUno(programDir_) + "/fundamentalrc");
        uno::Reference<uno::XComponentContext> local = cppu::defaultBootstrap_InitialComponentContext();
        uno::Reference<bridge::XUnoUrlResolver> resolver = bridge::UnoUrlResolver::create(local);
        int starts = 1;
        for (int i = 0; i < 1200; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                // The first start on a fresh profile ends with 81 and must be repeated.
                if (!WIFEXITED(status) || WEXITSTATUS(status) != 81 || starts++ > 3) {
                    *error = "the office exited";
                    return false;
                }
                pid_ = spawn();
                continue;
            }
            try {
                uno::Reference<uno::XComponentContext> remote(
                    resolver->resolve(ToUno("uno:pipe,name=" + pipe_ + ";urp;StarOffice.ComponentContext")),
                    uno::UNO_QUERY_THROW);
                desktop_ = frame::Desktop::create(remote);
                return true;
            } catch (const uno::Exception &) {
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
            }
        }
        *error = "no connection to the office";
    } catch (const uno::Exception &e) {
        *error = "UNO: " + QString::fromUtf16(reinterpret_cast<const char16_t *>(e.Message.getStr()));
    }
    return false;
}
