#pragma once
// What the run decides about its print jobs, as plain functions of what the scheduler listed and of the
// time: which job is ours (by the mark its name carries, nothing else), when a followed job is done or
// given up on, when another job may be sent, and when a refused job is sent again. No I/O here.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace jobs {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using std::chrono::milliseconds;

// The scheduler's job states (IPP job-state).
enum State
{
    Pending = 3,
    Held = 4,
    Processing = 5,
    Stopped = 6,
    Canceled = 7,
    Aborted = 8,
    Completed = 9
};

struct Job
{
    int id = 0;
    int state = Pending;
    // Every job-name the scheduler lists: for a name holding a control character (a line break, a tab)
    // it keeps the name as sent and adds "Untitled" after it.
    std::vector<std::string> titles;
    std::string user;      // job-originating-user-name; empty when the scheduler hides it
    bool incoming = false; // created, but its document has not all arrived yet
    int documents = -1;    // number-of-documents, -1 when not listed
    int progress = -1;     // pages or sheets done so far, -1 when not listed
};

// How long the run waits on the scheduler and on jobs, and how many of its jobs may wait in the queue.
struct Limits
{
    milliseconds motionless{600000}; // the queue not moving at all (nobody's job advancing)
    milliseconds overall{1800000};   // one job being printed, whatever happens
    milliseconds unanswered{60000};  // the scheduler not answering (restarting, queue gone)
    milliseconds stateEvery{300};    // how often the destination and the whole queue are looked at
    int window = 3;                  // jobs of the run in the queue at once
    // QUILLMARK_JOB_WAIT_SECONDS shortens the first three (for tests, or for a user who would rather know
    // sooner); QUILLMARK_JOB_WINDOW sets the window (at least 1).
    static Limits FromEnvironment();
};

// The mark of one document of one run, as its job's name carries it: "[<run><n>]".
std::string Mark(const std::string &run, int document);
// The run's part of the marks: "qm" and this process's id and a few random letters, so that neither a
// job of another run nor one in the scheduler's history carries it.
std::string NewRunToken();
bool CarriesMark(const Job &job, const std::string &mark);

struct Match
{
    int id = 0;                      // the lowest job above afterId carrying the mark; 0: none
    std::vector<std::string> others; // the other jobs above afterId, "id title", for the user
};
Match MatchJob(const std::vector<Job> &listed, const std::string &mark, int afterId);

// Whether to go on looking for a job just sent: `appear` after the first answer, and at least `appear`
// after the start; `unanswered` while nobody answers.
enum class Look
{
    Again,
    NotThere,
    NoAnswer
};
Look LookAgain(TimePoint start, std::optional<TimePoint> firstAnswer, TimePoint now, milliseconds appear,
               milliseconds unanswered);

// What the whole queue looks like: every unfinished job's id, state and progress, in id order.
std::vector<int> QueueShape(std::vector<Job> active);
// Whether the queue moved from one shape to the next: a job left it, or changed its state or progress. A
// job that only arrived moves nothing.
bool QueueMoved(const std::vector<int> &before, const std::vector<int> &after);

// A job the run follows.
struct Followed
{
    int key = 0;
    int jobId = 0;
    TimePoint since;                          // when it was sent
    int lastState = -1;                       // as last seen
    TimePoint lastChange;                     // when its own state last changed
    std::optional<TimePoint> processingSince; // when the printer took it
};

enum class Verdict
{
    Waiting,
    Printed,
    NotPrinted,
    Unconfirmed,
    Cancel // waiting in a stopped queue: cancelled, so that it cannot print later by surprise; not printed
};

// What the scheduler said on the last look, and since when the queue stands still.
struct Seen
{
    bool answered = true;
    TimePoint unansweredSince;
    TimePoint queueMovedAt;
    bool stopped = false;
    // A job of the run was given up on because the queue stood still, and it has not moved since: the
    // printer is stuck, and a job sent into it now is not waited for all over again.
    bool stuck = false;
};

// The verdict on one followed job. job: its entry in the list, nullptr when the list answered without it.
// A job waiting behind others is given up on only when the whole queue stood still for `motionless`
// (a slow printer moves it); a job held for release only when it stood still itself that long; a job
// being printed only past `overall` from when the printer took it.
Verdict Judge(const Followed &followed, const Job *job, const Seen &seen, TimePoint now,
              const Limits &limits);

// Whether another job may be sent while `inFlight` jobs of the run wait in the queue.
bool RoomForAnother(int inFlight, const Limits &limits);

// A job the scheduler refused (the office said it did not spool) while the destination is fine and
// the queue is busy: most likely the scheduler is full. It is sent again once the queue has moved, for
// as long as the queue keeps moving; given up on after `motionless` of a still queue, or `overall`.
enum class Refused
{
    GiveUp,
    WaitForRoom
};
Refused OnRefused(bool destinationFine, int activeJobs, TimePoint refusedSince, TimePoint queueMovedAt,
                  TimePoint now, const Limits &limits);

} // namespace jobs
