// The stand-in word processor's automation objects: Application, Documents and Document, described by
// type information from CreateDispTypeInfo, as a real word processor's are. Every call is logged with its
// arguments and their variant types in calls.log of the stand-in's folder; "printing" appends the
// document's path to prints.log.

#include "standin.h"

#include <cstdlib>

namespace standin {

namespace {

// ---- IDispatch with type information from CreateDispTypeInfo -----------------------------------------

struct Member
{
    const wchar_t *name;
    DISPID id;
    WORD flags;
    VARTYPE result;
    std::vector<const wchar_t *> params; // all VARIANT
};

class Object : public IDispatch
{
public:
    Object(const wchar_t *kind, const std::vector<Member> &members) : kind_(kind), members_(members)
    {
        // CreateDispTypeInfo keeps pointers into these until the type information is built.
        std::vector<std::vector<PARAMDATA>> params(members.size());
        std::vector<METHODDATA> methods;
        UINT slot = 7; // after IUnknown and IDispatch
        for (size_t i = 0; i < members.size(); ++i) {
            for (const wchar_t *p : members[i].params)
                params[i].push_back(PARAMDATA{const_cast<OLECHAR *>(p), VT_VARIANT});
            METHODDATA m{};
            m.szName = const_cast<OLECHAR *>(members[i].name);
            m.ppdata = params[i].empty() ? nullptr : params[i].data();
            m.dispid = members[i].id;
            m.iMeth = slot++;
            m.cc = CC_STDCALL;
            m.cArgs = UINT(params[i].size());
            m.wFlags = members[i].flags;
            m.vtReturn = members[i].result;
            methods.push_back(m);
        }
        INTERFACEDATA data{methods.data(), UINT(methods.size())};
        ITypeInfo *info = nullptr;
        if (SUCCEEDED(CreateDispTypeInfo(&data, LOCALE_SYSTEM_DEFAULT, &info)))
            typeInfo_ = info;
    }
    virtual ~Object()
    {
        if (typeInfo_)
            typeInfo_->Release();
    }

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *out = static_cast<IDispatch *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return ULONG(left);
    }
    STDMETHODIMP GetTypeInfoCount(UINT *count) override
    {
        if (!count)
            return E_POINTER;
        *count = typeInfo_ ? 1 : 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo **info) override
    {
        if (!info)
            return E_POINTER;
        *info = nullptr;
        if (index != 0 || !typeInfo_)
            return DISP_E_BADINDEX;
        typeInfo_->AddRef();
        *info = typeInfo_;
        return S_OK;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID, DISPID *ids) override
    {
        const HRESULT result = typeInfo_ ? DispGetIDsOfNames(typeInfo_, names, count, ids) : E_FAIL;
        if (FAILED(result) && count > 0)
            Log(kind_ + L" unknown-name " + names[0]);
        return result;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                        EXCEPINFO *exception, UINT *) override
    {
        std::wstring name = L"#" + std::to_wstring(id);
        for (const Member &member : members_) {
            if (member.id == id)
                name = member.name;
        }
        Log(kind_ + L" " + Flags(flags) + L" " + name + L" " + Arguments(params));
        if (result)
            VariantInit(result);
        return invoke(id, flags, params, result, exception);
    }

protected:
    virtual HRESULT invoke(DISPID id, WORD flags, DISPPARAMS *params, VARIANT *result,
                           EXCEPINFO *exception) = 0;

    std::wstring kind_;

private:
    std::vector<Member> members_;
    LONG refs_ = 1;
    ITypeInfo *typeInfo_ = nullptr;
};

// ---- Document ----------------------------------------------------------------------------------------

class Application;

class Document : public Object
{
public:
    enum : DISPID
    {
        PrintOutId = 1,
        CloseId = 2
    };

    Document(const std::wstring &path, const std::string &behaviour, const std::wstring &owner)
        : Object(L"document", {{L"PrintOut", PrintOutId, DISPATCH_METHOD, VT_EMPTY, {L"Background"}},
                               {L"Close", CloseId, DISPATCH_METHOD, VT_EMPTY, {L"SaveChanges"}}}),
          path_(path), behaviour_(behaviour), owner_(owner)
    {
    }
    ~Document() override { dropJob(L"released"); }

protected:
    HRESULT invoke(DISPID id, WORD flags, DISPPARAMS *params, VARIANT *, EXCEPINFO *exception) override
    {
        if (!(flags & DISPATCH_METHOD))
            return DISP_E_MEMBERNOTFOUND;
        if (id == PrintOutId) {
            if (closed_)
                return Raise(exception, 0x800A1098, L"This document is closed.");
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
            // Word prints in the background unless told otherwise (its default setting).
            VARIANT background = Argument(params, 0);
            const bool inBackground = AsBool(background, true);
            VariantClear(&background);
            if (inBackground) {
                startJob();
            } else {
                Sleep(spoolMs);
                Append(L"prints.log", path_);
            }
            return S_OK;
        }
        if (id == CloseId) {
            if (!closed_)
                Closed(path_, owner_);
            closed_ = true;
            dropJob(L"closed");
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
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
    bool closed_ = false;
    Job *job_ = nullptr;
    HANDLE jobThread_ = nullptr;
};

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
        Document *document = new Document(path, behaviour, owner);
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