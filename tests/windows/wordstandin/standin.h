#pragma once
// The stand-in word processor's parts: its automation objects (objects.cpp), its logs, values and state
// (support.cpp), the local server and its registrations (server.cpp), the in-process server (inproc.cpp).
// The IDispatch they share is object.h; the document is document.cpp.

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
// Logs into path from now on; the spool time is the default again until ReadControl reads path's.
void UseFolder(const std::wstring &path);
void Log(const std::wstring &text);
// Appends one line to a log of the folder (prints.log, ...), closing it at once.
void Append(const wchar_t *name, const std::wstring &line);
std::wstring Wide(const std::string &utf8);
// How a call arrived: its kind (method, get, put) and its arguments with their variant types.
std::wstring Flags(WORD flags);
// Named arguments by their parameter's name when names (the member's parameters) has it.
std::wstring Arguments(const DISPPARAMS *params, const std::vector<const wchar_t *> &names = {});
// The argument for parameter i (0 = first), named or in its place, as a plain value; VT_ERROR with
// DISP_E_PARAMNOTFOUND when it was not given.
VARIANT Argument(const DISPPARAMS *params, UINT i);
// The same, read as a number, a truth value or a text.
long LongArg(const DISPPARAMS *params, UINT i, long fallback);
bool BoolArg(const DISPPARAMS *params, UINT i, bool fallback);
std::wstring TextArg(const DISPPARAMS *params, UINT i);
// Word coerces what it is given to the parameter's type; "false" as text reads as false.
bool AsBool(const VARIANT &v, bool fallback);
std::wstring AsText(const VARIANT &v);
HRESULT Raise(EXCEPINFO *info, HRESULT code, const std::wstring &description);
void Die(const std::wstring &where);
// The first line of a file, which says what the document does; "<missing>" when it cannot be read.
std::string FirstLine(const std::wstring &path);

// The documents open in this instance (the user's and the run's), and their owner files.
size_t OpenCount();
void Opened(const std::wstring &path);
void Closed(const std::wstring &path, const std::wstring &owner);
std::wstring MakeOwnerFile(const std::wstring &path);
void RemoveOwnerFile(const std::wstring &owner);
void BusyFor(DWORD ms);
// The folder the registration names (CLSID\{...}\Folder), for a server started without one.
std::wstring RegisteredFolder();
void ReadControl(bool *singleThreaded);
// While a busy period lasts, the server refuses incoming calls (its message filter).
bool BusyNow();

// A document object for an opened document (document.cpp); the caller takes its one reference.
IDispatch *NewDocument(const std::wstring &path, const std::string &behaviour, const std::wstring &owner);

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
