#include "print/libreoffice/callthread.h"

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
    if (wedged_)
        return Outcome::Wedged;
    std::unique_lock<std::mutex> lock(shared_->mutex);
    const unsigned long ticket = shared_->done + 1;
    shared_->task = std::move(task);
    shared_->pending = true;
    shared_->wake.notify_all();
    auto isDone = [&] { return shared_->done >= ticket; };
    if (shared_->finished.wait_for(lock, deadline, isDone))
        return Outcome::Done;
    lock.unlock();
    if (atDeadline)
        atDeadline();
    lock.lock();
    if (shared_->finished.wait_for(lock, grace_, isDone))
        return Outcome::CutOff;
    wedged_ = true;
    return Outcome::Wedged;
}
