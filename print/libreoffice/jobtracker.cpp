#include "print/libreoffice/jobtracker.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>

using jobs::Job;
using jobs::TimePoint;
using std::chrono::milliseconds;

namespace {

class CupsSource : public JobSource
{
public:
    explicit CupsSource(std::string destination) : destination_(std::move(destination)) {}
    std::optional<std::vector<Job>> ownJobs(int firstId) override
    {
        return cupsqueue::OwnJobs(destination_, firstId);
    }
    std::optional<Job> job(int jobId) override { return cupsqueue::GetJob(jobId); }
    std::optional<std::vector<Job>> activeJobs() override { return cupsqueue::ActiveJobs(destination_); }
    cupsqueue::Problem problem() override { return cupsqueue::DestinationProblem(destination_); }
    void cancel(int jobId) override { cupsqueue::CancelJob(destination_, jobId); }

private:
    std::string destination_;
};

} // namespace

std::shared_ptr<JobSource> CupsJobSource(const std::string &destination)
{
    return std::make_shared<CupsSource>(destination);
}

struct JobTracker::Shared
{
    std::shared_ptr<JobSource> source;
    jobs::Limits limits;
    Clock now;
    mutable std::mutex mutex;
    std::condition_variable wake;     // the tracker: a new job, abort, stop
    std::condition_variable finished; // waiters: new results, room, abort
    std::vector<jobs::Followed> pending;
    std::vector<Result> results;
    Problem problem = Problem::None;
    bool aborted = false;
    bool stop = false;
    int waiters = 0;        // calls waiting for a result or for room
    int resultWaiters = 0;  // of them, those waiting for a result
    std::vector<int> shape; // the whole queue as last seen
    TimePoint queueMovedAt;
    bool stuck = false;   // see jobs::Seen
    unsigned settled = 0; // results the tracker came to so far

    bool known(int key) const
    {
        return std::none_of(pending.begin(), pending.end(),
                            [&](const jobs::Followed &p) { return p.key == key; });
    }

    // Sleeps for `pause` unless stopped meanwhile; false once stopped.
    bool pause(std::unique_lock<std::mutex> &lock, milliseconds pause)
    {
        wake.wait_for(lock, pause, [&] { return stop || aborted; });
        return !(stop || aborted);
    }

    // The whole queue, looked at now: has it moved since the last look?
    std::optional<std::vector<Job>> lookAtQueue(TimePoint at)
    {
        std::optional<std::vector<Job>> active = source->activeJobs();
        if (!active)
            return active;
        std::vector<int> seen = jobs::QueueShape(*active);
        std::lock_guard<std::mutex> lock(mutex);
        if (jobs::QueueMoved(shape, seen)) {
            queueMovedAt = at;
            stuck = false;
        }
        shape = std::move(seen);
        return active;
    }

    void loop()
    {
        auto pauseFor = milliseconds(5);
        TimePoint lastLook;
        bool looked = false;
        std::optional<TimePoint> unansweredSince;
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return stop || aborted || !pending.empty(); });
            if (stop || aborted)
                return;
            const std::vector<jobs::Followed> followed = pending;
            const bool knownStopped = problem == Problem::Stopped;
            lock.unlock();

            int firstId = 0;
            for (const jobs::Followed &p : followed)
                if (!firstId || p.jobId < firstId)
                    firstId = p.jobId;
            const std::optional<std::vector<Job>> listed = source->ownJobs(firstId);
            TimePoint at = now();
            if (listed)
                unansweredSince.reset();
            else if (!unansweredSince)
                unansweredSince = at;
            Problem seenProblem = Problem::None;
            const bool lookNow = !looked || at - lastLook >= limits.stateEvery;
            if (lookNow) {
                looked = true;
                lastLook = at;
                seenProblem = source->problem();
                lookAtQueue(at);
            }

            lock.lock();
            jobs::Seen seen;
            seen.answered = listed.has_value();
            seen.unansweredSince = unansweredSince.value_or(at);
            seen.queueMovedAt = queueMovedAt;
            seen.stopped = knownStopped || seenProblem == Problem::Stopped;
            seen.stuck = stuck;
            if (lookNow && seenProblem != Problem::None)
                problem = seenProblem;
            std::vector<int> cancels;
            bool done = false;
            for (auto p = pending.begin(); p != pending.end();) {
                const Job *job = nullptr;
                if (listed)
                    for (const Job &j : *listed)
                        if (j.id == p->jobId)
                            job = &j;
                const jobs::Verdict verdict = jobs::Judge(*p, job, seen, at, limits);
                if (job && job->state != p->lastState) {
                    p->lastState = job->state;
                    p->lastChange = at;
                }
                if (job && job->state == jobs::Processing && !p->processingSince)
                    p->processingSince = at;
                Outcome outcome = Outcome::Unconfirmed;
                switch (verdict) {
                case jobs::Verdict::Waiting:
                    ++p;
                    continue;
                case jobs::Verdict::Printed:
                    outcome = Outcome::Printed;
                    break;
                case jobs::Verdict::Cancel:
                    cancels.push_back(p->jobId);
                    outcome = Outcome::NotPrinted;
                    break;
                case jobs::Verdict::NotPrinted:
                    outcome = Outcome::NotPrinted;
                    break;
                case jobs::Verdict::Unconfirmed:
                    if (job && job->state == jobs::Pending)
                        stuck = true; // given up on for a queue that stood still
                    break;
                }
                results.push_back({p->key, outcome});
                ++settled;
                p = pending.erase(p);
                done = true;
            }
            if (!cancels.empty()) {
                lock.unlock();
                for (int id : cancels)
                    source->cancel(id);
                lock.lock();
            }
            if (done)
                finished.notify_all();
            // While someone waits, look often (most jobs finish within tens of milliseconds); otherwise
            // now and then, so as not to take the scheduler's and the office's time while the next
            // document prints. A wait for room can be told a little later than one for a job's end (the
            // run's last jobs, or one before a pause): the printer still has the window's other jobs.
            if (!listed)
                pauseFor = milliseconds(250); // a scheduler coming back needs a moment
            else if (waiters > 0)
                pauseFor = done ? milliseconds(5)
                                : std::min(pauseFor * 2, milliseconds(resultWaiters > 0 ? 25 : 100));
            else
                pauseFor = milliseconds(100);
            const int waitersBefore = waiters;
            wake.wait_for(lock, pauseFor, [&] {
                return stop || aborted || waiters > waitersBefore ||
                       (problem == Problem::Stopped && !knownStopped);
            });
        }
    }
};

JobTracker::JobTracker(std::string destination, std::shared_ptr<JobSource> source, jobs::Limits limits,
                       Clock now)
    : destination_(std::move(destination)), limits_(limits), shared_(std::make_shared<Shared>())
{
    shared_->source = std::move(source);
    shared_->limits = limits;
    shared_->now = std::move(now);
    shared_->queueMovedAt = shared_->now();
    thread_ = std::thread([shared = shared_] { shared->loop(); });
}

JobTracker::~JobTracker()
{
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->stop = true;
    }
    shared_->wake.notify_all();
    shared_->finished.notify_all();
    thread_.join();
}

Found JobTracker::find(const std::string &mark, int afterId, milliseconds appear)
{
    const TimePoint start = shared_->now();
    std::optional<TimePoint> firstAnswer;
    auto pause = milliseconds(2);
    Found found;
    std::vector<int> askedById; // nameless jobs of ours already asked about one by one
    std::unique_lock<std::mutex> lock(shared_->mutex, std::defer_lock);
    for (;;) {
        std::optional<std::vector<Job>> listed = shared_->source->ownJobs(afterId + 1);
        const TimePoint at = shared_->now();
        if (listed) {
            if (!firstAnswer)
                firstAnswer = at;
            for (Job &job : *listed) {
                // The scheduler lists a finished job without its name: it is asked for by its id.
                if (job.id > afterId && job.titles.empty() &&
                    std::find(askedById.begin(), askedById.end(), job.id) == askedById.end()) {
                    askedById.push_back(job.id);
                    if (const std::optional<Job> full = shared_->source->job(job.id))
                        job.titles = full->titles;
                }
            }
            const jobs::Match match = jobs::MatchJob(*listed, mark, afterId);
            found.otherTitles = match.others;
            if (match.id) {
                found.kind = Found::Kind::Job;
                found.id = match.id;
                return found;
            }
        }
        if (aborted()) {
            found.kind = Found::Kind::Aborted;
            return found;
        }
        switch (jobs::LookAgain(start, firstAnswer, at, appear, limits_.unanswered)) {
        case jobs::Look::NotThere:
            found.kind = Found::Kind::NotThere;
            return found;
        case jobs::Look::NoAnswer:
            found.kind = Found::Kind::NoAnswer;
            return found;
        case jobs::Look::Again:
            break;
        }
        lock.lock();
        shared_->pause(lock, pause);
        lock.unlock();
        pause = std::min(pause * 2, milliseconds(100));
    }
}

void JobTracker::follow(int key, int jobId)
{
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        const TimePoint at = shared_->now();
        jobs::Followed followed;
        followed.key = key;
        followed.jobId = jobId;
        followed.since = at;
        followed.lastChange = at;
        shared_->pending.push_back(followed);
    }
    shared_->wake.notify_all();
}

void JobTracker::settle(int key, Outcome outcome)
{
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->results.push_back({key, outcome});
    }
    shared_->finished.notify_all();
}

std::vector<JobTracker::Result> JobTracker::take(int waitFor)
{
    std::unique_lock<std::mutex> lock(shared_->mutex);
    if (waitFor != NoKey) {
        ++shared_->waiters;
        ++shared_->resultWaiters;
        shared_->wake.notify_all(); // look now
        shared_->finished.wait(lock, [&] {
            if (shared_->aborted || shared_->stop)
                return true;
            return waitFor == AllKeys ? shared_->pending.empty() : shared_->known(waitFor);
        });
        --shared_->waiters;
        --shared_->resultWaiters;
    }
    std::vector<Result> results;
    results.swap(shared_->results);
    return results;
}

bool JobTracker::waitForRoom()
{
    std::unique_lock<std::mutex> lock(shared_->mutex);
    if (jobs::RoomForAnother(int(shared_->pending.size()), limits_))
        return !shared_->aborted;
    ++shared_->waiters;
    shared_->wake.notify_all();
    shared_->finished.wait(lock, [&] {
        return shared_->aborted || shared_->stop ||
               jobs::RoomForAnother(int(shared_->pending.size()), limits_);
    });
    --shared_->waiters;
    return !(shared_->aborted || shared_->stop);
}

jobs::TimePoint JobTracker::now() const
{
    return shared_->now();
}

bool JobTracker::waitAfterRefusal(TimePoint refusedSince)
{
    std::vector<int> before;
    unsigned settledBefore = 0;
    bool first = true;
    for (;;) {
        const Problem problem = shared_->source->problem();
        const TimePoint at = shared_->now();
        const std::optional<std::vector<Job>> active = shared_->lookAtQueue(at);
        std::unique_lock<std::mutex> lock(shared_->mutex);
        if (first) {
            before = shared_->shape;
            settledBefore = shared_->settled;
        } else if (shared_->pending.empty() ? jobs::QueueMoved(before, shared_->shape)
                                            : shared_->settled != settledBefore) {
            // Room now. While jobs of the run wait, only once one of them was seen to its end: the next job
            // may make the scheduler forget a finished one, and it must not be one not yet seen finished.
            return true;
        }
        first = false;
        const int waiting = active ? int(active->size()) : 0;
        if (jobs::OnRefused(problem == Problem::None && active, waiting, refusedSince, shared_->queueMovedAt,
                            at, limits_) == jobs::Refused::GiveUp)
            return false;
        ++shared_->waiters;
        shared_->wake.notify_all();
        shared_->finished.wait_for(lock, limits_.stateEvery, [&] {
            return shared_->aborted || shared_->stop || shared_->settled != settledBefore;
        });
        --shared_->waiters;
        if (shared_->aborted || shared_->stop)
            return false;
    }
}

JobTracker::Problem JobTracker::checkNow()
{
    const Problem seen = shared_->source->problem();
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (seen != Problem::None) {
        shared_->problem = seen;
        shared_->wake.notify_all(); // jobs waiting in a stopped queue are cancelled at once
    }
    return shared_->problem;
}

JobTracker::Problem JobTracker::checkWhileBusy()
{
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (shared_->pending.empty() || shared_->problem != Problem::None)
            return shared_->problem;
    }
    return checkNow();
}

JobTracker::Problem JobTracker::problem() const
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->problem;
}

void JobTracker::abort()
{
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->aborted = true;
    }
    shared_->wake.notify_all();
    shared_->finished.notify_all();
}

bool JobTracker::aborted() const
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->aborted;
}
