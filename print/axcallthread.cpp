#include "print/axcallthread.h"

#include <objbase.h>

struct AxCallThread::Shared
{
    std::mutex mutex;
    std::condition_variable wakeThread;
    std::condition_variable wakeCaller;
    std::function<void()> task;
    bool pending = false;
    bool running = false;
    bool stop = false;
    bool woken = false;
};

AxCallThread::AxCallThread() : shared_(std::make_shared<Shared>())
{
    thread_ = std::thread([shared = shared_] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        std::unique_lock<std::mutex> lock(shared->mutex);
        for (;;) {
            shared->wakeThread.wait(lock, [&] { return shared->pending || shared->stop; });
            if (!shared->pending)
                break;
            std::function<void()> task = std::move(shared->task);
            shared->pending = false;
            shared->running = true;
            lock.unlock();
            task();
            task = nullptr;
            lock.lock();
            shared->running = false;
            shared->wakeCaller.notify_all();
        }
        lock.unlock();
        CoUninitialize();
    });
}

AxCallThread::~AxCallThread()
{
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->stop = true;
    }
    shared_->wakeThread.notify_all();
    if (abandoned_)
        thread_.detach();
    else
        thread_.join();
}

void AxCallThread::post(std::function<void()> task)
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->task = std::move(task);
    shared_->pending = true;
    shared_->wakeThread.notify_all();
}

bool AxCallThread::wait(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->wakeCaller.wait_for(lock, timeout,
                                 [&] { return (!shared_->pending && !shared_->running) || shared_->woken; });
    shared_->woken = false;
    return !shared_->pending && !shared_->running;
}

void AxCallThread::wake()
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->woken = true;
    shared_->wakeCaller.notify_all();
}

void AxCallThread::abandon()
{
    abandoned_ = true;
}
