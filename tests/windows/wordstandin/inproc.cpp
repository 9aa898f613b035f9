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
    // The DLL stays loaded for the rest of the process, while each test case registers a folder of its own:
    // the logs and the control file follow the registration.
    if (!started) {
        started = true;
        InitLog();
    }
    UseFolder(RegisteredFolder());
    bool singleThreaded = false;
    ReadControl(&singleThreaded);
    Log(L"in-process server loaded");
    return factory.QueryInterface(iid, out);
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow()
{
    return S_FALSE;
}
