// The run's decisions about its print jobs, with a fake clock and a scripted scheduler: which job is ours,
// when a followed job is done or given up on, when another may be sent; and the names of the links that
// carry the marks.

#include "print/libreoffice/documentlinks.h"
#include "print/libreoffice/jobpolicy.h"
#include "print/libreoffice/jobtracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <set>

using namespace std::chrono_literals;
using jobs::Job;
using jobs::TimePoint;

namespace {

const TimePoint T0 = TimePoint() + 1h;

// The limits the tables below are judged by.
jobs::Limits TableLimits()
{
    jobs::Limits limits;
    limits.motionless = 10s;
    limits.overall = 30s;
    limits.unanswered = 5s;
    return limits;
}

Job MakeJob(int id, int state, std::vector<std::string> titles = {})
{
    Job job;
    job.id = id;
    job.state = state;
    job.titles = std::move(titles);
    return job;
}

// --- matching ---

struct MatchRow
{
    const char *name;
    std::vector<Job> listed;
    int afterId;
    int expected;
};

class MatchJobTest : public testing::TestWithParam<MatchRow>
{
};

TEST_P(MatchJobTest, FindsOnlyTheJobCarryingTheMark)
{
    const MatchRow &row = GetParam();
    EXPECT_EQ(jobs::MatchJob(row.listed, jobs::Mark("qm42abc", 4), row.afterId).id, row.expected);
}

const std::string Ours = "04 [qm42abc-4].docx";
INSTANTIATE_TEST_SUITE_P(
    Rows, MatchJobTest,
    testing::Values(
        // Someone printed a same-named file by hand before our job: it is not ours.
        MatchRow{"handJobSameName",
                 {MakeJob(22, jobs::Pending, {"04.docx"}), MakeJob(23, jobs::Pending, {Ours})},
                 20,
                 23},
        MatchRow{"onlyHandJob", {MakeJob(22, jobs::Completed, {"04.docx"})}, 20, 0},
        // Another run's mark, or another document's of this run whose number starts the same.
        MatchRow{"otherRun", {MakeJob(22, jobs::Pending, {"04 [qm43abc-4].docx"})}, 20, 0},
        MatchRow{"longerNumber", {MakeJob(22, jobs::Pending, {"x [qm42abc-41].docx"})}, 20, 0},
        // A name with a line break is listed as sent and as "Untitled".
        MatchRow{
            "controlCharacter", {MakeJob(24, jobs::Pending, {"a\nb [qm42abc-4].docx", "Untitled"})}, 20, 24},
        MatchRow{"atOrBelowAfterId", {MakeJob(20, jobs::Completed, {Ours})}, 20, 0},
        MatchRow{
            "lowestOfTwo", {MakeJob(26, jobs::Pending, {Ours}), MakeJob(25, jobs::Pending, {Ours})}, 20, 25},
        MatchRow{"namelessNotOurs", {MakeJob(22, jobs::Pending, {})}, 20, 0}),
    [](const testing::TestParamInfo<MatchRow> &info) { return std::string(info.param.name); });

// --- following ---

struct JudgeRow
{
    const char *name;
    int lastState;                 // as last seen
    std::chrono::seconds ownStill; // since the job's own state last changed
    std::optional<std::chrono::seconds> printingFor;
    std::optional<int> state; // listed now; none: the list answered without it
    bool answered;
    std::chrono::seconds queueStill; // since anybody's job last moved
    bool stopped;
    jobs::Verdict expected;
    bool stuck = false;
};

class JudgeTest : public testing::TestWithParam<JudgeRow>
{
};

TEST_P(JudgeTest, Verdict)
{
    const JudgeRow &row = GetParam();
    const TimePoint now = T0 + 1000s;
    jobs::Followed followed;
    followed.jobId = 7;
    followed.since = T0;
    followed.lastState = row.lastState;
    followed.lastChange = now - row.ownStill;
    if (row.printingFor)
        followed.processingSince = now - *row.printingFor;
    Job job = MakeJob(7, row.state.value_or(0));
    jobs::Seen seen;
    seen.answered = row.answered;
    seen.unansweredSince = now - 6s;
    seen.queueMovedAt = now - row.queueStill;
    seen.stopped = row.stopped;
    seen.stuck = row.stuck;
    EXPECT_EQ(jobs::Judge(followed, row.state ? &job : nullptr, seen, now, TableLimits()), row.expected);
}

using V = jobs::Verdict;
INSTANTIATE_TEST_SUITE_P(
    Rows, JudgeTest,
    testing::Values(
        JudgeRow{"completed", jobs::Processing, 1s, 1s, jobs::Completed, true, 1s, false, V::Printed},
        JudgeRow{"aborted", jobs::Processing, 1s, 1s, jobs::Aborted, true, 1s, false, V::NotPrinted},
        JudgeRow{"vanished", jobs::Pending, 1s, {}, {}, true, 1s, false, V::Unconfirmed},
        // A slow printer: our job has waited long, but the queue moves.
        JudgeRow{
            "waitingInAMovingQueue", jobs::Pending, 900s, {}, jobs::Pending, true, 2s, false, V::Waiting},
        JudgeRow{
            "queueStandsStill", jobs::Pending, 900s, {}, jobs::Pending, true, 11s, false, V::Unconfirmed},
        JudgeRow{"ownStateJustChanged", jobs::Held, 900s, {}, jobs::Pending, true, 900s, false, V::Waiting},
        // Held for release at the printer: others printing does not bring it nearer.
        JudgeRow{"heldWhileOthersPrint", jobs::Held, 11s, {}, jobs::Held, true, 1s, false, V::Unconfirmed},
        JudgeRow{"heldBriefly", jobs::Held, 9s, {}, jobs::Held, true, 1s, false, V::Waiting},
        // The overall limit counts from when the printer took the job, not from when it was sent.
        JudgeRow{"printingLong", jobs::Processing, 31s, 31s, jobs::Processing, true, 31s, false,
                 V::Unconfirmed},
        JudgeRow{
            "sentLongAgoJustTaken", jobs::Pending, 900s, {}, jobs::Processing, true, 0s, false, V::Waiting},
        JudgeRow{"stoppedQueueWaiting", jobs::Pending, 1s, {}, jobs::Pending, true, 1s, true, V::Cancel},
        JudgeRow{"stoppedQueuePrinting", jobs::Processing, 1s, 1s, jobs::Processing, true, 1s, true,
                 V::Waiting},
        JudgeRow{"unansweredPastLimit", jobs::Pending, 1s, {}, {}, false, 1s, false, V::Unconfirmed},
        // A queue already given up on as stuck: a job just sent into it is not waited for all over again.
        JudgeRow{"sentIntoAStuckQueue", -1, 0s, {}, jobs::Pending, true, 900s, false, V::Unconfirmed, true},
        JudgeRow{"sentIntoAStillQueue", -1, 0s, {}, jobs::Pending, true, 900s, false, V::Waiting}),
    [](const testing::TestParamInfo<JudgeRow> &info) { return std::string(info.param.name); });

struct RefusedRow
{
    const char *name;
    bool destinationFine;
    int active;
    std::chrono::seconds refusedFor, queueStill;
    jobs::Refused expected;
};

class RefusedTest : public testing::TestWithParam<RefusedRow>
{
};

TEST_P(RefusedTest, WaitsForRoomOnlyWhileTheQueueMoves)
{
    const RefusedRow &row = GetParam();
    const TimePoint now = T0 + 1000s;
    EXPECT_EQ(jobs::OnRefused(row.destinationFine, row.active, now - row.refusedFor, now - row.queueStill,
                              now, TableLimits()),
              row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RefusedTest,
    testing::Values(RefusedRow{"fullAndMoving", true, 4, 20s, 2s, jobs::Refused::WaitForRoom},
                    RefusedRow{"fullAndStill", true, 4, 20s, 11s, jobs::Refused::GiveUp},
                    RefusedRow{"justRefusedStillQueue", true, 4, 1s, 600s, jobs::Refused::WaitForRoom},
                    RefusedRow{"refusedTooLong", true, 4, 31s, 1s, jobs::Refused::GiveUp},
                    // Nothing waits: the refusal was not for want of room.
                    RefusedRow{"emptyQueue", true, 0, 1s, 1s, jobs::Refused::GiveUp},
                    RefusedRow{"destinationStopped", false, 4, 1s, 1s, jobs::Refused::GiveUp}),
    [](const testing::TestParamInfo<RefusedRow> &info) { return std::string(info.param.name); });

struct MovedRow
{
    const char *name;
    std::vector<Job> before, after;
    bool moved;
};

class QueueMovedTest : public testing::TestWithParam<MovedRow>
{
};

TEST_P(QueueMovedTest, OnlyALeavingOrAdvancingJobMovesTheQueue)
{
    const MovedRow &row = GetParam();
    EXPECT_EQ(jobs::QueueMoved(jobs::QueueShape(row.before), jobs::QueueShape(row.after)), row.moved);
}

Job WithProgress(int id, int state, int progress)
{
    Job job = MakeJob(id, state);
    job.progress = progress;
    return job;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, QueueMovedTest,
    testing::Values(MovedRow{"same",
                             {MakeJob(1, jobs::Processing), MakeJob(2, jobs::Pending)},
                             {MakeJob(2, jobs::Pending), MakeJob(1, jobs::Processing)},
                             false},
                    MovedRow{"jobLeft",
                             {MakeJob(1, jobs::Processing), MakeJob(2, jobs::Pending)},
                             {MakeJob(2, jobs::Pending)},
                             true},
                    MovedRow{
                        "jobCompleted", {MakeJob(1, jobs::Processing)}, {MakeJob(1, jobs::Completed)}, true},
                    MovedRow{"jobTaken", {MakeJob(2, jobs::Pending)}, {MakeJob(2, jobs::Processing)}, true},
                    MovedRow{"pagesDone",
                             {WithProgress(1, jobs::Processing, 3)},
                             {WithProgress(1, jobs::Processing, 4)},
                             true},
                    // Someone sending more jobs into a stuck printer does not make it move.
                    MovedRow{"onlyArrivals",
                             {MakeJob(1, jobs::Processing)},
                             {MakeJob(1, jobs::Processing), MakeJob(5, jobs::Pending)},
                             false},
                    MovedRow{"emptyStaysEmpty", {}, {}, false}),
    [](const testing::TestParamInfo<MovedRow> &info) { return std::string(info.param.name); });

TEST(Window, RoomWhileFewerThanTheWindow)
{
    jobs::Limits limits;
    limits.window = 3;
    EXPECT_TRUE(jobs::RoomForAnother(2, limits));
    EXPECT_FALSE(jobs::RoomForAnother(3, limits));
    limits.window = 0; // never below one
    EXPECT_TRUE(jobs::RoomForAnother(0, limits));
    EXPECT_FALSE(jobs::RoomForAnother(1, limits));
}

// --- the tracker on a scripted scheduler ---

// A scheduler whose jobs the test sets; it answers every request from that list, and lists the jobs in
// nameless without their names, as CUPS lists finished ones.
class ScriptedSource : public JobSource
{
public:
    std::optional<std::vector<Job>> ownJobs(int firstId) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Job> listed;
        for (const Job &job : jobs)
            if (job.id >= firstId)
                listed.push_back(nameless.count(job.id) ? MakeJob(job.id, job.state) : job);
        return listed;
    }
    std::optional<Job> job(int id) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Job &job : jobs)
            if (job.id == id)
                return job;
        return std::nullopt;
    }
    std::optional<std::vector<Job>> activeJobs() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Job> active;
        for (const Job &job : jobs)
            if (job.state < jobs::Canceled)
                active.push_back(job);
        return active;
    }
    cupsqueue::Problem problem() override { return cupsqueue::Problem::None; }
    void cancel(int id) override { set(id, jobs::Canceled); }
    void set(int id, int state)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (Job &job : jobs)
            if (job.id == id)
                job.state = state;
    }
    void add(Job job)
    {
        std::lock_guard<std::mutex> lock(mutex);
        jobs.push_back(std::move(job));
    }

    std::mutex mutex;
    std::vector<Job> jobs;
    std::set<int> nameless;
};

jobs::Limits QuickLimits(int window)
{
    jobs::Limits limits;
    limits.window = window;
    limits.stateEvery = 5ms;
    return limits;
}

TEST(Tracker, WindowOpensWhenAJobLeaves)
{
    auto source = std::make_shared<ScriptedSource>();
    JobTracker tracker("capture", source, QuickLimits(2));
    for (int id : {1, 2}) {
        source->add(MakeJob(id, jobs::Pending, {"d [qm1-" + std::to_string(id) + "].docx"}));
        ASSERT_TRUE(tracker.waitForRoom());
        tracker.follow(id, id);
    }
    std::thread printer([&] {
        std::this_thread::sleep_for(50ms);
        source->set(1, jobs::Completed);
    });
    // Full until the first job is done; then room, and its result is there.
    EXPECT_TRUE(tracker.waitForRoom());
    printer.join();
    const std::vector<JobTracker::Result> results = tracker.take(JobTracker::NoKey);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].key, 1);
    EXPECT_EQ(results[0].outcome, JobTracker::Outcome::Printed);
    tracker.abort();
    EXPECT_FALSE(tracker.waitForRoom());
}

TEST(Tracker, AbortEndsTheWaitForRoom)
{
    auto source = std::make_shared<ScriptedSource>();
    JobTracker tracker("capture", source, QuickLimits(1));
    source->add(MakeJob(1, jobs::Held, {"a [qm1-1].docx"}));
    tracker.follow(1, 1);
    std::thread stopper([&] {
        std::this_thread::sleep_for(30ms);
        tracker.abort();
    });
    EXPECT_FALSE(tracker.waitForRoom());
    stopper.join();
}

TEST(Tracker, FindsItsJobBehindASameNamedHandJob)
{
    auto source = std::make_shared<ScriptedSource>();
    source->add(MakeJob(22, jobs::Completed, {"04.docx"}));
    source->add(MakeJob(23, jobs::Completed, {"04 [qm1-4].docx"}));
    source->nameless = {22, 23}; // listed without their names: asked for by id
    JobTracker tracker("capture", source, QuickLimits(3));
    const Found found = tracker.find(jobs::Mark("qm1", 4), 21, 100ms);
    EXPECT_EQ(found.kind, Found::Kind::Job);
    EXPECT_EQ(found.id, 23);
    const Found none = tracker.find(jobs::Mark("qm1", 5), 21, 20ms);
    EXPECT_EQ(none.kind, Found::Kind::NotThere);
    EXPECT_EQ(none.otherTitles.size(), 2u);
}

TEST(Tracker, RefusedJobWaitsForTheQueueToMove)
{
    auto source = std::make_shared<ScriptedSource>();
    JobTracker tracker("capture", source, QuickLimits(3));
    source->add(MakeJob(1, jobs::Processing));
    std::thread printer([&] {
        std::this_thread::sleep_for(30ms);
        source->set(1, jobs::Completed);
    });
    EXPECT_TRUE(tracker.waitAfterRefusal(tracker.now()));
    printer.join();
    // Nothing left in the queue: a refusal now is not for want of room.
    EXPECT_FALSE(tracker.waitAfterRefusal(tracker.now()));
}

// The scheduler may forget a finished job as soon as another arrives: a refused job of the run is sent
// again only once its earlier job was seen to its end.
TEST(Tracker, RefusedJobWaitsUntilTheRunsFinishedJobIsSeen)
{
    auto source = std::make_shared<ScriptedSource>();
    JobTracker tracker("capture", source, QuickLimits(3));
    source->add(MakeJob(1, jobs::Processing, {"a [qm1-1].docx"}));
    source->add(MakeJob(2, jobs::Pending)); // someone else's, taken by the printer meanwhile
    tracker.follow(1, 1);
    std::thread printer([&] {
        std::this_thread::sleep_for(30ms);
        source->set(2, jobs::Processing); // the queue moves, but the run's job is not done yet
        std::this_thread::sleep_for(30ms);
        source->set(1, jobs::Completed);
    });
    EXPECT_TRUE(tracker.waitAfterRefusal(tracker.now()));
    const std::vector<JobTracker::Result> results = tracker.take(JobTracker::NoKey);
    printer.join();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].outcome, JobTracker::Outcome::Printed);
}

// --- the link's name ---

struct NameRow
{
    const char *name;
    QByteArray fileName;
    QByteArray expected;
};

class MarkedNameTest : public testing::TestWithParam<NameRow>
{
};

TEST_P(MarkedNameTest, ShowsTheNameAndCarriesTheMark)
{
    EXPECT_EQ(MarkedName(GetParam().fileName, "[qm1abc-17]"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MarkedNameTest,
    testing::Values(
        NameRow{"plain", "report.docx", "report [qm1abc-17].docx"},
        NameRow{"chinese", u8"季度报告.doc", u8"季度报告 [qm1abc-17].doc"},
        NameRow{"noExtension", "README", "README [qm1abc-17]"},
        NameRow{"dots", "v1.2 final.docm", "v1.2 final [qm1abc-17].docm"},
        // Stray bytes are shown as U+FFFD.
        NameRow{"notUtf8", "bad\xff.docx", "bad\xef\xbf\xbd [qm1abc-17].docx"},
        // Cut at a character so that the whole stays at 240 bytes; the mark and the extension stay.
        NameRow{"long", QByteArray(300, 'a') + ".docx", QByteArray(240 - 17, 'a') + " [qm1abc-17].docx"},
        NameRow{"longChinese", QString(100, QChar(0x4e2d)).toUtf8() + ".doc",
                QString((240 - 16) / 3, QChar(0x4e2d)).toUtf8() + " [qm1abc-17].doc"}),
    [](const testing::TestParamInfo<NameRow> &info) { return std::string(info.param.name); });

} // namespace
