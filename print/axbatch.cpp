// The batch options through Word's own calls (and WPS's copy of them): PrintOut's named arguments, the
// PDF through Document.ExportAsFixedFormat, the page count through Document.ComputeStatistics.

#include "print/axdispatch.h"
#include "print/axobjects.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>

namespace {

// Word's constants (its object model's enumerations).
constexpr int wdPrintRangeOfPages = 4;
constexpr int wdExportFormatPDF = 17;
constexpr int wdExportFromTo = 3;
constexpr int wdStatisticPages = 2;

// The one span of a range such as "2-5" or "3"; false for a range of several spans.
bool OneSpan(const QString &pages, int *from, int *to)
{
    if (pages.contains(QLatin1Char(',')))
        return false;
    const QStringList ends = pages.split(QLatin1Char('-'));
    bool firstOk = false, lastOk = false;
    *from = ends.first().toInt(&firstOk);
    *to = ends.last().toInt(&lastOk);
    return firstOk && lastOk && *from >= 1 && *from <= *to;
}

bool NoSuchMember(HRESULT result)
{
    return result == DISP_E_UNKNOWNNAME || result == DISP_E_MEMBERNOTFOUND;
}

} // namespace

DispatchCall WithPrintOptions(DispatchCall call, const WordProcessor::PrintOptions &options)
{
    // Named, so that the call says which of PrintOut's eighteen parameters it sets. Pages counts only with
    // Range wdPrintRangeOfPages; Word collates copies unless told not to.
    if (!options.pages.isEmpty())
        call.named(L"Range", wdPrintRangeOfPages).named(L"Pages", options.pages);
    if (options.copies != 1)
        call.named(L"Copies", options.copies);
    if (options.copies != 1 || options.collate)
        call.named(L"Collate", options.collate);
    return call;
}

bool AxWordProcessor::setPrintOptions(const PrintOptions &options)
{
    if (options.duplex != PrintOptions::Duplex::Printer) {
        AxTell(QStringLiteral("Word 和 WPS 的打印调用（PrintOut）没有按打印任务设置双面的参数（其中的"
                              "ManualDuplexPrint 是让人手工翻面，不是打印机的双面），因此 Windows 上不支持 "
                              "--duplex。请在 Windows 的打印机首选项中设置双面，本程序按打印机的设置打印。"));
        return false;
    }
    options_ = options;
    return true;
}

bool AxWordProcessor::exportsPdf() const
{
    int from = 0, to = 0;
    if (!options_.pages.isEmpty() && !OneSpan(options_.pages, &from, &to)) {
        AxTell(QStringLiteral(
            "Word 和 WPS 导出 PDF 时（ExportAsFixedFormat）只能导出连续的一段页（从某页到某页），"
            "因此 Windows 上导出 PDF 时 --pages 只能写一段，例如 --pages 2-5。"));
        return false;
    }
    return true;
}

bool AxWordProcessor::exportPdf(Document document, const QString &target)
{
    int from = 0, to = 0;
    if (!options_.pages.isEmpty()) {
        if (!OneSpan(options_.pages, &from, &to))
            return false;
        // Word refuses a span past the document's end; the pages it has of the span are exported.
        const int pages = pageCount(document);
        if (pages > 0)
            to = std::min(to, pages);
        if (to < from)
            return false;
    }
    // The target already ends in ".pdf": Word adds it to a name without it.
    const QString output = QDir::toNativeSeparators(target);
    DispatchResult result;
    const bool returned = documentCall(
        document,
        [output, from, to](IDispatch *d) {
            DispatchCall call(d, L"ExportAsFixedFormat", DispatchCall::Method);
            // Unencrypted, and no viewer opened on the user's screen.
            call.arg(output).arg(wdExportFormatPDF).arg(false).named(L"KeepIRM", false);
            if (from > 0)
                call.named(L"Range", wdExportFromTo).named(L"From", from).named(L"To", to);
            return call;
        },
        &result);
    if (returned && NoSuchMember(result.result) && !toldNoExport_) {
        toldNoExport_ = true;
        AxTell(QStringLiteral(
            "所用的文字处理软件没有导出 PDF 的调用（ExportAsFixedFormat，Word 2007 SP2 起才有）。"));
    }
    // A server that says it wrote the PDF but did not counts as a failure, not as an export.
    return returned && result.ok() && QFileInfo(target).isFile();
}

int AxWordProcessor::pageCount(Document document)
{
    const auto known = pageCounts_.find(document);
    if (known != pageCounts_.end())
        return known->second;
    DispatchResult result;
    if (!documentCall(
            document,
            [](IDispatch *d) {
                return DispatchCall(d, L"ComputeStatistics", DispatchCall::Method).arg(wdStatisticPages);
            },
            &result))
        return -1;
    // Every document has a page; no number, or none, is no answer (WPS may lack the call).
    const int pages = result.ok() && result.number > 0 ? int(result.number) : -1;
    pageCounts_[document] = pages;
    return pages;
}
