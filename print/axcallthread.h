#pragma once
// The thread that makes every call to the word processor: a call that never returns (a server that hangs
// and cannot be ended, or one served inside this program) is left on it, and the print run goes on. The
// thread is in the multithreaded apartment, so that the objects it gets can be called from any thread
// of that apartment too (the check for the user's documents before a forced end).

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class AxCallThread
{
public:
    AxCallThread();
    // Waits for the thread, unless a call was left on it: then it is left behind.
    ~AxCallThread();
    AxCallThread(const AxCallThread &) = delete;
    AxCallThread &operator=(const AxCallThread &) = delete;

    // Hands a task to the thread; one at a time. Tasks must own what they touch: one that is left behind
    // outlives the caller.
    void post(std::function<void()> task);
    // Until the task is done (true), timeout passes or wake() is called (false).
    bool wait(std::chrono::milliseconds timeout);
    // Makes a wait under way, or the next one, return at once.
    void wake();
    // The task will not return: the thread takes no further task and is left behind.
    void abandon();
    bool abandoned() const { return abandoned_; }

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
    bool abandoned_ = false;
};
