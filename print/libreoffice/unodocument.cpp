#include "print/libreoffice/unodocument.h"

#include "platform/filename.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/task/ErrorCodeRequest.hpp>
#include <com/sun/star/task/PasswordRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/util/CloseVetoException.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/view/DuplexMode.hpp>
#include <com/sun/star/view/PrintableState.hpp>
#include <com/sun/star/view/XPrintJobBroadcaster.hpp>
#include <com/sun/star/view/XPrintJobListener.hpp>
#include <com/sun/star/view/XPrintable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ref.hxx>
#include <rtl/ustring.hxx>

#include <initializer_list>
#include <vector>

using namespace com::sun::star;
using rtl::OString;
using rtl::OUString;

namespace unodocument {

namespace {

OUString ToUno(const QString &text)
{
    return OUString(reinterpret_cast<const sal_Unicode *>(text.utf16()), text.size());
}

OUString ToUno(const std::string &text)
{
    return OStringToOUString(OString(text.c_str(), text.size()), RTL_TEXTENCODING_UTF8);
}

beans::PropertyValue Property(const char *name, const uno::Any &value)
{
    beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

uno::Sequence<beans::PropertyValue> Args(std::initializer_list<beans::PropertyValue> values)
{
    return uno::Sequence<beans::PropertyValue>(values.begin(), static_cast<sal_Int32>(values.size()));
}

// Answers every question of the office with Abort, and remembers why it was asked.
class AbortingHandler : public cppu::WeakImplHelper1<task::XInteractionHandler>
{
public:
    void SAL_CALL handle(const uno::Reference<task::XInteractionRequest> &request) override
    {
        const uno::Any what = request->getRequest();
        task::ErrorCodeRequest error;
        if (what >>= error)
            errorCode = error.ErrCode;
        if (what.isExtractableTo(cppu::UnoType<task::PasswordRequest>::get()))
            passwordAsked = true;
        const auto continuations = request->getContinuations();
        for (const auto &continuation : continuations) {
            uno::Reference<task::XInteractionAbort> abort(continuation, uno::UNO_QUERY);
            if (abort.is()) {
                abort->select();
                return;
            }
        }
    }

    // The document is protected, and the password offered did not open it.
    bool passwordRefused() const { return passwordAsked || errorCode == WrongPasswordError; }

    static constexpr sal_Int32 WrongPasswordError = 0x1000f;
    std::atomic<sal_Int32> errorCode{0};
    std::atomic<bool> passwordAsked{false};
};

class JobListener : public cppu::WeakImplHelper1<view::XPrintJobListener>
{
public:
    explicit JobListener(std::atomic<unsigned> *progress) : progress_(progress) {}
    void SAL_CALL printJobEvent(const view::PrintJobEvent &event) override
    {
        states |= 1u << static_cast<unsigned>(event.State);
        if (progress_)
            ++*progress_;
    }
    void SAL_CALL disposing(const lang::EventObject &) override {}

    bool saw(view::PrintableState state) const { return states & (1u << static_cast<unsigned>(state)); }

    std::atomic<unsigned> states{0};

private:
    std::atomic<unsigned> *progress_;
};

} // namespace

std::string FileUrl(const QString &path)
{
    // Not through QFileInfo: it would pass the name through the locale's codec.
    const QByteArray bytes = EncodeFileName(path);
    std::string url = "file://";
    static const char hex[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        const bool unreserved = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
                                b == '-' || b == '.' || b == '_' || b == '~' || b == '/';
        if (unreserved) {
            url += char(b);
        } else {
            url += '%';
            url += hex[b >> 4];
            url += hex[b & 15];
        }
    }
    return url;
}

Loaded Load(const uno::Reference<frame::XDesktop2> &desktop, const QString &path, const std::string &filter,
            const QString &password, const QString &original)
{
    Loaded loaded;
    rtl::Reference<AbortingHandler> handler(new AbortingHandler);
    try {
        uno::Sequence<beans::PropertyValue> args =
            Args({Property("Hidden", uno::Any(true)),
                  // Read-only: otherwise a lock file is written beside the user's document, and a stale one
                  // (after a crash, or another user's) makes the load fail.
                  Property("ReadOnly", uno::Any(true)), Property("Password", uno::Any(ToUno(password))),
                  Property("FilterName", uno::Any(ToUno(filter))),
                  Property("MacroExecutionMode", uno::Any(document::MacroExecMode::NEVER_EXECUTE)),
                  Property("UpdateDocMode", uno::Any(document::UpdateDocMode::NO_UPDATE)),
                  Property("InteractionHandler",
                           uno::Any(uno::Reference<task::XInteractionHandler>(handler.get())))});
        if (!original.isEmpty() && original != path) {
            args.realloc(args.getLength() + 1);
            args[args.getLength() - 1] = Property("DocumentBaseURL", uno::Any(ToUno(FileUrl(original))));
        }
        uno::Reference<frame::XComponentLoader> loader(desktop, uno::UNO_QUERY_THROW);
        uno::Reference<lang::XComponent> component =
            loader->loadComponentFromURL(ToUno(FileUrl(path)), "_blank", 0, args);
        if (!component.is()) {
            loaded.result = handler->passwordRefused() ? LoadResult::PasswordRefused : LoadResult::Refused;
            return loaded;
        }
        if (!uno::Reference<text::XTextDocument>(component, uno::UNO_QUERY).is()) {
            Close(component);
            return loaded;
        }
        loaded.component = component;
        loaded.result = LoadResult::Opened;
    } catch (const uno::RuntimeException &) {
        // DisposedException and the other errors of a dead bridge; the caller tells them apart.
        loaded.result = LoadResult::BridgeFailed;
    } catch (const uno::Exception &) {
        // An encrypted .docx with a wrong password ends here ("type detection aborted").
        loaded.result = handler->passwordRefused() ? LoadResult::PasswordRefused : LoadResult::Refused;
    }
    return loaded;
}

Printed Print(const uno::Reference<lang::XComponent> &component, const std::string &printer,
              bool printerKnown, std::atomic<unsigned> *progress, const WordProcessor::PrintOptions &options)
{
    Printed out;
    rtl::Reference<JobListener> listener(new JobListener(progress));
    try {
        uno::Reference<view::XPrintable> printable(component, uno::UNO_QUERY_THROW);
        const OUString name = ToUno(printer);
        printable->setPrinter(Args({Property("Name", uno::Any(name))}));
        // An unknown name is ignored silently, and the job would go elsewhere.
        out.printerSet = printerKnown;
        if (!printerKnown) {
            const auto current = printable->getPrinter();
            for (const auto &p : current) {
                OUString value;
                if (p.Name == "Name" && (p.Value >>= value) && value == name)
                    out.printerSet = true;
            }
        }
        if (!out.printerSet)
            return out;
        uno::Reference<view::XPrintJobBroadcaster> broadcaster(component, uno::UNO_QUERY);
        if (broadcaster.is())
            broadcaster->addPrintJobListener(uno::Reference<view::XPrintJobListener>(listener.get()));
        std::vector<beans::PropertyValue> args{Property("Wait", uno::Any(true))};
        if (options.copies != 1)
            args.push_back(Property("CopyCount", uno::Any(static_cast<sal_Int16>(options.copies))));
        if (options.collate)
            args.push_back(Property("Collate", uno::Any(true)));
        if (!options.pages.isEmpty())
            args.push_back(Property("Pages", uno::Any(ToUno(options.pages))));
        sal_Int16 duplex = view::DuplexMode::UNKNOWN;
        switch (options.duplex) {
        case WordProcessor::PrintOptions::Duplex::Printer:
            break;
        case WordProcessor::PrintOptions::Duplex::Off:
            duplex = view::DuplexMode::OFF;
            break;
        case WordProcessor::PrintOptions::Duplex::LongEdge:
            duplex = view::DuplexMode::LONGEDGE;
            break;
        case WordProcessor::PrintOptions::Duplex::ShortEdge:
            duplex = view::DuplexMode::SHORTEDGE;
            break;
        }
        if (duplex != view::DuplexMode::UNKNOWN)
            args.push_back(Property("DuplexMode", uno::Any(duplex)));
        printable->print(
            uno::Sequence<beans::PropertyValue>(args.data(), static_cast<sal_Int32>(args.size())));
        out.returned = true;
        // Laid out for the print already: asking costs no more than the question.
        out.pages = PageCount(component);
        if (broadcaster.is())
            broadcaster->removePrintJobListener(uno::Reference<view::XPrintJobListener>(listener.get()));
    } catch (const uno::Exception &) {
        out.threw = true;
    }
    out.spoolFailed = listener->saw(view::PrintableState_JOB_SPOOLING_FAILED) ||
                      listener->saw(view::PrintableState_JOB_FAILED) ||
                      listener->saw(view::PrintableState_JOB_ABORTED);
    out.spooled = listener->saw(view::PrintableState_JOB_SPOOLED);
    return out;
}

int PageCount(const uno::Reference<lang::XComponent> &component)
{
    try {
        uno::Reference<frame::XModel> model(component, uno::UNO_QUERY);
        if (!model.is())
            return -1;
        // Writer's view knows the count of its laid-out pages.
        uno::Reference<beans::XPropertySet> view(model->getCurrentController(), uno::UNO_QUERY);
        if (!view.is())
            return -1;
        sal_Int32 pages = -1;
        if (view->getPropertyValue("PageCount") >>= pages)
            return pages;
    } catch (const uno::Exception &) {
    }
    return -1;
}

ExportResult ExportPdf(const uno::Reference<lang::XComponent> &component, const QString &path,
                       const QString &pages)
{
    try {
        uno::Reference<frame::XStorable> storable(component, uno::UNO_QUERY_THROW);
        std::vector<beans::PropertyValue> filterData;
        if (!pages.isEmpty())
            filterData.push_back(Property("PageRange", uno::Any(ToUno(pages))));
        // The export has its own encryption, off unless asked for: the PDF of an encrypted document is not.
        filterData.push_back(Property("EncryptFile", uno::Any(false)));
        const uno::Sequence<beans::PropertyValue> data(filterData.data(),
                                                       static_cast<sal_Int32>(filterData.size()));
        storable->storeToURL(ToUno(FileUrl(path)),
                             Args({Property("FilterName", uno::Any(OUString("writer_pdf_Export"))),
                                   Property("FilterData", uno::Any(data))}));
        return ExportResult::Written;
    } catch (const uno::RuntimeException &) {
        return ExportResult::BridgeFailed;
    } catch (const uno::Exception &) {
        return ExportResult::Failed;
    }
}

void Close(const uno::Reference<lang::XComponent> &component)
{
    try {
        uno::Reference<util::XCloseable> closeable(component, uno::UNO_QUERY);
        if (closeable.is())
            closeable->close(true);
        else
            component->dispose();
    } catch (const util::CloseVetoException &) {
        try {
            component->dispose();
        } catch (const uno::Exception &) {
        }
    }
}

} // namespace unodocument
