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
    // The whole download, connecting included, must be over within this time: a server sending just
    // above the low-speed limit cannot hold it for days.
    long deadlineSeconds;
    // Connecting alone must be done within this time.
    long connectSeconds;
};

// The build's limits: QUILLMARK_UPDATE_MAX_DOWNLOAD_MIB (256 MiB unless configured otherwise), 256 bytes
// per second over 60 seconds, QUILLMARK_UPDATE_DOWNLOAD_DEADLINE_MINUTES (180 unless configured otherwise)
// for the whole download and 30 seconds to connect.
DownloadLimits DefaultDownloadLimits();

// Downloads url into the file at path (replaced). 0 on success, negative on failure; a failed download
// leaves no file at path. With cancel, the download gives up soon once it is set (Windows: at the next
// progress report) and fails.
int DownloadToFile(const char *url, const char *path);
int CancellableDownloadToFile(const char *url, const char *path, const std::atomic<bool> *cancel);
int DownloadToFileWithLimits(const char *url, const char *path, const DownloadLimits &limits,
                             const std::atomic<bool> *cancel = nullptr);
