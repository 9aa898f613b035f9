#pragma once
// One long-lived thread that makes every call into the office, so that a call that blocks can be cut
// off: at its deadline the caller runs a callback (which kills the office) and the call then returns.
// The thread also starts the office, which is tied to it (it dies when the thread ends).

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class CallThread
{
public:
    enum class Outcome
    {
        Done,   // the task finished before its deadline
        CutOff, // the deadline passed, atDeadline ran, and then the task finished
        Wedged  // the task did not finish even then; the thread is lost and left behind
    };

    explicit CallThread(std::chrono::milliseconds grace = std::chrono::milliseconds(30000));
    ~CallThread();

    // When a call is cut off: after `stall` without progress, or after `cap` whatever happens. progress
    // gives a number that grows while the callee works (its CPU time, events it sent); it is asked
    // every `every` while the call lasts. Without it, only `cap` counts.
    struct Watch
    {
        std::chrono::milliseconds stall{0};
        std::chrono::milliseconds cap{0};
        std::function<long long()> progress;
        std::chrono::milliseconds every{1000};
    };

    // Tasks must own what they touch (copies, shared pointers): a wedged task outlives the caller.
    Outcome run(std::function<void()> task, std::chrono::milliseconds deadline,
                const std::function<void()> &atDeadline);
    Outcome run(std::function<void()> task, const Watch &watch, const std::function<void()> &atDeadline);

    CallThread(const CallThread &) = delete;
    CallThread &operator=(const CallThread &) = delete;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::chrono::milliseconds grace_;
    bool wedged_ = false;
    std::thread thread_;
};
