#include "platform/download.h"

#include "platform/net.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <urlmon.h>
#include <vector>
#include <windows.h>
#include <wininet.h>

namespace {

// Watches the transfer's progress and cancels it when it grows too large or too slow, or outlasts its
// deadline by the wall clock. A server that sends nothing at all raises no progress; the receive time-out
// set below ends that one.
class LimitWatch : public IBindStatusCallback
{
public:
    LimitWatch(const DownloadLimits &limits, const std::atomic<bool> *cancel)
        : limits_(limits), cancel_(cancel), started_(GetTickCount()), windowStart_(started_)
    {
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback)) {
            *object = static_cast<IBindStatusCallback *>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on the caller's stack for the whole call.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding *) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD *, BINDINFO *) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC *, STGMEDIUM *) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown *) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR) override
    {
        if ((cancel_ != nullptr && cancel_->load()) || progress > limits_.maxBytes ||
            progressMax > limits_.maxBytes) {
            return E_ABORT;
        }
        const DWORD now = GetTickCount();
        if (now - started_ >= static_cast<DWORD>(limits_.deadlineSeconds) * 1000u) {
            return E_ABORT;
        }
        if (now - windowStart_ >= static_cast<DWORD>(limits_.lowSpeedSeconds) * 1000u) {
            if (progress - windowBytes_ <
                static_cast<ULONG>(limits_.lowSpeedBytesPerSecond * limits_.lowSpeedSeconds)) {
                return E_ABORT;
            }
            windowStart_ = now;
            windowBytes_ = progress;
        }
        return S_OK;
    }

private:
    DownloadLimits limits_;
    const std::atomic<bool> *cancel_;
    DWORD started_;
    DWORD windowStart_;
    ULONG windowBytes_ = 0;
};

// Whether the server of url takes a connection within seconds. URL Moniker has no connect time-out of
// its own that holds everywhere (Wine ignores WinINet's), so the server is tried first: one that never
// answers fails the download here, in bounded time. Addresses this cannot read are left to URL Moniker.
bool ServerTakesConnections(const char *url, long seconds)
{
    const std::string text(url);
    size_t start = text.find("://");
    if (start == std::string::npos) {
        return true;
    }
    const std::string scheme = text.substr(0, start);
    start += 3;
    std::string host = text.substr(start, text.find_first_of("/?#", start) - start);
    const size_t userInfo = host.rfind('@');
    if (userInfo != std::string::npos) {
        host = host.substr(userInfo + 1);
    }
    if (host.empty() || host[0] == '[') {
        return true;
    }
    unsigned long port = scheme == "https" ? 443 : 80;
    const size_t colon = host.rfind(':');
    if (colon != std::string::npos) {
        port = std::strtoul(host.c_str() + colon + 1, nullptr, 10);
        host = host.substr(0, colon);
    }
    if (port == 0 || port > 65535) {
        return true;
    }
    NetStartup();
    const NetSocket s = NetTcpSocket();
    uint32_t address = 0;
    const bool taken =
        s != kNetInvalidSocket && NetResolveIPv4(host.c_str(), &address) == 0 &&
        NetConnect(s, address, static_cast<uint16_t>(port), static_cast<unsigned>(seconds) * 1000u) == 0;
    NetClose(s);
    NetCleanup();
    return taken;
}

} // namespace

int DownloadIntoFile(const char *url, std::FILE *file, const DownloadLimits &limits,
                     const std::atomic<bool> *cancel, const DownloadWatch &watch)
{
    if (url == nullptr || file == nullptr || (cancel != nullptr && cancel->load())) {
        return kDownloadFailed;
    }
    // URL Moniker fetches through WinINet, whose defaults these are for the whole process: connecting has
    // its own limit, and a server that falls silent fails after the low-speed window.
    DWORD connectMs = static_cast<DWORD>(limits.connectSeconds) * 1000u;
    DWORD receiveMs = static_cast<DWORD>(limits.lowSpeedSeconds) * 1000u;
    InternetSetOptionA(nullptr, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof connectMs);
    InternetSetOptionA(nullptr, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveMs, sizeof receiveMs);
    InternetSetOptionA(nullptr, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &receiveMs, sizeof receiveMs);
    const DWORD started = GetTickCount();
    const DWORD deadlineMs = static_cast<DWORD>(limits.deadlineSeconds) * 1000u;
    if (!ServerTakesConnections(url, limits.connectSeconds)) {
        return kDownloadFailed;
    }
    // The bytes come through a stream that this code writes into the caller's file itself: no file of the
    // system's choosing is ever made at a name that someone else could have planted.
    LimitWatch progress(limits, cancel);
    IStream *stream = nullptr;
    if (URLOpenBlockingStreamA(nullptr, url, &stream, 0, &progress) != S_OK || stream == nullptr) {
        return kDownloadFailed;
    }
    std::vector<char> block(65536);
    uint64_t total = 0;
    int result = 0;
    // The low-speed limit, by what this loop receives: Wine's stream reports no progress before the
    // transfer is over.
    const DWORD windowMs = static_cast<DWORD>(limits.lowSpeedSeconds) * 1000u;
    const uint64_t windowFloor =
        static_cast<uint64_t>(limits.lowSpeedBytesPerSecond) * limits.lowSpeedSeconds;
    DWORD windowStart = started;
    uint64_t windowBytes = 0;
    for (;;) {
        if ((cancel != nullptr && cancel->load()) || GetTickCount() - started >= deadlineMs) {
            result = kDownloadFailed;
            break;
        }
        ULONG n = 0;
        const HRESULT read = stream->Read(block.data(), static_cast<ULONG>(block.size()), &n);
        if (n > 0) {
            total += n;
            if (total > limits.maxBytes) {
                result = kDownloadFailed;
                break;
            }
            const DWORD now = GetTickCount();
            if (now - windowStart >= windowMs) {
                if (total - windowBytes < windowFloor) {
                    result = kDownloadFailed;
                    break;
                }
                windowStart = now;
                windowBytes = total;
            }
            if (watch && !watch(block.data(), n)) {
                result = kDownloadStoppedByWatch;
                break;
            }
            if (std::fwrite(block.data(), 1, n, file) != n) {
                result = kDownloadFailed;
                break;
            }
            continue;
        }
        if (read == E_PENDING) {
            // URL Moniker moves the transfer on through messages to this thread: they are served while
            // the data is awaited.
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            continue;
        }
        if (FAILED(read)) {
            result = kDownloadFailed;
        }
        break;
    }
    stream->Release();
    // The deadline holds by the wall clock also when no progress was reported to check it on the way.
    if (result == 0 && (GetTickCount() - started >= deadlineMs || std::fflush(file) != 0)) {
        result = kDownloadFailed;
    }
    return result;
}
