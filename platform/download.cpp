#include "platform/download.h"

#include "platform/fileinfo.h"
#include "platform/safefiles.h"

DownloadLimits DefaultDownloadLimits()
{
    return DownloadLimits{uint64_t(QUILLMARK_UPDATE_MAX_DOWNLOAD_MIB) << 20, 256, 60,
                          long(QUILLMARK_UPDATE_DOWNLOAD_DEADLINE_MINUTES) * 60, 30};
}

int DownloadToFileWithLimits(const char *url, const char *path, const DownloadLimits &limits,
                             const std::atomic<bool> *cancel)
{
    if (url == nullptr || path == nullptr || (cancel != nullptr && cancel->load())) {
        return kDownloadFailed;
    }
    std::FILE *file = CreateExclusiveFile(path, FileAccess::OwnerOnly);
    if (file == nullptr) {
        return kDownloadFailed;
    }
    int result = DownloadIntoFile(url, file, limits, cancel);
    if (result == 0 && !FlushFileToDisk(file)) {
        result = kDownloadFailed;
    }
    if (std::fclose(file) != 0 && result == 0) {
        result = kDownloadFailed;
    }
    if (result != 0) {
        RemoveFile(path);
    }
    return result;
}

int CancellableDownloadToFile(const char *url, const char *path, const std::atomic<bool> *cancel)
{
    return DownloadToFileWithLimits(url, path, DefaultDownloadLimits(), cancel);
}

int DownloadToFile(const char *url, const char *path)
{
    return CancellableDownloadToFile(url, path, nullptr);
}
