#include "print/libreoffice/unosession.h"

#include <QCryptographicHash>
#include <QString>

#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNameReplace.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XFrames.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/util/XChangesBatch.hpp>
#include <com/sun/star/util/XFlushable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <osl/file.hxx>
#include <rtl/bootstrap.hxx>
#include <rtl/ustring.hxx>

#include <chrono>
#include <thread>

using namespace com::sun::star;
using rtl::OString;
using rtl::OUString;

namespace {

OUString FromUtf8(const std::string &text)
{
    return OStringToOUString(OString(text.c_str(), text.size()), RTL_TEXTENCODING_UTF8);
}

std::string ToUtf8(const OUString &text)
{
    return OUStringToOString(text, RTL_TEXTENCODING_UTF8).getStr();
}

} // namespace

bool UnoSession::bootstrap(const std::string &fundamentalrc)
{
    try {
        // Without this the bootstrap succeeds and the first real call crashes.
        rtl::Bootstrap::set("URE_BOOTSTRAP", "vnd.sun.star.pathname:" + FromUtf8(fundamentalrc));
        local_ = cppu::defaultBootstrap_InitialComponentContext();
    } catch (const uno::Exception &) {
    }
    return local_.is();
}

bool UnoSession::connect(const std::string &pipeName, const std::function<bool()> &keepTrying)
{
    desktop_.clear();
    remote_.clear();
    if (!local_.is())
        return false;
    uno::Reference<bridge::XUnoUrlResolver> resolver = bridge::UnoUrlResolver::create(local_);
    const OUString url = FromUtf8("uno:pipe,name=" + pipeName + ";urp;StarOffice.ComponentContext");
    while (keepTrying()) {
        try {
            uno::Reference<uno::XComponentContext> remote(resolver->resolve(url), uno::UNO_QUERY_THROW);
            desktop_ = frame::Desktop::create(remote);
            remote_ = remote;
            return true;
        } catch (const connection::NoConnectException &) {
        } catch (const uno::Exception &) {
        }
        // A warm office answers about a tenth of a second after its start: a try costs far less.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

uno::Reference<frame::XDesktop2> UnoSession::connectOnce(const std::string &pipeName) const
{
    if (!local_.is())
        return nullptr;
    try {
        uno::Reference<bridge::XUnoUrlResolver> resolver = bridge::UnoUrlResolver::create(local_);
        const OUString url = FromUtf8("uno:pipe,name=" + pipeName + ";urp;StarOffice.ComponentContext");
        uno::Reference<uno::XComponentContext> remote(resolver->resolve(url), uno::UNO_QUERY_THROW);
        return frame::Desktop::create(remote);
    } catch (const uno::Exception &) {
    }
    return nullptr;
}

std::string UnoSession::officeVersion(bool remember)
{
    if (!remote_.is())
        return std::string();
    OUString version;
    try {
        const uno::Reference<lang::XMultiServiceFactory> provider =
            configuration::theDefaultProvider::get(remote_);
        beans::NamedValue path;
        path.Name = "nodepath";
        path.Value <<= OUString("/org.openoffice.Setup/Product");
        const uno::Any any(path);
        const uno::Reference<container::XNameAccess> product(
            provider->createInstanceWithArguments(
                remember ? OUString("com.sun.star.configuration.ConfigurationUpdateAccess")
                         : OUString("com.sun.star.configuration.ConfigurationAccess"),
                uno::Sequence<uno::Any>(&any, 1)),
            uno::UNO_QUERY_THROW);
        OUString last;
        product->getByName("ooSetupVersion") >>= version;
        product->getByName("ooSetupLastVersion") >>= last;
        if (remember && !version.isEmpty() && version != last) {
            uno::Reference<container::XNameReplace>(product, uno::UNO_QUERY_THROW)
                ->replaceByName("ooSetupLastVersion", uno::Any(version));
            uno::Reference<util::XChangesBatch>(product, uno::UNO_QUERY_THROW)->commitChanges();
            // Also for an office that will not end cleanly.
            uno::Reference<util::XFlushable> flushable(provider, uno::UNO_QUERY);
            if (flushable.is())
                flushable->flush();
        }
    } catch (const uno::Exception &) {
        // A setting locked by the administrator: the version is known all the same.
    }
    return ToUtf8(version);
}

bool UnoSession::alive() const
{
    if (!desktop_.is())
        return false;
    try {
        desktop_->getFrames();
        return true;
    } catch (const uno::RuntimeException &) {
        return false;
    }
}

void UnoSession::terminate()
{
    if (!desktop_.is())
        return;
    try {
        desktop_->terminate();
    } catch (const uno::Exception &) {
    }
    desktop_.clear();
}

void UnoSession::dispose()
{
    desktop_.clear();
    uno::Reference<lang::XComponent> context(local_, uno::UNO_QUERY);
    local_.clear();
    if (context.is()) {
        try {
            context->dispose();
        } catch (const uno::Exception &) {
        }
    }
}

std::string UnoSession::ProfileUrl(const std::string &profileDir)
{
    OUString url;
    osl::FileBase::getFileURLFromSystemPath(FromUtf8(profileDir), url);
    return ToUtf8(url);
}

// "SingleOfficeIPC_" and the MD5 digest of the profile URL's UTF-16 text, each byte in unpadded hex.
std::string UnoSession::ProfilePipeName(const std::string &profileDir)
{
    OUString url;
    osl::FileBase::getFileURLFromSystemPath(FromUtf8(profileDir), url);
    QByteArray utf16;
    for (sal_Int32 i = 0; i < url.getLength(); ++i) {
        const sal_Unicode c = url[i];
        utf16.append(char(c & 0xff));
        utf16.append(char(c >> 8));
    }
    const QByteArray digest = QCryptographicHash::hash(utf16, QCryptographicHash::Md5);
    std::string name = "SingleOfficeIPC_";
    for (char byte : digest)
        name += QString::number(uchar(byte), 16).toStdString();
    return name;
}
