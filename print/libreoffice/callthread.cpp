#include "print/libreoffice/callthread.h"

#include <algorithm>

struct CallThread::Shared
{
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable finished;
    std::function<void()> task;
    bool pending = false;
    bool busy = false;
    bool stop = false;
    unsigned long done = 0;
};

CallThread::CallThread(std::chrono::milliseconds grace) : shared_(std::make_shared<Shared>()), grace_(grace)
{
    // The thread keeps its own reference: a wedged thread is detached and may outlive this object.
    thread_ = std::thread([shared = shared_] {
        std::unique_lock<std::mutex> lock(shared->mutex);
        for (;;) {
            shared->wake.wait(lock, [&] { return shared->pending || shared->stop; });
            if (shared->stop && !shared->pending)
                return;
            std::function<void()> task = std::move(shared->task);
            shared->pending = false;
            shared->busy = true;
            lock.unlock();
            try {
                task();
            } catch (...) {
            }
            task = nullptr;
            lock.lock();
            shared->busy = false;
            ++shared->done;
            shared->finished.notify_all();
        }
    });
}

CallThread::~CallThread()
{
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->stop = true;
    }
    shared_->wake.notify_all();
    if (wedged_)
        thread_.detach();
    else
        thread_.join();
}

CallThread::Outcome CallThread::run(std::function<void()> task, std::chrono::milliseconds deadline,
                                    const std::function<void()> &atDeadline)
{
    Watch watch;
    watch.cap = deadline;
    return run(std::move(task), watch, atDeadline);
}

CallThread::Outcome CallThread::run(std::function<void()> task, const Watch &watch,
                                    const std::function<void()> &atDeadline)
{
    using Clock = std::chrono::steady_clock;
    if (wedged_)
        return Outcome::Wedged;
    std::unique_lock<std::mutex> lock(shared_->mutex);
    const unsigned long ticket = shared_->done + 1;
    shared_->task = std::move(task);
    shared_->pending = true;
    shared_->wake.notify_all();
    auto isDone = [&] { return shared_->done >= ticket; };

    const auto start = Clock::now();
    const auto cap = start + watch.cap;
    if (!watch.progress) {
        if (shared_->finished.wait_until(lock, cap, isDone))
            return Outcome::Done;
    } else {
        // Progress is first asked for once the call has lasted a while: most calls end long before, and
        // asking costs a look at every process.
        auto lastMotion = start;
        bool asked = false;
        long long last = 0;
        for (;;) {
            const auto now = Clock::now();
            const auto wakeAt = std::min({cap, lastMotion + watch.stall, now + watch.every});
            if (shared_->finished.wait_until(lock, wakeAt, isDone))
                return Outcome::Done;
            lock.unlock();
            const long long current = watch.progress();
            lock.lock();
            if (isDone())
                return Outcome::Done;
            const auto after = Clock::now();
            if (!asked || current != last) {
                asked = true;
                last = current;
                lastMotion = after;
            }
            if (after >= cap || after - lastMotion >= watch.stall)
                break;
        }
    }
    lock.unlock();
    if (atDeadline)
        atDeadline();
    lock.lock();
    if (shared_->finished.wait_for(lock, grace_, isDone))
        return Outcome::CutOff;
    wedged_ = true;
    return Outcome::Wedged;
}
