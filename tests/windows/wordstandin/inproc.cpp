// The stand-in served inside the client's own process (wordstandin.dll, registered with "inproc"): no
// process of its own that could be ended when a call hangs.

#include "standin.h"

using namespace standin;

namespace {
Factory factory;
bool started = false;
} // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID iid, void **out)
{
    if (!IsEqualCLSID(clsid, kClsid))
        return CLASS_E_CLASSNOTAVAILABLE;
    if (!started) {
        started = true;
        InitLog();
    }
    // Each test registers it anew for a folder of its own, and the library stays loaded in between: the
    // folder registered now is the one to log into.
    const std::wstring registered = RegisteredFolder();
    if (registered != folder) {
        UseFolder(registered);
        bool singleThreaded = false;
        ReadControl(&singleThreaded);
        Log(L"in-process server loaded");
    }
    return factory.QueryInterface(iid, out);
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow()
{
    return S_FALSE;
}
