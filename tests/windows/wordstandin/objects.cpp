// The stand-in word processor's automation objects: Application, Documents and Document, described by
// type information from CreateDispTypeInfo, as a real word processor's are. Every call is logged with its
// arguments and their variant types in calls.log of the stand-in's folder; "printing" appends the
// document's path to prints.log.

#include "standin.h"

#include <cstdlib>

namespace standin {

const CLSID kClsid = {0x6c1f2e4b, 0x9a0d, 0x4d8e, {0xb3, 0xa1, 0x5f, 0x7c, 0x2d, 0x9e, 0x0b, 0x41}};
const wchar_t kClsidText[] = L"{6C1F2E4B-9A0D-4D8E-B3A1-5F7C2D9E0B41}";
const wchar_t kProgId[] = L"Word.Application";
std::wstring folder;
DWORD spoolMs = 300;
DWORD mainThread = 0;
bool userInstance = false;
std::wstring userDocument;

namespace {

CRITICAL_SECTION logLock;
CRITICAL_SECTION stateLock;
std::vector<std::wstring> openDocuments; // in this instance: the user's and the run's
DWORD busyUntil = 0;

// ---- logs --------------------------------------------------------------------------------------------

std::string Utf8(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string &utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &out[0], n);
    return out;
}

// Each line is written and the file closed at once, so that a server killed mid-run leaves a whole log.
void Append(const wchar_t *name, const std::wstring &line)
{
    EnterCriticalSection(&logLock);
    const std::wstring path = folder + L"\\" + name;
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        const std::string bytes = Utf8(line) + "\n";
        DWORD written = 0;
        WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    LeaveCriticalSection(&logLock);
}

std::wstring VariantText(const VARIANT &v)
{
    std::wstring type;
    const VARTYPE base = V_VT(&v) & VT_TYPEMASK;
    switch (base) {
    case VT_EMPTY:
        type = L"VT_EMPTY";
        break;
    case VT_NULL:
        type = L"VT_NULL";
        break;
    case VT_I2:
        type = L"VT_I2";
        break;
    case VT_I4:
        type = L"VT_I4";
        break;
    case VT_BSTR:
        type = L"VT_BSTR";
        break;
    case VT_BOOL:
        type = L"VT_BOOL";
        break;
    case VT_VARIANT:
        type = L"VT_VARIANT";
        break;
    case VT_DISPATCH:
        type = L"VT_DISPATCH";
        break;
    case VT_ERROR:
        type = L"VT_ERROR";
        break;
    case VT_UI1:
        type = L"VT_UI1";
        break;
    case VT_INT:
        type = L"VT_INT";
        break;
    default:
        type = L"VT_" + std::to_wstring(base);
        break;
    }
    if (V_VT(&v) & VT_BYREF)
        type += L"|VT_BYREF";
    // The value, read through a by-value copy so that references and nested variants show what they hold.
    VARIANT copy;
    VariantInit(&copy);
    std::wstring value;
    if (base == VT_ERROR && !(V_VT(&v) & VT_BYREF)) {
        wchar_t hex[16];
        wsprintfW(hex, L"%08lX", (unsigned long)V_ERROR(&v));
        value = hex;
    } else if (base == VT_BOOL) {
        VARIANT_BOOL b = (V_VT(&v) & VT_BYREF) ? *V_BOOLREF(&v) : V_BOOL(&v);
        value = b ? L"true" : L"false";
    } else if (SUCCEEDED(VariantCopyInd(&copy, const_cast<VARIANT *>(&v))) && V_VT(&copy) == VT_VARIANT) {
        value = L"?";
    } else if (base == VT_EMPTY) {
        value = L"";
    } else if (SUCCEEDED(VariantChangeType(&copy, &copy, 0, VT_BSTR)) && V_VT(&copy) == VT_BSTR) {
        value = L"\"" + std::wstring(V_BSTR(&copy), SysStringLen(V_BSTR(&copy))) + L"\"";
    } else {
        value = L"?";
    }
    VariantClear(&copy);
    return type + L":" + value;
}

// Arguments in the caller's order (DISPPARAMS holds them last first), named ones marked.
std::wstring Arguments(const DISPPARAMS *params)
{
    std::wstring out = L"[";
    if (params) {
        for (UINT i = 0; i < params->cArgs; ++i) {
            const UINT index = params->cArgs - 1 - i;
            if (i)
                out += L", ";
            if (index < params->cNamedArgs)
                out += L"#" + std::to_wstring(params->rgdispidNamedArgs[index]) + L"=";
            out += VariantText(params->rgvarg[index]);
        }
    }
    return out + L"]";
}

std::wstring Flags(WORD flags)
{
    std::wstring out;
    if (flags & DISPATCH_METHOD)
        out += L"method";
    if (flags & DISPATCH_PROPERTYGET)
        out += out.empty() ? L"get" : L"|get";
    if (flags & DISPATCH_PROPERTYPUT)
        out += out.empty() ? L"put" : L"|put";
    if (flags & DISPATCH_PROPERTYPUTREF)
        out += out.empty() ? L"putref" : L"|putref";
    return out;
}

// Positional argument i (0 = first) as a plain value, or VT_ERROR/DISP_E_PARAMNOTFOUND when missing.
VARIANT Argument(const DISPPARAMS *params, UINT i)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_ERROR;
    V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
    const UINT positional = params ? params->cArgs - params->cNamedArgs : 0;
    if (i < positional)
        VariantCopyInd(&v, &params->rgvarg[params->cArgs - 1 - i]);
    return v;
}

bool Missing(const VARIANT &v)
{
    return V_VT(&v) == VT_ERROR || V_VT(&v) == VT_EMPTY;
}

// Word coerces what it is given to the parameter's type; "false" as text reads as false.
bool AsBool(const VARIANT &v, bool fallback)
{
    if (Missing(v))
        return fallback;
    VARIANT b;
    VariantInit(&b);
    if (FAILED(VariantChangeType(&b, const_cast<VARIANT *>(&v), 0, VT_BOOL)))
        return fallback;
    return V_BOOL(&b) != VARIANT_FALSE;
}

std::wstring AsText(const VARIANT &v)
{
    VARIANT s;
    VariantInit(&s);
    if (Missing(v) || FAILED(VariantChangeType(&s, const_cast<VARIANT *>(&v), 0, VT_BSTR)))
        return std::wstring();
    std::wstring out(V_BSTR(&s), SysStringLen(V_BSTR(&s)));
    VariantClear(&s);
    return out;
}

HRESULT Raise(EXCEPINFO *info, HRESULT code, const std::wstring &description)
{
    if (info) {
        ZeroMemory(info, sizeof(*info));
        info->bstrSource = SysAllocString(L"Quillmark word processor stand-in");
        info->bstrDescription = SysAllocString(description.c_str());
        info->scode = code;
    }
    return DISP_E_EXCEPTION;
}

void Die(const std::wstring &where)
{
    Log(L"server dies in " + where);
    TerminateProcess(GetCurrentProcess(), 3);
}

size_t OpenCount()
{
    EnterCriticalSection(&stateLock);
    const size_t n = openDocuments.size();
    LeaveCriticalSection(&stateLock);
    return n;
}

void Opened(const std::wstring &path)
{
    EnterCriticalSection(&stateLock);
    openDocuments.push_back(path);
    LeaveCriticalSection(&stateLock);
}

void BusyFor(DWORD ms)
{
    EnterCriticalSection(&stateLock);
    busyUntil = GetTickCount() + ms;
    LeaveCriticalSection(&stateLock);
    Log(L"busy for " + std::to_wstring(ms) + L" ms");
}

// "~$" before a short name, in place of the first one or two characters of a longer one, as Word names it.
std::wstring MakeOwnerFile(const std::wstring &path)
{
    const size_t slash = path.find_last_of(L'\\');
    const std::wstring name = path.substr(slash + 1);
    const size_t dot = name.find_last_of(L'.');
    const size_t base = dot == std::wstring::npos ? name.size() : dot;
    const std::wstring owned = base >= 8 ? name.substr(2) : (base == 7 ? name.substr(1) : name);
    const std::wstring owner = path.substr(0, slash + 1) + L"~$" + owned;
    HANDLE file = CreateFileW(owner.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::wstring();
    DWORD written = 0;
    WriteFile(file, "standin owner file", 18, &written, nullptr);
    CloseHandle(file);
    return owner;
}

void RemoveOwnerFile(const std::wstring &owner)
{
    if (owner.empty())
        return;
    SetFileAttributesW(owner.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(owner.c_str());
}

void Closed(const std::wstring &path, const std::wstring &owner)
{
    EnterCriticalSection(&stateLock);
    for (auto it = openDocuments.begin(); it != openDocuments.end(); ++it) {
        if (*it == path) {
            openDocuments.erase(it);
            break;
        }
    }
    LeaveCriticalSection(&stateLock);
    RemoveOwnerFile(owner);
}

// ---- documents on disk -------------------------------------------------------------------------------

// The first line of the file, or "<missing>" when it cannot be read.
std::string FirstLine(const std::wstring &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    char buffer[512];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof(buffer), &read, nullptr);
    CloseHandle(file);
    std::string line(buffer, read);
    const size_t end = line.find_first_of("\r\n");
    if (end != std::string::npos)
        line.resize(end);
    return line;
}

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

void InitLog()
{
    InitializeCriticalSection(&logLock);
    InitializeCriticalSection(&stateLock);
    if (!userDocument.empty())
        openDocuments.push_back(userDocument);
}

// "t=<ms since boot> <text>": the tests read the pauses between calls from it.
void Log(const std::wstring &text)
{
    Append(L"calls.log", L"t=" + std::to_wstring(GetTickCount()) + L" " + text);
}

std::wstring RegisteredFolder()
{
    wchar_t value[MAX_PATH];
    DWORD size = sizeof(value);
    const std::wstring key = std::wstring(L"CLSID\\") + kClsidText;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), L"Folder", RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return std::wstring();
    return value;
}

void ReadControl(bool *singleThreaded)
{
    HANDLE file = CreateFileW((folder + L"\\control.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char buffer[4096];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof(buffer) - 1, &read, nullptr);
    CloseHandle(file);
    const std::string text(buffer, read);
    const std::string key = "spool-ms=";
    const size_t at = text.find(key);
    if (at != std::string::npos)
        spoolMs = DWORD(strtoul(text.c_str() + at + key.size(), nullptr, 10));
    *singleThreaded = text.find("apartment=sta") != std::string::npos;
}

bool BusyNow()
{
    EnterCriticalSection(&stateLock);
    const bool busy = int(busyUntil - GetTickCount()) > 0;
    LeaveCriticalSection(&stateLock);
    return busy;
}

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
