#pragma once
// Blocking download of a URL into a file.

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

// Downloads url into the file at path (replaced) under the default limits. 0 on success, negative on
// failure; a failed download leaves no file at path.
int DownloadToFile(const char *url, const char *path);
int DownloadToFileWithLimits(const char *url, const char *path, const DownloadLimits &limits);
