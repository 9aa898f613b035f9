#pragma once
// The stand-in word processor's parts: its automation objects (objects.cpp), the local server and its
// registrations (server.cpp), the in-process server (inproc.cpp).

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <vector>

namespace standin {

// {6C1F2E4B-9A0D-4D8E-B3A1-5F7C2D9E0B41}: the stand-in's own class, never a real word processor's.
extern const CLSID kClsid;
extern const wchar_t kClsidText[];
extern const wchar_t kProgId[];

extern std::wstring folder; // where the logs and control.txt are
extern DWORD spoolMs;
extern DWORD mainThread;  // the server's message loop; 0 in process
extern bool userInstance; // started by the user: visible, keeps a document of the user's open
extern std::wstring userDocument;

void InitLog();
void Log(const std::wstring &text);
// The folder the registration names (CLSID\{...}\Folder), for a server started without one.
std::wstring RegisteredFolder();
void ReadControl(bool *singleThreaded);
// While a busy period lasts, the server refuses incoming calls (its message filter).
bool BusyNow();

// Makes a new application object (the class factory's CreateInstance).
HRESULT CreateApplication(REFIID iid, void **out);

class Factory : public IClassFactory
{
public:
    STDMETHODIMP QueryInterface(REFIID iid, void **out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID iid, void **out) override;
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

} // namespace standin
