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
