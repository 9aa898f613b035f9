#include "platform/download.h"

#include <cstdio>
#include <curl/curl.h>
#include <mutex>
#include <string>

namespace {

size_t WriteToFile(char *data, size_t size, size_t count, void *file)
{
    return std::fwrite(data, size, count, static_cast<FILE *>(file)) * size;
}

// Called by libcurl about once a second and with every piece received: non-zero aborts the transfer.
int CheckCancelled(void *cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return cancel != nullptr && static_cast<const std::atomic<bool> *>(cancel)->load() ? 1 : 0;
}

} // namespace

// The package is written beside its target first and moved into place only when complete, so a broken
// transfer never leaves a truncated file at path.
int CancellableDownloadToFile(const char *url, const char *path, const std::atomic<bool> *cancel)
{
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    if (url == nullptr || path == nullptr || (cancel != nullptr && cancel->load())) {
        return -1;
    }
    std::string partial = std::string(path) + ".part";
    FILE *file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr) {
        return -1;
    }
    CURL *curl = curl_easy_init();
    if (curl == nullptr) {
        std::fclose(file);
        std::remove(partial.c_str());
        return -1;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteToFile);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    // A transfer slower than 1 byte/s for a minute has stalled.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CheckCancelled);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool> *>(cancel));
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    bool written = std::fclose(file) == 0;
    if (rc != CURLE_OK || !written || std::rename(partial.c_str(), path) != 0) {
        std::remove(partial.c_str());
        return -1;
    }
    return 0;
}

int DownloadToFile(const char *url, const char *path)
{
    return CancellableDownloadToFile(url, path, nullptr);
}
