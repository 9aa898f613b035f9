#pragma once
// Blocking download of url into the file at path (replaced). 0 on success, negative on failure.
int DownloadToFile(const char *url, const char *path);
