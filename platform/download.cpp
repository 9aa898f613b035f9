#include "platform/download.h"

DownloadLimits DefaultDownloadLimits()
{
    return DownloadLimits{uint64_t(QUILLMARK_UPDATE_MAX_DOWNLOAD_MIB) << 20, 256, 60,
                          long(QUILLMARK_UPDATE_DOWNLOAD_DEADLINE_MINUTES) * 60, 30};
}

int CancellableDownloadToFile(const char *url, const char *path, const std::atomic<bool> *cancel)
{
    return DownloadToFileWithLimits(url, path, DefaultDownloadLimits(), cancel);
}

int DownloadToFile(const char *url, const char *path)
{
    return CancellableDownloadToFile(url, path, nullptr);
}
