// The stand-in's logs, the values it takes and gives, and its state (the documents an instance has open,
// a busy period).

#include "standin.h"

#include <algorithm>
#include <cstdlib>

namespace standin {

const CLSID kClsid = {0x6c1f2e4b, 0x9a0d, 0x4d8e, {0xb3, 0xa1, 0x5f, 0x7c, 0x2d, 0x9e, 0x0b, 0x41}};
const wchar_t kClsidText[] = L"{6C1F2E4B-9A0D-4D8E-B3A1-5F7C2D9E0B41}";
const wchar_t kProgId[] = L"Word.Application";
std::wstring folder;
constexpr DWORD kDefaultSpoolMs = 300;
DWORD spoolMs = kDefaultSpoolMs;
DWORD mainThread = 0;
bool userInstance = false;
std::wstring userDocument;

namespace {

CRITICAL_SECTION logLock;
CRITICAL_SECTION stateLock;
std::vector<std::wstring> openDocuments; // in this instance: the user's and the run's
DWORD busyUntil = 0;
} // namespace

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

// The positional arguments in the caller's order (DISPPARAMS holds them last first), then the named ones
// in their parameters' order, by name where it is known.
std::wstring Arguments(const DISPPARAMS *params, const std::vector<const wchar_t *> &names)
{
    std::vector<std::wstring> parts;
    if (params) {
        for (UINT i = params->cArgs; i > params->cNamedArgs; --i)
            parts.push_back(VariantText(params->rgvarg[i - 1]));
        std::vector<std::pair<DISPID, UINT>> named;
        for (UINT i = 0; i < params->cNamedArgs; ++i)
            named.emplace_back(params->rgdispidNamedArgs[i], i);
        std::sort(named.begin(), named.end());
        for (const auto &n : named) {
            const bool known = n.first >= 0 && size_t(n.first) < names.size();
            parts.push_back((known ? std::wstring(names[size_t(n.first)]) : L"#" + std::to_wstring(n.first)) +
                            L"=" + VariantText(params->rgvarg[n.second]));
        }
    }
    std::wstring out = L"[";
    for (size_t i = 0; i < parts.size(); ++i)
        out += (i ? L", " : L"") + parts[i];
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

// The argument for parameter i, named or in its place, as a plain value; missing: VT_ERROR.
VARIANT Argument(const DISPPARAMS *params, UINT i)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_ERROR;
    V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
    if (!params)
        return v;
    for (UINT n = 0; n < params->cNamedArgs; ++n) {
        if (params->rgdispidNamedArgs[n] == DISPID(i)) {
            VariantCopyInd(&v, &params->rgvarg[n]);
            return v;
        }
    }
    const UINT positional = params->cArgs - params->cNamedArgs;
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

long LongArg(const DISPPARAMS *params, UINT i, long fallback)
{
    VARIANT v = Argument(params, i), n;
    VariantInit(&n);
    const bool given = !Missing(v) && SUCCEEDED(VariantChangeType(&n, &v, 0, VT_I4));
    VariantClear(&v);
    return given ? long(V_I4(&n)) : fallback;
}

bool BoolArg(const DISPPARAMS *params, UINT i, bool fallback)
{
    VARIANT v = Argument(params, i);
    const bool value = AsBool(v, fallback);
    VariantClear(&v);
    return value;
}

std::wstring TextArg(const DISPPARAMS *params, UINT i)
{
    VARIANT v = Argument(params, i);
    const std::wstring text = AsText(v);
    VariantClear(&v);
    return text;
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

void InitLog()
{
    InitializeCriticalSection(&logLock);
    InitializeCriticalSection(&stateLock);
    if (!userDocument.empty())
        openDocuments.push_back(userDocument);
}

void UseFolder(const std::wstring &path)
{
    EnterCriticalSection(&logLock);
    folder = path;
    spoolMs = kDefaultSpoolMs;
    LeaveCriticalSection(&logLock);
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

} // namespace standin
