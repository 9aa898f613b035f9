#include "print/axdispatch.h"

#include <thread>

#include <oleauto.h>
#include <winerror.h>

namespace {

bool IsBusy(HRESULT result)
{
    return result == RPC_E_CALL_REJECTED || result == RPC_E_SERVERCALL_RETRYLATER;
}

VARIANT ToVariant(const QVariant &value)
{
    VARIANT v;
    VariantInit(&v);
    switch (value.type()) {
    case QVariant::Bool:
        V_VT(&v) = VT_BOOL;
        V_BOOL(&v) = value.toBool() ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case QVariant::Int:
    case QVariant::UInt:
        V_VT(&v) = VT_I4;
        V_I4(&v) = value.toInt();
        break;
    default: {
        const QString text = value.toString();
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(text.utf16()), UINT(text.size()));
        break;
    }
    }
    return v;
}

} // namespace

bool DispatchResult::busy() const
{
    return IsBusy(result);
}

bool ServerGone(HRESULT result)
{
    switch (result) {
    case RPC_E_DISCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case CO_E_OBJNOTCONNECTED:
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE):
        return true;
    default:
        return false;
    }
}

DispatchCall::DispatchCall(IDispatch *target, const wchar_t *member, Kind kind)
    : target_(target), member_(member), kind_(kind)
{
}

DispatchCall &DispatchCall::arg(const QVariant &value)
{
    positional_.push_back(value);
    return *this;
}

DispatchCall &DispatchCall::named(const wchar_t *name, const QVariant &value)
{
    named_.emplace_back(name, value);
    return *this;
}

DispatchResult DispatchCall::invoke(std::chrono::milliseconds retryFor, const std::function<bool()> &stop)
{
    DispatchResult out;
    if (!target_)
        return out;
    // The member's id and the named arguments' ids in one lookup, as the server's type information gives
    // them. A lookup refused as busy is tried again like the call.
    std::vector<LPOLESTR> names{const_cast<LPOLESTR>(member_.c_str())};
    for (auto &n : named_)
        names.push_back(const_cast<LPOLESTR>(n.first.c_str()));
    std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);

    // rgvarg holds the named arguments first, then the positional ones last to first.
    const bool put = kind_ == Put;
    const size_t namedCount = named_.size() + (put ? 1 : 0);
    std::vector<VARIANT> args;
    std::vector<DISPID> namedIds;
    if (put) {
        args.push_back(ToVariant(positional_.empty() ? QVariant() : positional_.front()));
        namedIds.push_back(DISPID_PROPERTYPUT);
    }
    for (auto &n : named_)
        args.push_back(ToVariant(n.second));
    if (!put) {
        for (auto it = positional_.rbegin(); it != positional_.rend(); ++it)
            args.push_back(ToVariant(*it));
    }

    const auto until = std::chrono::steady_clock::now() + retryFor;
    std::chrono::milliseconds pause(20);
    bool looked = false;
    for (;;) {
        HRESULT result = S_OK;
        if (!looked) {
            result = target_->GetIDsOfNames(IID_NULL, names.data(), UINT(names.size()), LOCALE_USER_DEFAULT,
                                            ids.data());
            looked = result == S_OK;
            if (looked) {
                for (size_t i = 1; i < ids.size(); ++i)
                    namedIds.insert(namedIds.begin() + (put ? 1 : 0) + (i - 1), ids[i]);
            }
        }
        if (looked) {
            DISPPARAMS params{args.empty() ? nullptr : args.data(),
                              namedIds.empty() ? nullptr : namedIds.data(), UINT(args.size()),
                              UINT(namedCount)};
            VARIANT value;
            VariantInit(&value);
            EXCEPINFO exception{};
            UINT argError = 0;
            const WORD flags = kind_ == Method
                                   ? WORD(DISPATCH_METHOD | DISPATCH_PROPERTYGET)
                                   : (put ? WORD(DISPATCH_PROPERTYPUT) : WORD(DISPATCH_PROPERTYGET));
            result = target_->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &value,
                                     &exception, &argError);
            if (result == DISP_E_EXCEPTION) {
                if (exception.pfnDeferredFillIn)
                    exception.pfnDeferredFillIn(&exception);
                out.code = exception.wCode ? long(0x800A0000UL | exception.wCode) : long(exception.scode);
                if (exception.bstrDescription)
                    out.description = QString::fromWCharArray(exception.bstrDescription,
                                                              int(SysStringLen(exception.bstrDescription)));
            }
            SysFreeString(exception.bstrSource);
            SysFreeString(exception.bstrDescription);
            SysFreeString(exception.bstrHelpFile);
            if (result == S_OK) {
                if (V_VT(&value) == VT_DISPATCH && V_DISPATCH(&value)) {
                    out.object = V_DISPATCH(&value);
                    out.object->AddRef();
                } else {
                    VARIANT number;
                    VariantInit(&number);
                    if (SUCCEEDED(VariantChangeType(&number, &value, 0, VT_I4)))
                        out.number = V_I4(&number);
                    VariantClear(&number);
                }
            }
            VariantClear(&value);
        }
        out.result = result;
        if (!IsBusy(result) || std::chrono::steady_clock::now() + pause > until || (stop && stop()))
            break;
        ++out.busyRefusals;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(500));
    }
    for (VARIANT &v : args)
        VariantClear(&v);
    return out;
}
