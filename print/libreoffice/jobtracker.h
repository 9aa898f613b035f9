#pragma once
// The run's jobs in the scheduler: finding the job a print just sent (by its mark), following the jobs
// sent in the background, keeping only a window of them in the queue, and waiting for room when the
// scheduler refused one. The decisions are jobpolicy's; the scheduler is reached through a JobSource, and
// the time through a clock, both of which a test can replace.

#include "print/libreoffice/cupsqueue.h"
#include "print/libreoffice/jobpolicy.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class JobSource
{
public:
    virtual ~JobSource() = default;
    virtual std::optional<std::vector<jobs::Job>> ownJobs(int firstId) = 0;
    virtual std::optional<jobs::Job> job(int jobId) = 0;
    virtual std::optional<std::vector<jobs::Job>> activeJobs() = 0;
    virtual cupsqueue::Problem problem() = 0;
    virtual void cancel(int jobId) = 0;
};

// The real scheduler's jobs on one destination.
std::shared_ptr<JobSource> CupsJobSource(const std::string &destination);

struct Found
{
    enum class Kind
    {
        Job,      // id is the job
        NotThere, // the scheduler answered, and no job of ours with that mark came
        NoAnswer, // the scheduler never answered within the limits: the job may well exist
        Aborted
    };
    Kind kind = Kind::NoAnswer;
    int id = 0;
    std::vector<std::string> otherTitles; // the run's other new jobs, "id title": for the user
};

// A job counts as printed only once it was seen completed; cancelled or aborted, it did not print. A job
// that vanishes unseen, or that jobs::Judge gives up on, is unconfirmed: it is never cancelled for that,
// and never counted. When the destination stops, the jobs still waiting in it are cancelled at once (so
// that they cannot print later by surprise) and count as not printed; when it stops accepting jobs, the
// jobs already in it are followed to their end. Either way problem() tells from then on.
class JobTracker
{
public:
    using Clock = std::function<jobs::TimePoint()>;
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
    using Problem = cupsqueue::Problem;
    static constexpr int NoKey = -1;
    static constexpr int AllKeys = -2;

    JobTracker(std::string destination, std::shared_ptr<JobSource> source,
               jobs::Limits limits = jobs::Limits::FromEnvironment(), Clock now = jobs::Clock::now);
    ~JobTracker(); // stops following; jobs still in the queue stay there

    // The run's first job above afterId carrying mark, once it shows up (see jobs::LookAgain).
    Found find(const std::string &mark, int afterId, std::chrono::milliseconds appear);
    // Follows job jobId (> 0) under key.
    void follow(int key, int jobId);
    // A result known without following a job.
    void settle(int key, Outcome outcome);
    // The results known since the last call. Blocks until waitFor's result is known (AllKeys: every
    // job's; NoKey: does not block) or until abort().
    std::vector<Result> take(int waitFor);
    // Blocks until fewer jobs than the window are followed. False on abort.
    bool waitForRoom();
    // After the scheduler refused a job (first at refusedSince): waits until its queue moves. True: send
    // it again; false: give up (the queue stood still past the limits, or nothing waits in it, or abort).
    bool waitAfterRefusal(jobs::TimePoint refusedSince);
    jobs::TimePoint now() const;
    // Looks at the destination now (after a job failed to spool, for instance).
    Problem checkNow();
    Problem problem() const;
    // While jobs are still followed (a stopped queue keeps them), looks at the destination now; otherwise
    // what is known. Cheap when the queue keeps up.
    Problem checkWhileBusy();
    const std::string &destination() const { return destination_; }
    const jobs::Limits &limits() const { return limits_; }
    // Stops every wait at once; jobs in the queue are left to print.
    void abort();
    bool aborted() const;

    JobTracker(const JobTracker &) = delete;
    JobTracker &operator=(const JobTracker &) = delete;

private:
    struct Shared;
    std::string destination_;
    jobs::Limits limits_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};
