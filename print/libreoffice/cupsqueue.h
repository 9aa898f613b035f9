#pragma once
// The CUPS default destination as the LibreOffice client needs it: whether printing can go ahead, and
// what became of a job once the office has spooled it.
//
// Jobs are only ever looked for among the user's own (my-jobs, with the requesting user's name): on a
// shared queue another user's job, whose name the scheduler hides, is never taken for ours. A scheduler
// that does not answer (or answers with an error) is told apart from one that answered without the job.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace cupsqueue {

struct Destination
{
    enum class State
    {
        Ready,
        NoServer,
        NoDefault,
        Stopped,
        NotAccepting
    };
    State state = State::NoDefault;
    std::string name; // empty unless a default destination exists
};

// Asks the scheduler (CUPS_SERVER, or the system's) for the default destination and its state.
Destination DefaultDestination();

// The highest id among the user's own jobs on the destination, finished ones included; 0 when none, -1
// when the scheduler did not answer.
int HighestJobId(const std::string &destination);

// A job whose sender died before its document had all arrived waits in the queue until the scheduler's
// own time-out, a quarter of an hour: such a job is cancelled here. True when it was one.
bool CancelIfIncomplete(const std::string &destination, int jobId);

// How long the run waits on the scheduler and on jobs. The environment variable QUILLMARK_JOB_WAIT_SECONDS
// shortens all three (for tests, or for a user who would rather know sooner).
struct TrackerLimits
{
    std::chrono::milliseconds motionless{600000}; // a job waiting in the queue without changing state
    std::chrono::milliseconds overall{1800000};   // any job, whatever happens
    std::chrono::milliseconds unanswered{60000};  // the scheduler not answering (restarting, queue gone)
    std::chrono::milliseconds stateEvery{300};    // how often the destination's state is asked
    static TrackerLimits FromEnvironment();
};

struct Found
{
    enum class Kind
    {
        Job,      // id is the job
        NotThere, // the scheduler answered, and no job of ours with that title came
        NoAnswer, // the scheduler never answered within the limits: the job may well exist
        Aborted
    };
    Kind kind = Kind::NoAnswer;
    int id = 0;
    // Jobs of ours that came after afterId with another title: what to tell the user when a job is not
    // found. "id title" each.
    std::vector<std::string> otherTitles;
};

// The first of the user's own jobs above afterId on the destination titled title, once it shows up.
// NotThere when none did within `appear` of the first answer; while the scheduler does not answer, the
// look goes on for up to `unanswered`.
Found FindJob(const std::string &destination, int afterId, const std::string &title,
              std::chrono::milliseconds appear, std::chrono::milliseconds unanswered,
              const std::atomic<bool> *abort);

// Follows queued jobs on one destination in the background, all with one request per look, so that the
// office can go on with the next document meanwhile. A job counts as printed only once it was seen
// completed; cancelled or aborted, it did not print. A job that vanishes unseen, waits without moving
// past the limit, is still being printed past the overall limit, or cannot be asked about past the
// unanswered limit, is unconfirmed: it is never cancelled for that, and never counted. When the
// destination stops, the jobs still waiting in it are cancelled at once (so that they cannot print later
// by surprise) and count as not printed; when it stops accepting jobs, the jobs already in it are
// followed to their end. Either way problem() tells from then on.
class JobTracker
{
public:
    using Limits = TrackerLimits;
    enum class Outcome
    {
        Printed,
        NotPrinted,
        Unconfirmed
    };
    struct Result
    {
        int key;
        Outcome outcome;
    };
    enum class Problem
    {
        None,
        Stopped,
        NotAccepting,
        Gone // the destination was deleted
    };
    static constexpr int NoKey = -1;
    static constexpr int AllKeys = -2;

    explicit JobTracker(std::string destination, Limits limits = Limits::FromEnvironment());
    ~JobTracker(); // stops following; jobs still in the queue stay there

    // Follows job jobId (> 0) under key.
    void follow(int key, int jobId);
    // A result known without following a job.
    void settle(int key, Outcome outcome);
    // The results known since the last call. Blocks until waitFor's result is known (AllKeys: every
    // job's; NoKey: does not block) or until abort().
    std::vector<Result> take(int waitFor);
    // Looks at the destination now (after a job failed to spool, for instance).
    Problem checkNow();
    Problem problem() const;
    // While jobs are still followed (a stopped queue keeps them), looks at the destination now; otherwise
    // what is known. Cheap when the queue keeps up.
    Problem checkWhileBusy();
    const std::string &destination() const { return destination_; }
    const Limits &limits() const { return limits_; }
    // Stops every wait at once; jobs in the queue are left to print.
    void abort();

    JobTracker(const JobTracker &) = delete;
    JobTracker &operator=(const JobTracker &) = delete;

private:
    struct Shared;
    std::string destination_;
    Limits limits_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

} // namespace cupsqueue
