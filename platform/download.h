#pragma once
// Blocking download of url into the file at path (replaced). 0 on success, negative on failure.

#include <atomic>

int DownloadToFile(const char *url, const char *path);
// The same, watching cancel while the transfer runs: once it is set the download gives up soon (Windows:
// before it starts only) and fails.
int CancellableDownloadToFile(const char *url, const char *path, const std::atomic<bool> *cancel);
