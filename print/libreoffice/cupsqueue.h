#pragma once
// The CUPS default destination as the LibreOffice client needs it: whether printing can go ahead, and
// what became of a job once the office has spooled it.

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

// The highest job id the scheduler knows for the destination, finished jobs included; 0 when none.
int HighestJobId(const std::string &destination);

// A job whose sender died before its document had all arrived waits in the queue until the scheduler's
// own time-out, a quarter of an hour: such a job is cancelled here. True when it was one.
bool CancelIfIncomplete(const std::string &destination, int jobId);

// The id of the first job above afterId on the destination titled title (any title when empty; a
// finished job listed without a name counts as well), once it shows up; 0 when none did within
// `appear`, or when *abort became true.
int FindJob(const std::string &destination, int afterId, const std::string &title,
            std::chrono::milliseconds appear, const std::atomic<bool> *abort);

struct TrackerLimits
{
    std::chrono::milliseconds motionless{600000}; // pending while nothing in the queue changes
    std::chrono::milliseconds overall{1800000};   // whatever happens
    std::chrono::milliseconds stateEvery{300};    // how often the destination's state is asked
};

// Follows queued jobs on one destination in the background, all with one request per look, so that the
// office can go on with the next document meanwhile. A job counts as printed only once it completed.
// When the destination stops, the jobs still waiting in it are cancelled at once (so that they cannot
// print later by surprise) and count as not printed; when it stops accepting jobs, the jobs already in
// it are followed to their end. Either way problem() tells from then on.
class JobTracker
{
public:
    using Limits = TrackerLimits;
    struct Result
    {
        int key;
        bool printed;
    };
    enum class Problem
    {
        None,
        Stopped,
        NotAccepting
    };
    static constexpr int NoKey = -1;
    static constexpr int AllKeys = -2;

    explicit JobTracker(std::string destination, Limits limits = Limits());
    ~JobTracker(); // stops following; jobs still in the queue stay there

    // Follows job jobId under key. jobId 0: the job could not be found; it counts as printed when
    // spooled says so (a scheduler that keeps no history of finished jobs), else as not printed.
    void follow(int key, int jobId, bool spooled);
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
    // Stops every wait at once; jobs in the queue are left to print.
    void abort();

    JobTracker(const JobTracker &) = delete;
    JobTracker &operator=(const JobTracker &) = delete;

private:
    struct Shared;
    std::string destination_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

} // namespace cupsqueue
