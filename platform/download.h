#pragma once
// Blocking download of a URL into a file.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>

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

// Sees the bytes of a download in order as they arrive (on Windows perhaps only once they are all in);
// false stops the download.
using DownloadWatch = std::function<bool(const char *data, size_t n)>;

constexpr int kDownloadFailed = -1;
constexpr int kDownloadStoppedByWatch = -2;

// Downloads url into the open file, from where it stands. 0 on success (the bytes written, not yet flushed
// to the disk); kDownloadStoppedByWatch when watch said no; kDownloadFailed otherwise. The file's content
// is then of no use: the caller removes it. With cancel, the download gives up soon once it is set.
int DownloadIntoFile(const char *url, std::FILE *file, const DownloadLimits &limits,
                     const std::atomic<bool> *cancel = nullptr, const DownloadWatch &watch = nullptr);

// Downloads url into a file made new at path (whatever was there is removed first, never written through;
// readable by its owner only). 0 on success; negative on failure, which leaves no file at path.
int DownloadToFile(const char *url, const char *path);
int CancellableDownloadToFile(const char *url, const char *path, const std::atomic<bool> *cancel);
int DownloadToFileWithLimits(const char *url, const char *path, const DownloadLimits &limits,
                             const std::atomic<bool> *cancel = nullptr);
