#include "platform/download.h"

#include <urlmon.h>
#include <windows.h>

int DownloadToFile(const char *url, const char *path)
{
    return URLDownloadToFileA(nullptr, url, path, 0, nullptr) == S_OK ? 0 : -1;
}
