// The stand-in word processor's Application and Documents (the Document is document.cpp), described by
// type information from CreateDispTypeInfo, as a real word processor's are (object.h).

#include "object.h"

#include <cstdlib>

namespace standin {

namespace {

// ---- Documents ---------------------------------------------------------------------------------------

class Documents : public Object
{
public:
    enum : DISPID
    {
        OpenId = 1,
        CountId = 2
    };

    Documents()
        : Object(L"documents",
                 {{L"Open",
                   OpenId,
                   DISPATCH_METHOD,
                   VT_DISPATCH,
                   {L"FileName", L"ConfirmConversions", L"ReadOnly", L"AddToRecentFiles", L"PasswordDocument",
                    L"PasswordTemplate", L"Revert", L"WritePasswordDocument"}},
                  {L"Count", CountId, DISPATCH_PROPERTYGET, VT_I4, {}}})
    {
    }

protected:
    HRESULT invoke(DISPID id, WORD flags, DISPPARAMS *params, VARIANT *result, EXCEPINFO *exception) override
    {
        if (id == CountId && (flags & DISPATCH_PROPERTYGET)) {
            if (result) {
                V_VT(result) = VT_I4;
                V_I4(result) = LONG(OpenCount());
            }
            return S_OK;
        }
        if (id != OpenId || !(flags & DISPATCH_METHOD))
            return DISP_E_MEMBERNOTFOUND;
        VARIANT name = Argument(params, 0), readOnlyArg = Argument(params, 2), password = Argument(params, 4);
        const std::wstring path = AsText(name);
        const bool readOnly = AsBool(readOnlyArg, false);
        const std::wstring given = AsText(password);
        VariantClear(&name);
        VariantClear(&readOnlyArg);
        VariantClear(&password);
        if (path.empty())
            return DISP_E_PARAMNOTOPTIONAL;
        const std::string behaviour = FirstLine(path);
        if (behaviour == "<missing>")
            return Raise(exception, 0x800A1436, L"The file could not be found.");
        if (behaviour.empty() || behaviour == "standin:damaged")
            return Raise(exception, 0x800A16A0, L"The file appears to be corrupted.");
        // Word keeps an owner file beside a document it opens for writing, from the start of the opening.
        const std::wstring owner = readOnly ? std::wstring() : MakeOwnerFile(path);
        if (behaviour == "standin:hang-open") {
            Log(L"open never returns: " + path);
            Sleep(INFINITE);
        }
        if (behaviour == "standin:spin-open") {
            Log(L"open spins: " + path);
            for (volatile unsigned long spin = 0;; spin = spin + 1) {
            }
        }
        if (behaviour == "standin:die-open")
            Die(L"Open");
        const std::string prefix = "standin:password=";
        if (behaviour.compare(0, prefix.size(), prefix) == 0 &&
            Wide(behaviour.substr(prefix.size())) != given) {
            RemoveOwnerFile(owner);
            return Raise(exception, 0x800A1520, L"The password is incorrect.");
        }
        // The user double-clicks a document of theirs meanwhile, and Word hands it to this instance.
        if (behaviour == "standin:user-opens") {
            Log(L"the user's document arrives");
            Opened(folder + L"\\用户的文档.docx");
        }
        const std::string busy = "standin:busy-after-open=";
        if (behaviour.compare(0, busy.size(), busy) == 0)
            BusyFor(DWORD(strtoul(behaviour.c_str() + busy.size(), nullptr, 10)));
        Opened(path);
        IDispatch *document = NewDocument(path, behaviour, owner);
        if (result) {
            V_VT(result) = VT_DISPATCH;
            V_DISPATCH(result) = document; // the caller takes the one reference
        } else {
            document->Release();
        }
        return S_OK;
    }
};

// ---- Application -------------------------------------------------------------------------------------

class Application : public Object
{
public:
    enum : DISPID
    {
        VisibleId = 1,
        DisplayAlertsId = 2,
        DocumentsId = 3,
        QuitId = 4
    };

    Application()
        : Object(L"application",
                 {{L"Visible", VisibleId, DISPATCH_PROPERTYGET, VT_BOOL, {}},
                  {L"Visible", VisibleId, DISPATCH_PROPERTYPUT, VT_EMPTY, {L"Visible"}},
                  {L"DisplayAlerts", DisplayAlertsId, DISPATCH_PROPERTYGET, VT_I4, {}},
                  {L"DisplayAlerts", DisplayAlertsId, DISPATCH_PROPERTYPUT, VT_EMPTY, {L"DisplayAlerts"}},
                  {L"Documents", DocumentsId, DISPATCH_PROPERTYGET, VT_DISPATCH, {}},
                  {L"Quit", QuitId, DISPATCH_METHOD, VT_EMPTY, {}}})
    {
    }
    ~Application() override
    {
        if (documents_)
            documents_->Release();
    }

protected:
    HRESULT invoke(DISPID id, WORD flags, DISPPARAMS *params, VARIANT *result, EXCEPINFO *) override
    {
        switch (id) {
        case VisibleId:
        case DisplayAlertsId: {
            LONG &value = id == VisibleId ? visible_ : alerts_;
            if (flags & DISPATCH_PROPERTYPUT) {
                if (!params || params->cArgs != 1)
                    return DISP_E_BADPARAMCOUNT;
                VARIANT v;
                VariantInit(&v);
                if (FAILED(VariantChangeType(&v, &params->rgvarg[0], 0, id == VisibleId ? VT_BOOL : VT_I4)))
                    return DISP_E_TYPEMISMATCH;
                value = id == VisibleId ? (V_BOOL(&v) ? 1 : 0) : V_I4(&v);
                return S_OK;
            }
            if (result) {
                if (id == VisibleId) {
                    V_VT(result) = VT_BOOL;
                    V_BOOL(result) = value ? VARIANT_TRUE : VARIANT_FALSE;
                } else {
                    V_VT(result) = VT_I4;
                    V_I4(result) = value;
                }
            }
            return S_OK;
        }
        case DocumentsId:
            if (!(flags & DISPATCH_PROPERTYGET))
                return DISP_E_MEMBERNOTFOUND;
            if (!documents_)
                documents_ = new Documents();
            if (result) {
                documents_->AddRef();
                V_VT(result) = VT_DISPATCH;
                V_DISPATCH(result) = documents_;
            }
            return S_OK;
        case QuitId:
            if (!(flags & DISPATCH_METHOD))
                return DISP_E_MEMBERNOTFOUND;
            // The reply has to leave before the process does: the loop ends a moment later.
            if (mainThread)
                PostThreadMessageW(mainThread, WM_APP, 0, 0);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    Documents *documents_ = nullptr;
    LONG visible_ = userInstance ? 1 : 0;
    LONG alerts_ = -1;
};

} // namespace

HRESULT CreateApplication(REFIID iid, void **out)
{
    Log(L"created");
    Application *application = new Application();
    const HRESULT result = application->QueryInterface(iid, out);
    application->Release();
    return result;
}

STDMETHODIMP Factory::QueryInterface(REFIID iid, void **out)
{
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *out = static_cast<IClassFactory *>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP Factory::CreateInstance(IUnknown *outer, REFIID iid, void **out)
{
    if (outer)
        return CLASS_E_NOAGGREGATION;
    return CreateApplication(iid, out);
}

} // namespace standin