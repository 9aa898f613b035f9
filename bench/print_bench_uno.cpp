// The bare UNO loop the print run is measured against: one office, and for each file load, print, close.
// No time limits, no job tracking, no restart: the least any UNO client can do.

#include "bench/print_bench_uno.h"
#include "tests/system/print_officesession.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/view/XPrintable.hpp>
#include <osl/file.hxx>

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

int BareUnoLoop(const QString &programDir, const QString &profileDir, const QStringList &files,
                const QString &printer, QString *error)
{
    OfficeSession office(programDir, profileDir);
    if (!office.start(error))
        return 0;
    int printed = 0;
    try {
        for (const QString &file : files) {
            OUString url;
            osl::FileBase::getFileURLFromSystemPath(ToUno(file), url);
            uno::Sequence<beans::PropertyValue> load(3);
            load[0] = Property("Hidden", uno::Any(true));
            load[1] = Property("ReadOnly", uno::Any(true));
            load[2] = Property("FilterName", uno::Any(OUString("MS Word 2007 XML")));
            uno::Reference<lang::XComponent> doc =
                office.desktop()->loadComponentFromURL(url, "_blank", 0, load);
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
    } catch (const uno::Exception &e) {
        *error = QString::fromUtf16(reinterpret_cast<const char16_t *>(e.Message.getStr()));
    }
    return printed; // the session terminates the office
}
