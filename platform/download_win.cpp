#include "platform/download.h"

#include <cstdio>
#include <urlmon.h>
#include <windows.h>

namespace {

// Watches the transfer's progress and cancels it when it grows too large or too slow. A server that
// sends nothing at all raises no progress; URL Moniker's own time-outs end that one.
class LimitWatch : public IBindStatusCallback
{
public:
    LimitWatch(const DownloadLimits &limits, const std::atomic<bool> *cancel)
        : limits_(limits), cancel_(cancel), windowStart_(GetTickCount())
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
    DWORD windowStart_;
    ULONG windowBytes_ = 0;
};

} // namespace

int DownloadToFileWithLimits(const char *url, const char *path, const DownloadLimits &limits,
                             const std::atomic<bool> *cancel)
{
    if (cancel != nullptr && cancel->load()) {
        return -1;
    }
    LimitWatch watch(limits, cancel);
    if (URLDownloadToFileA(nullptr, url, path, 0, &watch) != S_OK) {
        DeleteFileA(path);
        return -1;
    }
    // The file's size is the last word, whatever the progress reports said.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        ((uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow) > limits.maxBytes) {
        DeleteFileA(path);
        return -1;
    }
    return 0;
}
