// The stand-in's Document: PrintOut, ExportAsFixedFormat and ComputeStatistics with the parameters of
// Word's type library, in their places and under their names, and Close. "Printing" appends the
// document's path to prints.log; what was printed (pages, copies, collation) goes to calls.log. A document
// has as many pages as a line "standin:pages=N" in it says (1 without one).

#include "object.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace standin {

namespace {

// Word's error 4608, "Value out of range".
constexpr HRESULT OutOfRange = HRESULT(0x800A1200);

// Pages such as "1-3,5" of a document of count pages, each once and in order; empty when the text is not
// a list of pages and spans, or selects none of the document's.
std::vector<int> SelectedPages(const std::wstring &text, int count)
{
    std::vector<bool> chosen(size_t(count) + 1, false);
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(L',', at), text.size());
        const std::wstring part = text.substr(at, comma - at);
        wchar_t *end = nullptr;
        const long first = wcstol(part.c_str(), &end, 10);
        long last = first;
        if (*end == L'-')
            last = wcstol(end + 1, &end, 10);
        if (part.empty() || *end != L'\0' || first < 1 || last < first)
            return {};
        for (long page = first; page <= last && page <= count; ++page)
            chosen[size_t(page)] = true;
        at = comma + 1;
    }
    std::vector<int> pages;
    for (int page = 1; page <= count; ++page) {
        if (chosen[size_t(page)])
            pages.push_back(page);
    }
    return pages;
}

// A document's pages: what a line "standin:pages=N" in it says, 1 without one.
int PagesOf(const std::wstring &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    char buffer[4096];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof(buffer), &read, nullptr);
    CloseHandle(file);
    const std::string text(buffer, read), key = "standin:pages=";
    const size_t at = text.find(key);
    const long pages = at == std::string::npos ? 1 : strtol(text.c_str() + at + key.size(), nullptr, 10);
    return pages > 0 ? int(pages) : 1;
}

std::wstring PageList(const std::vector<int> &pages, int count)
{
    std::wstring out;
    for (const int page : pages)
        out += (out.empty() ? L"" : L",") + std::to_wstring(page);
    return out + L" of " + std::to_wstring(count);
}

// A small PDF of the given pages, each saying which page of the document it is, written exactly at path.
bool WritePdf(const std::wstring &path, const std::vector<int> &pages, int count)
{
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    const auto object = [&](const std::string &body) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    std::string kids;
    for (size_t i = 0; i < pages.size(); ++i)
        kids += std::to_string(4 + 2 * i) + " 0 R ";
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>");
    object("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (size_t i = 0; i < pages.size(); ++i) {
        object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 3 0 R >> >> "
               "/Contents " +
               std::to_string(5 + 2 * i) + " 0 R >>");
        const std::string text = "BT /F1 24 Tf 72 760 Td (Quillmark stand-in page " +
                                 std::to_string(pages[i]) + " of " + std::to_string(count) + ") Tj ET";
        object("<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream");
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (const size_t offset : offsets) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010u 00000 n \n", unsigned(offset));
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(file, pdf.data(), DWORD(pdf.size()), &written, nullptr) && written == pdf.size();
    CloseHandle(file);
    return ok;
}

class Document : public Object
{
public:
    enum : DISPID
    {
        PrintOutId = 1,
        CloseId = 2,
        ExportId = 3,
        StatisticsId = 4
    };

    Document(const std::wstring &path, const std::string &behaviour, const std::wstring &owner)
        : Object(L"document",
                 {{L"PrintOut",
                   PrintOutId,
                   DISPATCH_METHOD,
                   VT_EMPTY,
                   {L"Background", L"Append", L"Range", L"OutputFileName", L"From", L"To", L"Item", L"Copies",
                    L"Pages", L"PageType", L"PrintToFile", L"Collate", L"ActivePrinterMacGX",
                    L"ManualDuplexPrint", L"PrintZoomColumn", L"PrintZoomRow", L"PrintZoomPaperWidth",
                    L"PrintZoomPaperHeight"}},
                  {L"Close", CloseId, DISPATCH_METHOD, VT_EMPTY, {L"SaveChanges"}},
                  {L"ExportAsFixedFormat",
                   ExportId,
                   DISPATCH_METHOD,
                   VT_EMPTY,
                   {L"OutputFileName", L"ExportFormat", L"OpenAfterExport", L"OptimizeFor", L"Range", L"From",
                    L"To", L"Item", L"IncludeDocProps", L"KeepIRM", L"CreateBookmarks", L"DocStructureTags",
                    L"BitmapMissingFonts", L"UseISO19005_1", L"FixedFormatExtClassPtr"}},
                  {L"ComputeStatistics",
                   StatisticsId,
                   DISPATCH_METHOD,
                   VT_I4,
                   {L"Statistic", L"IncludeFootnotesAndEndnotes"}}}),
          path_(path), behaviour_(behaviour), owner_(owner), pages_(PagesOf(path))
    {
    }
    ~Document() override { dropJob(L"released"); }

protected:
    HRESULT invoke(DISPID id, WORD flags, DISPPARAMS *params, VARIANT *result, EXCEPINFO *exception) override
    {
        if (!(flags & DISPATCH_METHOD))
            return DISP_E_MEMBERNOTFOUND;
        if (closed_ && id != CloseId)
            return Raise(exception, 0x800A1098, L"This document is closed.");
        switch (id) {
        case PrintOutId:
            return printOut(params, exception);
        case CloseId:
            if (!closed_)
                Closed(path_, owner_);
            closed_ = true;
            dropJob(L"closed");
            return S_OK;
        case ExportId:
            return exportPdf(params, exception);
        case StatisticsId: {
            // Word's wdStatisticPages; the stand-in counts nothing else.
            if (LongArg(params, 0, -1) != 2)
                return Raise(exception, OutOfRange, L"The stand-in counts pages only (wdStatisticPages).");
            if (result) {
                V_VT(result) = VT_I4;
                V_I4(result) = pages_;
            }
            return S_OK;
        }
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    HRESULT printOut(DISPPARAMS *params, EXCEPINFO *exception)
    {
        if (behaviour_ == "standin:die-print")
            Die(L"PrintOut");
        if (behaviour_ == "standin:printout-fails")
            return Raise(exception, 0x800A1066, L"There is no printer.");
        if (behaviour_ == "standin:hang-print") {
            Log(L"print never returns: " + path_);
            Sleep(INFINITE);
        }
        const std::string fails = "standin:printout-hr=";
        if (behaviour_.compare(0, fails.size(), fails) == 0)
            return HRESULT(strtoul(behaviour_.c_str() + fails.size(), nullptr, 16));
        // Pages counts only with Range wdPrintRangeOfPages (4); Word collates copies unless told not to.
        const long range = LongArg(params, 2, 0), copies = LongArg(params, 7, 1);
        const bool collate = BoolArg(params, 11, true);
        std::vector<int> pages;
        if (range == 0) {
            for (int page = 1; page <= pages_; ++page)
                pages.push_back(page);
        } else if (range == 4) {
            pages = SelectedPages(TextArg(params, 8), pages_);
        } else {
            return Raise(exception, OutOfRange,
                         L"The stand-in prints whole documents or ranges of pages only.");
        }
        if (pages.empty() || copies < 1)
            return Raise(exception, OutOfRange, L"Value out of range.");
        Log(L"prints pages " + PageList(pages, pages_) + L", " + std::to_wstring(copies) +
            (copies == 1 ? L" copy"
             : collate   ? L" copies, collated"
                         : L" copies, not collated") +
            L": " + path_);
        // Word prints in the background unless told otherwise (its default setting).
        if (BoolArg(params, 0, true)) {
            startJob();
        } else {
            Sleep(spoolMs);
            Append(L"prints.log", path_);
        }
        return S_OK;
    }

    // Writes the PDF exactly where it is told, as Word does (Word adds ".pdf" to a name without it).
    HRESULT exportPdf(DISPPARAMS *params, EXCEPINFO *exception)
    {
        const std::wstring output = TextArg(params, 0);
        const long format = LongArg(params, 1, -1), range = LongArg(params, 4, 0);
        if (output.empty() || format == -1)
            return DISP_E_PARAMNOTOPTIONAL;
        if (format != 17)
            return Raise(exception, OutOfRange, L"The stand-in writes PDF only (wdExportFormatPDF).");
        if (BoolArg(params, 2, false))
            Log(L"would open a viewer on the user's screen: " + output);
        std::vector<int> pages;
        const long from = range == 3 ? LongArg(params, 5, 1) : 1;
        const long to = range == 3 ? LongArg(params, 6, 1) : pages_;
        if ((range != 0 && range != 3) || from < 1 || to < from || to > pages_)
            return Raise(exception, OutOfRange, L"Value out of range.");
        for (long page = from; page <= to; ++page)
            pages.push_back(int(page));
        if (behaviour_ == "standin:export-fails") {
            WritePdf(output, {1}, 1); // a file cut short of its end is left behind
            return Raise(exception, E_FAIL, L"The export failed because of an unexpected error.");
        }
        Log(L"exports pages " + PageList(pages, pages_) + L" as PDF: " + output);
        if (!WritePdf(output, pages, pages_))
            return Raise(exception, E_ACCESSDENIED, L"The PDF could not be written.");
        return S_OK;
    }

    struct Job
    {
        std::wstring path;
        HANDLE cancel;
    };
    static DWORD WINAPI Spool(void *context)
    {
        Job *job = static_cast<Job *>(context);
        if (WaitForSingleObject(job->cancel, spoolMs) == WAIT_TIMEOUT)
            Append(L"prints.log", job->path);
        return 0;
    }
    void startJob()
    {
        dropJob(L"printed again");
        job_ = new Job{path_, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        jobThread_ = CreateThread(nullptr, 0, Spool, job_, 0, nullptr);
    }
    // A document closed (or a server quit) while its job still spools loses the job.
    void dropJob(const wchar_t *why)
    {
        if (!job_)
            return;
        if (WaitForSingleObject(jobThread_, 0) == WAIT_TIMEOUT) {
            SetEvent(job_->cancel);
            WaitForSingleObject(jobThread_, INFINITE);
            Log(L"background job lost (document " + std::wstring(why) + L"): " + path_);
        }
        CloseHandle(jobThread_);
        CloseHandle(job_->cancel);
        delete job_;
        job_ = nullptr;
        jobThread_ = nullptr;
    }

    std::wstring path_;
    std::string behaviour_;
    std::wstring owner_;
    int pages_;
    bool closed_ = false;
    Job *job_ = nullptr;
    HANDLE jobThread_ = nullptr;
};

} // namespace

IDispatch *NewDocument(const std::wstring &path, const std::string &behaviour, const std::wstring &owner)
{
    return new Document(path, behaviour, owner);
}

} // namespace standin
