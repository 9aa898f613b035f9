// A stand-in word processor for the Windows tests: an automation server registered as
// "Word.Application", reached through IDispatch with real type information, as Word and WPS are. It
// implements exactly the members the print run calls, with the parameters of Word's type library, and
// records every call, with its arguments and their variant types, in calls.log of its folder; "printing"
// appends the document's path to prints.log.
//
//   wordstandin.exe /regserver FOLDER [quoted|unquoted|launcher|inproc]
//       registers it (the server then runs with FOLDER as its folder):
//         quoted     "C:\...\wordstandin.exe" -- a local server, its path quoted (the default)
//         unquoted   C:\...\wordstandin.exe /Automation -- unquoted, as Office registers itself; put the
//                    program in a folder whose name has spaces to see the difference
//         launcher   this program, started as a launcher that starts wordstandin.exe beside it and
//                    ends (copy wordstandin.exe under another name and register the copy)
//         inproc     wordstandin.dll beside it, served inside the client's own process
//   wordstandin.exe /unregserver        removes the registration
//   wordstandin.exe /user FOLDER DOC    a user's own running instance: serves any number of clients
//                                       (multi-use), visible, with DOC open
//
// What a document does is written in the document itself (its first line):
//   standin:password=SECRET   opens only with SECRET as the document password
//   standin:damaged           does not open (an empty file does not either)
//   standin:hang-open         Open never returns, like a dialog nobody sees
//   standin:spin-open         Open never returns and keeps the processor busy
//   standin:die-open          the server dies inside Open
//   standin:user-opens        while it opens, a document of the user's arrives in the same instance
//   standin:busy-after-open=N after it opened, the server refuses every call as busy for N ms
//   standin:die-print         the server dies inside PrintOut
//   standin:hang-print        PrintOut never returns
//   standin:printout-fails    PrintOut raises an exception (no printer)
//   standin:printout-hr=HEX   PrintOut returns this HRESULT
//   standin:export-fails      ExportAsFixedFormat leaves a partial PDF and raises
// and anything else opens and prints. A line "standin:pages=N" anywhere gives the document N pages (1
// without one): PrintOut honours Copies, Collate, and Pages with Range wdPrintRangeOfPages, and logs
// what it printed; ExportAsFixedFormat writes a PDF of the pages asked for, exactly at OutputFileName.
// FOLDER\control.txt may hold "spool-ms=N": how long a document takes to spool (default 300), and
// "apartment=sta": the server serves from a single-threaded apartment, as Word does, and refuses calls as
// busy through its message filter. Printed in the background (PrintOut without Background false), the job is
// lost when the document is closed or the server quits before it has spooled.

#include "standin.h"

#include <cstdlib>

using namespace standin;

namespace {

const wchar_t kReadyEvent[] = L"Local\\QuillmarkStandInRegistered";

// Refuses incoming calls while the server is busy. Windows tells a caller that has no message filter of
// its own "call rejected" for both answers; Wine carries out only the outright refusal.
class BusyFilter : public IMessageFilter
{
public:
    STDMETHODIMP QueryInterface(REFIID iid, void **out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMessageFilter)) {
            *out = static_cast<IMessageFilter *>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(DWORD) HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override
    {
        if (!BusyNow())
            return SERVERCALL_ISHANDLED;
        Log(L"refused as busy");
        return SERVERCALL_REJECTED;
    }
    STDMETHODIMP_(DWORD) RetryRejectedCall(HTASK, DWORD, DWORD) override { return DWORD(-1); }
    STDMETHODIMP_(DWORD) MessagePending(HTASK, DWORD, DWORD) override { return PENDINGMSG_WAITDEFPROCESS; }
};

bool SetKey(const std::wstring &key, const wchar_t *name, const std::wstring &value)
{
    HKEY handle;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                                       DWORD((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

std::wstring ProgramFolder()
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path = exe;
    return path.substr(0, path.find_last_of(L'\\'));
}

int Unregister()
{
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kClsidText).c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
    return 0;
}

int Register(const std::wstring &serverFolder, const std::wstring &how)
{
    Unregister();
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsidText;
    bool ok = SetKey(kProgId, nullptr, L"Quillmark word processor stand-in") &&
              SetKey(std::wstring(kProgId) + L"\\CLSID", nullptr, kClsidText) &&
              SetKey(clsidKey, nullptr, L"Quillmark word processor stand-in") &&
              SetKey(clsidKey, L"Folder", serverFolder) && SetKey(clsidKey + L"\\ProgID", nullptr, kProgId);
    if (how == L"inproc") {
        ok = ok && SetKey(clsidKey + L"\\InprocServer32", nullptr, ProgramFolder() + L"\\wordstandin.dll") &&
             SetKey(clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Both");
    } else {
        std::wstring command = L"\"" + std::wstring(exe) + L"\" \"" + serverFolder + L"\"";
        if (how == L"unquoted")
            command = std::wstring(exe) + L" /Automation";
        else if (how == L"launcher")
            command = L"\"" + std::wstring(exe) + L"\" /launch";
        ok = ok && SetKey(clsidKey + L"\\LocalServer32", nullptr, command);
    }
    return ok ? 0 : 1;
}

// Starts the real server beside it and ends, as a vendor's launcher does.
int Launch()
{
    const std::wstring server = ProgramFolder() + L"\\wordstandin.exe";
    std::wstring command = L"\"" + server + L"\" /Automation -Embedding";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // It ends a moment after the server has registered its class: Wine looks for the class once a second
    // and gives up when the process it started has ended by then.
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, kReadyEvent);
    if (!CreateProcessW(server.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return 2;
    WaitForSingleObject(ready, 30000);
    CloseHandle(ready);
    Sleep(2500);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

int Serve()
{
    bool singleThreaded = false;
    ReadControl(&singleThreaded);
    Log(L"server started, pid " + std::to_wstring(GetCurrentProcessId()));
    // Word serves its objects from one thread with a message loop (a single-threaded apartment).
    if (FAILED(CoInitializeEx(nullptr, singleThreaded ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED)))
        return 2;
    static BusyFilter filter;
    if (singleThreaded) {
        IMessageFilter *old = nullptr;
        CoRegisterMessageFilter(&filter, &old);
    }
    static Factory factory;
    DWORD cookie = 0;
    // Started for automation, one client per process, as Word: each "Word.Application" is a process of
    // its own. The user's own instance takes any client, as a multi-use server does.
    if (FAILED(CoRegisterClassObject(kClsid, &factory, CLSCTX_LOCAL_SERVER,
                                     userInstance ? REGCLS_MULTIPLEUSE : REGCLS_SINGLEUSE, &cookie))) {
        Log(L"could not register the class object");
        CoUninitialize();
        return 2;
    }
    if (HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, kReadyEvent)) {
        SetEvent(ready);
        CloseHandle(ready);
    }
    // A server left running ends when FOLDER\stop-user appears (a killed multi-use server's class would
    // stay registered under Wine).
    const UINT_PTR look = SetTimer(nullptr, 0, 200, nullptr);
    MSG message;
    bool quitting = false;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == WM_TIMER && message.wParam == look &&
            GetFileAttributesW((folder + L"\\stop-user").c_str()) != INVALID_FILE_ATTRIBUTES)
            break;
        if (message.hwnd == nullptr && message.message == WM_APP && !quitting) {
            quitting = true;
            SetTimer(nullptr, 0, 300, nullptr);
            continue;
        }
        if (message.hwnd == nullptr && message.message == WM_TIMER && message.wParam != look && quitting)
            break;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    CoRevokeClassObject(cookie);
    Log(L"server quits");
    CoUninitialize();
    return 0;
}

} // namespace

int main()
{
    mainThread = GetCurrentThreadId();
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc >= 3 && lstrcmpiW(argv[1], L"/regserver") == 0)
        return Register(argv[2], argc >= 4 ? argv[3] : L"quoted");
    if (argc >= 2 && lstrcmpiW(argv[1], L"/unregserver") == 0)
        return Unregister();
    if (argc >= 2 && lstrcmpiW(argv[1], L"/launch") == 0)
        return Launch();
    if (argc >= 4 && lstrcmpiW(argv[1], L"/user") == 0) {
        folder = argv[2];
        userInstance = true;
        userDocument = argv[3];
        InitLog();
        return Serve();
    }
    // Started by COM: with the folder as registered (quoted), or with switches only.
    folder =
        argc >= 2 && argv[1][0] != L'-' && argv[1][0] != L'/' ? std::wstring(argv[1]) : RegisteredFolder();
    if (folder.empty())
        return 64;
    InitLog();
    return Serve();
}
