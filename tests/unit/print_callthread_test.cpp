// The call thread that bounds the office's calls: a call that blocks is cut off at its deadline.

#include "print/libreoffice/callthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Blocks until released, like a call into an office that no longer answers.
struct Gate
{
    std::atomic<bool> open{false};
    void wait() const
    {
        while (!open)
            std::this_thread::sleep_for(1ms);
    }
};

} // namespace

TEST(CallThread, RunsTasksInOrderOnOneThread)
{
    CallThread calls;
    std::thread::id first, second;
    int order = 0, a = 0, b = 0;
    EXPECT_EQ(calls.run([&] { first = std::this_thread::get_id(), a = ++order; }, 5s, nullptr),
              CallThread::Outcome::Done);
    EXPECT_EQ(calls.run([&] { second = std::this_thread::get_id(), b = ++order; }, 5s, nullptr),
              CallThread::Outcome::Done);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);
    EXPECT_EQ(first, second);
    EXPECT_NE(first, std::this_thread::get_id());
}

TEST(CallThread, DeadlineCallbackUnblocksTheCall)
{
    CallThread calls;
    auto gate = std::make_shared<Gate>();
    int deadlines = 0;
    const auto outcome = calls.run([gate] { gate->wait(); }, 50ms,
                                   [&] {
                                       ++deadlines;
                                       gate->open =
                                           true; // as killing the office makes the blocked call return
                                   });
    EXPECT_EQ(outcome, CallThread::Outcome::CutOff);
    EXPECT_EQ(deadlines, 1);
    // The thread goes on serving calls afterwards.
    bool ran = false;
    EXPECT_EQ(calls.run([&] { ran = true; }, 5s, nullptr), CallThread::Outcome::Done);
    EXPECT_TRUE(ran);
}

TEST(CallThread, NoCallbackWhenTheCallEndsInTime)
{
    CallThread calls;
    int deadlines = 0;
    EXPECT_EQ(calls.run([] { std::this_thread::sleep_for(10ms); }, 5s, [&] { ++deadlines; }),
              CallThread::Outcome::Done);
    EXPECT_EQ(deadlines, 0);
}

TEST(CallThread, ExceptionInATaskDoesNotEndTheThread)
{
    CallThread calls;
    EXPECT_EQ(calls.run([] { throw 42; }, 5s, nullptr), CallThread::Outcome::Done);
    bool ran = false;
    EXPECT_EQ(calls.run([&] { ran = true; }, 5s, nullptr), CallThread::Outcome::Done);
    EXPECT_TRUE(ran);
}

TEST(CallThread, CallThatNeverReturnsIsLeftBehind)
{
    auto gate = std::make_shared<Gate>();
    {
        CallThread calls(100ms);
        EXPECT_EQ(calls.run([gate] { gate->wait(); }, 20ms, [] {}), CallThread::Outcome::Wedged);
        // Once wedged, nothing more is run and nothing waits.
        bool ran = false;
        EXPECT_EQ(calls.run([&] { ran = true; }, 5s, nullptr), CallThread::Outcome::Wedged);
        EXPECT_FALSE(ran);
    }                  // the destructor must not wait for the stuck call
    gate->open = true; // let the abandoned thread end before the process does
    std::this_thread::sleep_for(50ms);
}

// The watchdog judges progress, not the length of the call.
struct WatchCase
{
    const char *name;
    bool progressing; // the callee keeps working (its counter grows) until released
    std::chrono::milliseconds runsFor;
    std::chrono::milliseconds stall, cap;
    CallThread::Outcome expected;
};

class CallThreadWatch : public ::testing::TestWithParam<WatchCase>
{
};

TEST_P(CallThreadWatch, CutsOffOnlyAStalledOrOverlongCall)
{
    const WatchCase c = GetParam();
    CallThread calls;
    auto gate = std::make_shared<Gate>();
    auto counter = std::make_shared<std::atomic<long long>>(0);
    const auto start = std::chrono::steady_clock::now();
    CallThread::Watch watch;
    watch.stall = c.stall;
    watch.cap = c.cap;
    watch.every = 10ms;
    watch.progress = [counter] { return counter->load(); };
    int deadlines = 0;
    const auto runsFor = c.runsFor;
    const bool progressing = c.progressing;
    const auto outcome = calls.run(
        [gate, counter, runsFor, progressing, start] {
            while (!gate->open && std::chrono::steady_clock::now() - start < runsFor) {
                if (progressing)
                    ++*counter;
                std::this_thread::sleep_for(2ms);
            }
        },
        watch,
        [&] {
            ++deadlines;
            gate->open = true; // as killing the office makes the blocked call return
        });
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(outcome, c.expected);
    EXPECT_EQ(deadlines, c.expected == CallThread::Outcome::Done ? 0 : 1);
    if (c.expected == CallThread::Outcome::CutOff) {
        // Not before the limit that applies. A call left running would run for an hour, past the test's
        // own limit.
        EXPECT_GE(took, c.progressing ? c.cap : std::min(c.stall, c.cap));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CallThreadWatch,
    ::testing::Values(
        // Working for many times the stall limit: left alone.
        WatchCase{"WorkingCallOutlastsTheStallLimit", true, 600ms, 100ms, 60s, CallThread::Outcome::Done},
        // Hanging (as a stopped office): cut off after the stall limit; the cap would let it hang an hour.
        WatchCase{"HangingCallIsCutOffAfterTheStallLimit", false, 1h, 150ms, 1h, CallThread::Outcome::CutOff},
        // Working, but past the absolute cap.
        WatchCase{"WorkingCallIsCutOffAtTheCap", true, 1h, 100ms, 300ms, CallThread::Outcome::CutOff},
        // A short call that makes no progress still finishes normally.
        WatchCase{"ShortQuietCallFinishes", false, 20ms, 5s, 60s, CallThread::Outcome::Done}),
    [](const ::testing::TestParamInfo<WatchCase> &info) { return std::string(info.param.name); });
