#pragma once
// Wine's URL Moniker (the Windows download's URLOpenBlockingStreamA) fetches the whole transfer before it
// reports anything, and hands on a 404 reply's page as the data (see windows_download_test): a download
// there can neither be broken off early nor fail on a 404. Tests of those skip under Wine.

#ifdef _WIN32
#include <windows.h>
#endif

inline bool WineDownloads()
{
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}
