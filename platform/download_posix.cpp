#include "platform/download.h"

#include <curl/curl.h>
#include <mutex>

namespace {

struct Sink
{
    std::FILE *file;
    uint64_t written;
    uint64_t maxBytes;
    const DownloadWatch *watch;
    bool stoppedByWatch;
};

// A server that announces no length (or a false one) is stopped here once it sends too much.
size_t WriteToFile(char *data, size_t size, size_t count, void *target)
{
    Sink *sink = static_cast<Sink *>(target);
    const uint64_t bytes = static_cast<uint64_t>(size) * count;
    if (sink->written + bytes > sink->maxBytes) {
        return 0;
    }
    if (*sink->watch && !(*sink->watch)(data, static_cast<size_t>(bytes))) {
        sink->stoppedByWatch = true;
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

int DownloadIntoFile(const char *url, std::FILE *file, const DownloadLimits &limits,
                     const std::atomic<bool> *cancel, const DownloadWatch &watch)
{
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    if (url == nullptr || file == nullptr || (cancel != nullptr && cancel->load())) {
        return kDownloadFailed;
    }
    CURL *curl = curl_easy_init();
    if (curl == nullptr) {
        return kDownloadFailed;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteToFile);
    Sink sink{file, 0, limits.maxBytes, &watch, false};
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
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (sink.stoppedByWatch) {
        return kDownloadStoppedByWatch;
    }
    return rc == CURLE_OK && std::fflush(file) == 0 ? 0 : kDownloadFailed;
}
