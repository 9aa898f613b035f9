#include "platform/download.h"

#include <urlmon.h>
#include <windows.h>

int CancellableDownloadToFile(const char *url, const char *path, const std::atomic<bool> *cancel)
{
    if (cancel != nullptr && cancel->load())
        return -1;
    return URLDownloadToFileA(nullptr, url, path, 0, nullptr) == S_OK ? 0 : -1;
}

int DownloadToFile(const char *url, const char *path)
{
    return CancellableDownloadToFile(url, path, nullptr);
}
