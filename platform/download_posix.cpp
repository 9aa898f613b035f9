#include "platform/download.h"

#include <cstdio>
#include <curl/curl.h>
#include <mutex>
#include <string>

namespace {

struct Sink
{
    FILE *file;
    uint64_t written;
    uint64_t maxBytes;
};

// A server that announces no length (or a false one) is stopped here once it sends too much.
size_t WriteToFile(char *data, size_t size, size_t count, void *target)
{
    Sink *sink = static_cast<Sink *>(target);
    const uint64_t bytes = static_cast<uint64_t>(size) * count;
    if (sink->written + bytes > sink->maxBytes) {
        return 0;
    }
    sink->written += bytes;
    return std::fwrite(data, size, count, sink->file) * size;
}

// Called by libcurl about once a second and with every piece received: non-zero aborts the transfer.
int CheckCancelled(void *cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return cancel != nullptr && static_cast<const std::atomic<bool> *>(cancel)->load() ? 1 : 0;
}

} // namespace

// The package is written beside its target first and moved into place only when complete, so a broken
// transfer never leaves a truncated file at path.
int DownloadToFileWithLimits(const char *url, const char *path, const DownloadLimits &limits,
                             const std::atomic<bool> *cancel)
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
    Sink sink{file, 0, limits.maxBytes};
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes));
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.connectSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, limits.deadlineSeconds);
    // A transfer that slow has stalled, or is being held open on purpose.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
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
