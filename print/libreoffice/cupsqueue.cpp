#include "print/libreoffice/cupsqueue.h"

#include <cups/cups.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace cupsqueue {

namespace {

using Clock = std::chrono::steady_clock;

std::string Option(cups_dest_t *dest, const char *name)
{
    const char *value = cupsGetOption(name, dest->num_options, dest->options);
    return value ? value : "";
}

struct Job
{
    int id = 0;
    int state = IPP_JSTATE_PENDING;
    std::string title;
    bool incoming = false; // created, but its document has not all arrived yet
};

// Get-Jobs for the destination with only the attributes needed here. firstId > 0 starts the list at that
// job id, so that the time taken does not grow with the scheduler's history of finished jobs.
std::vector<Job> ListJobs(const std::string &destination, const char *which, int firstId)
{
    std::vector<Job> jobs;
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                     destination.c_str());
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, which);
    if (firstId > 0)
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "first-job-id", firstId);
    static const char *const attributes[] = {"job-id", "job-state", "job-name", "job-state-reasons"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 4, nullptr,
                  attributes);

    ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    if (!response)
        return jobs;
    Job job;
    for (ipp_attribute_t *attr = ippFirstAttribute(response); attr; attr = ippNextAttribute(response)) {
        const char *name = ippGetName(attr);
        if (!name) { // the separator between two jobs
            if (job.id > 0)
                jobs.push_back(job);
            job = Job();
            continue;
        }
        if (ippGetGroupTag(attr) != IPP_TAG_JOB)
            continue;
        if (!strcmp(name, "job-id") && ippGetValueTag(attr) == IPP_TAG_INTEGER)
            job.id = ippGetInteger(attr, 0);
        else if (!strcmp(name, "job-state") && ippGetValueTag(attr) == IPP_TAG_ENUM)
            job.state = ippGetInteger(attr, 0);
        else if (!strcmp(name, "job-name")) {
            const char *text = ippGetString(attr, 0, nullptr);
            job.title = text ? text : "";
        } else if (!strcmp(name, "job-state-reasons")) {
            for (int i = 0; i < ippGetCount(attr); ++i) {
                const char *reason = ippGetString(attr, i, nullptr);
                if (reason && !strcmp(reason, "job-incoming"))
                    job.incoming = true;
            }
        }
    }
    if (job.id > 0)
        jobs.push_back(job);
    ippDelete(response);
    return jobs;
}

// One Get-Printer-Attributes request for the two attributes needed: cupsGetNamedDest would make several.
JobTracker::Problem DestinationProblem(const std::string &destination)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                     destination.c_str());
    ipp_t *request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    static const char *const attributes[] = {"printer-state", "printer-is-accepting-jobs"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr,
                  attributes);
    ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    if (!response)
        return JobTracker::Problem::None; // cannot tell; the jobs' own states still do
    JobTracker::Problem problem = JobTracker::Problem::None;
    ipp_attribute_t *state = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM);
    ipp_attribute_t *accepting = ippFindAttribute(response, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
    if (state && ippGetInteger(state, 0) == IPP_PSTATE_STOPPED)
        problem = JobTracker::Problem::Stopped;
    else if (accepting && !ippGetBoolean(accepting, 0))
        problem = JobTracker::Problem::NotAccepting;
    ippDelete(response);
    return problem;
}

} // namespace

Destination DefaultDestination()
{
    // Forget the server this thread used before: CUPS_SERVER may name another one by now.
    cupsSetServer(nullptr);
    Destination result;
    cups_dest_t *dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr);
    if (!dest) {
        // No default, or nobody to ask: the error code does not tell these apart, a connection does.
        http_t *http =
            httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 5000, nullptr);
        result.state = http ? Destination::State::NoDefault : Destination::State::NoServer;
        if (http)
            httpClose(http);
        return result;
    }
    result.name = dest->name;
    if (Option(dest, "printer-state") == "5")
        result.state = Destination::State::Stopped;
    else if (Option(dest, "printer-is-accepting-jobs") == "false")
        result.state = Destination::State::NotAccepting;
    else
        result.state = Destination::State::Ready;
    cupsFreeDests(1, dest);
    return result;
}

int HighestJobId(const std::string &destination)
{
    int highest = 0;
    for (const Job &job : ListJobs(destination, "all", 0))
        highest = std::max(highest, job.id);
    return highest;
}

bool CancelIfIncomplete(const std::string &destination, int jobId)
{
    for (const Job &job : ListJobs(destination, "all", jobId)) {
        if (job.id == jobId && job.incoming && job.state == IPP_JSTATE_HELD) {
            cupsCancelJob2(CUPS_HTTP_DEFAULT, destination.c_str(), jobId, 0);
            return true;
        }
    }
    return false;
}

int FindJob(const std::string &destination, int afterId, const std::string &title,
            std::chrono::milliseconds appear, const std::atomic<bool> *abort)
{
    const auto start = Clock::now();
    auto pause = std::chrono::milliseconds(2);
    for (;;) {
        int found = 0;
        for (const Job &job : ListJobs(destination, "all", afterId + 1)) {
            // A job that has already finished may be listed without its name: it is the one.
            if (job.id > afterId && (title.empty() || job.title.empty() || job.title == title) &&
                (!found || job.id < found))
                found = job.id;
        }
        if (found)
            return found;
        if ((abort && *abort) || Clock::now() - start > appear)
            return 0;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(100));
    }
}

struct JobTracker::Shared
{
    struct Pending
    {
        int key;
        int jobId;
        bool spooled;
        Clock::time_point since;
    };

    std::string destination;
    Limits limits;
    mutable std::mutex mutex;
    std::condition_variable wake;     // the tracker: a new job, abort, stop
    std::condition_variable finished; // take(): new results, abort
    std::vector<Pending> pending;
    std::vector<Result> results;
    Problem problem = Problem::None;
    bool aborted = false;
    bool stop = false;
    int waiters = 0; // take() calls waiting for a result

    bool known(int key) const
    {
        for (const Pending &p : pending)
            if (p.key == key)
                return false;
        return true;
    }

    void loop()
    {
        auto pause = std::chrono::milliseconds(5);
        auto lastMotion = Clock::now();
        auto lastStateCheck = Clock::time_point();
        std::vector<std::pair<int, int>> lastStates;
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return stop || aborted || !pending.empty(); });
            if (stop || aborted)
                return;
            const std::vector<Pending> jobs = pending;
            const bool knownStopped = problem == Problem::Stopped;
            lock.unlock();

            int firstId = 0;
            for (const Pending &p : jobs)
                if (p.jobId > 0 && (!firstId || p.jobId < firstId))
                    firstId = p.jobId;
            std::vector<Job> listed;
            if (firstId)
                listed = ListJobs(destination, "all", firstId);
            const auto now = Clock::now();
            Problem seen = Problem::None;
            bool looked = false;
            if (now - lastStateCheck >= limits.stateEvery) {
                lastStateCheck = now;
                seen = DestinationProblem(destination);
                looked = true;
            }

            std::vector<Result> done;
            std::vector<std::pair<int, int>> states;
            for (const Pending &p : jobs) {
                if (p.jobId <= 0) {
                    done.push_back({p.key, p.spooled});
                    continue;
                }
                const Job *job = nullptr;
                for (const Job &j : listed)
                    if (j.id == p.jobId)
                        job = &j;
                if (!job) {
                    // Gone from the scheduler's history: only the office's word is left.
                    done.push_back({p.key, p.spooled});
                    continue;
                }
                if (job->state == IPP_JSTATE_COMPLETED) {
                    done.push_back({p.key, true});
                    continue;
                }
                if (job->state == IPP_JSTATE_CANCELED || job->state == IPP_JSTATE_ABORTED) {
                    done.push_back({p.key, false});
                    continue;
                }
                states.emplace_back(job->id, job->state);
                // A job waiting in a stopped queue, or in one that has not moved for too long, is
                // cancelled: it must not print later by surprise.
                const bool waiting = job->state != IPP_JSTATE_PROCESSING;
                if (waiting && (seen == Problem::Stopped || knownStopped ||
                                now - lastMotion > limits.motionless || now - p.since > limits.overall)) {
                    cupsCancelJob2(CUPS_HTTP_DEFAULT, destination.c_str(), job->id, 0);
                    done.push_back({p.key, false});
                } else if (now - p.since > limits.overall) {
                    done.push_back({p.key, p.spooled}); // being printed; nothing more to learn here
                }
            }
            if (states != lastStates) {
                lastStates = states;
                lastMotion = now;
            }

            lock.lock();
            if (looked && seen != Problem::None)
                problem = seen;
            for (const Result &r : done) {
                results.push_back(r);
                pending.erase(std::remove_if(pending.begin(), pending.end(),
                                             [&](const Pending &p) { return p.key == r.key; }),
                              pending.end());
            }
            if (!done.empty())
                finished.notify_all();
            // While someone waits for a result, look often (most jobs finish within tens of
            // milliseconds); otherwise now and then, so as not to take the scheduler's and the office's
            // time while the next document prints.
            if (waiters > 0)
                pause = done.empty() ? std::min(pause * 2, std::chrono::milliseconds(100))
                                     : std::chrono::milliseconds(5);
            else
                pause = std::chrono::milliseconds(100);
            const int waitersBefore = waiters;
            wake.wait_for(lock, pause, [&] {
                return stop || aborted || waiters > waitersBefore ||
                       (problem == Problem::Stopped && !knownStopped);
            });
        }
    }
};

JobTracker::JobTracker(std::string destination, Limits limits)
    : destination_(destination), shared_(std::make_shared<Shared>())
{
    shared_->destination = std::move(destination);
    shared_->limits = limits;
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

void JobTracker::follow(int key, int jobId, bool spooled)
{
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->pending.push_back({key, jobId, spooled, Clock::now()});
    }
    shared_->wake.notify_all();
}

std::vector<JobTracker::Result> JobTracker::take(int waitFor)
{
    std::unique_lock<std::mutex> lock(shared_->mutex);
    if (waitFor != NoKey) {
        ++shared_->waiters;
        shared_->wake.notify_all(); // look now
        shared_->finished.wait(lock, [&] {
            if (shared_->aborted || shared_->stop)
                return true;
            return waitFor == AllKeys ? shared_->pending.empty() : shared_->known(waitFor);
        });
        --shared_->waiters;
    }
    std::vector<Result> results;
    results.swap(shared_->results);
    return results;
}

JobTracker::Problem JobTracker::checkNow()
{
    std::string destination;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        destination = shared_->destination;
    }
    const Problem seen = DestinationProblem(destination);
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

} // namespace cupsqueue
