#pragma once
// One call on an automation object through IDispatch::Invoke, made as ActiveQt makes it (a method is
// invoked as method|get, values as VT_BSTR, VT_BOOL, VT_I4), but seeing what came back: the HRESULT, the
// server's own error code and text, the value. Named arguments go beside the positional ones, so that a
// call can name only the parameters it sets (PrintOut's Copies, Range, ...).

#include <QString>
#include <QVariant>
#include <chrono>
#include <functional>
#include <utility>
#include <vector>

#include <oaidl.h>

struct DispatchResult
{
    HRESULT result = E_FAIL;
    long code = 0;               // the server's own error code, when it raised one (DISP_E_EXCEPTION)
    QString description;         // and its text
    IDispatch *object = nullptr; // an object returned; the caller owns its one reference
    long number = 0;             // a number returned
    int busyRefusals = 0;        // refusals as busy before the call went through (or was given up)
    bool ok() const { return result == S_OK; }
    bool busy() const; // still refused as busy when the call was given up
};

// Whether a call failed because the server is gone (died, ended, disconnected): no further call reaches
// it, and its objects are dead.
bool ServerGone(HRESULT result);

class DispatchCall
{
public:
    enum Kind
    {
        Method, // invoked as DISPATCH_METHOD | DISPATCH_PROPERTYGET, as ActiveQt does
        Get,
        Put
    };
    DispatchCall(IDispatch *target, const wchar_t *member, Kind kind);

    DispatchCall &arg(const QVariant &value); // positional, in order; Put takes exactly one
    DispatchCall &named(const wchar_t *name, const QVariant &value);

    // Makes the call. A refusal as busy (RPC_E_CALL_REJECTED, RPC_E_SERVERCALL_RETRYLATER: a server whose
    // single thread is busy, and a caller with no message filter to retry for it) is tried again until
    // retryFor has passed or stop() says so.
    DispatchResult invoke(std::chrono::milliseconds retryFor, const std::function<bool()> &stop = nullptr);

private:
    IDispatch *target_;
    std::wstring member_;
    Kind kind_;
    std::vector<QVariant> positional_;
    std::vector<std::pair<std::wstring, QVariant>> named_;
};
