#pragma once
// Blocking download of a URL into a file.

#include <atomic>
#include <cstdint>

struct DownloadLimits
{
    // A larger download fails.
    uint64_t maxBytes;
    // A transfer slower than lowSpeedBytesPerSecond, averaged over lowSpeedSeconds, fails.
    long lowSpeedBytesPerSecond;
    long lowSpeedSeconds;
};

// The build's limits: QUILLMARK_UPDATE_MAX_DOWNLOAD_MIB (256 MiB unless configured otherwise), and 256 bytes
// per second over 60 seconds.
DownloadLimits DefaultDownloadLimits();

// Downloads url into the file at path (replaced). 0 on success, negative on failure; a failed download
// leaves no file at path. With cancel, the download gives up soon once it is set (Windows: at the next
// progress report) and fails.
int DownloadToFile(const char *url, const char *path);
int CancellableDownloadToFile(const char *url, const char *path, const std::atomic<bool> *cancel);
int DownloadToFileWithLimits(const char *url, const char *path, const DownloadLimits &limits,
                             const std::atomic<bool> *cancel = nullptr);
