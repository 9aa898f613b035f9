#pragma once
// The calls on one document in the office: load it with an explicit filter, the password and an
// interaction handler that answers Abort; print it to a named printer while listening to the job's
// events; close it. Each call is made on the call thread; none of them is bounded in time here.

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/lang/XComponent.hpp>

#include "print/wordprocessor.h"

#include <QString>

#include <atomic>
#include <string>

namespace unodocument {

enum class LoadResult
{
    Opened,
    Refused,         // not a document of this filter, damaged, missing
    PasswordRefused, // protected, and the password offered did not open it
    BridgeFailed     // the call failed as a whole (a dead bridge, for instance): the office may be gone
};

struct Loaded
{
    LoadResult result = LoadResult::Refused;
    com::sun::star::uno::Reference<com::sun::star::lang::XComponent> component;
};

// The URL the office loads a file from: every byte of the path as the file system holds it,
// percent-encoded outside the unreserved characters, so that any name loads.
std::string FileUrl(const QString &path);

// original: the document's own path when path is a link to it; what the document refers to by a
// relative address is looked for beside the original, not beside the link. Empty: path itself.
Loaded Load(const com::sun::star::uno::Reference<com::sun::star::frame::XDesktop2> &desktop,
            const QString &path, const std::string &filter, const QString &password,
            const QString &original = QString());

struct Printed
{
    bool printerSet = false;  // the document took the printer (an unknown name is ignored silently)
    bool returned = false;    // print() came back
    bool threw = false;       // a call failed
    bool spoolFailed = false; // the office said the job did not get out
    bool spooled = false;     // the office said the job reached the queue
    int pages = -1;           // the document's pages as laid out for the print; -1 unknown
};

// Prints on printer with options and waits until the job is queued. Every event of the job bumps progress.
// Unless printerKnown, the document is asked afterwards whether it took the printer (an unknown name is
// ignored silently); printerSet tells.
Printed Print(const com::sun::star::uno::Reference<com::sun::star::lang::XComponent> &component,
              const std::string &printer, bool printerKnown, std::atomic<unsigned> *progress,
              const WordProcessor::PrintOptions &options = WordProcessor::PrintOptions());

// The number of pages as the office lays the document out; -1 when it cannot tell.
int PageCount(const com::sun::star::uno::Reference<com::sun::star::lang::XComponent> &component);

enum class ExportResult
{
    Written,
    Failed,      // the office refused or could not write
    BridgeFailed // the call failed as a whole: the office may be gone
};

// Saves the document as PDF at path (a name the office can take: UTF-8), unencrypted; pages as in
// "1-3,5", empty for all.
ExportResult ExportPdf(const com::sun::star::uno::Reference<com::sun::star::lang::XComponent> &component,
                       const QString &path, const QString &pages);

// Closes without saving; disposes it when closing is vetoed. Throws what the office throws.
void Close(const com::sun::star::uno::Reference<com::sun::star::lang::XComponent> &component);

} // namespace unodocument
