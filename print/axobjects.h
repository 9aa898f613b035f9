#pragma once
// The Windows client's inner parts, shared by its two files: the server's objects and how the client
// speaks to the user.

#include "print/axdispatch.h"
#include "print/axwordprocessor.h"

#include <QString>
#include <atomic>
#include <map>

#include <oaidl.h>

class QAxObject;

struct AxWordProcessor::Objects
{
    QAxObject *application = nullptr; // made on the call thread, and deleted there
    IDispatch *app = nullptr;
    IDispatch *documents = nullptr;
    std::map<Document, IDispatch *> opened;
    // Whether the print thread may still take app and documents for a call beside the call thread; no
    // longer once they are being released.
    std::atomic<bool> reachable{true};
};

// Told on standard error (the command line's console; the window has none).
void AxTell(const QString &text);

// Lets go of one reference to a server's object; on the call thread only.
void AxRelease(IDispatch *&object);

// PrintOut's call with the print options as its named arguments.
DispatchCall WithPrintOptions(DispatchCall call, const WordProcessor::PrintOptions &options);
