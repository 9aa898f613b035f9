#include "print/libreoffice/cupsqueue.h"

#include <cups/cups.h>

#include <QtGlobal>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <mutex>
#include <optional>
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
    // Every job-name the scheduler lists: for a name holding a control character (a line break, a tab)
    // it keeps the name as sent and adds "Untitled" after it.
    std::vector<std::string> titles;
    std::string user;      // job-originating-user-name; empty when the scheduler hides it
    bool incoming = false; // created, but its document has not all arrived yet
    int documents = -1;    // number-of-documents, -1 when not listed
};

std::string PrinterUri(const std::string &destination)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                     destination.c_str());
    return uri;
}

// No response, or an error status (the queue deleted, the scheduler going down): nothing is known.
bool Answered(ipp_t *response)
{
    return response && ippGetStatusCode(response) <= IPP_STATUS_OK_EVENTS_COMPLETE;
}

void ReadJobs(ipp_t *response, std::vector<Job> &jobs)
{
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
        if (!strcmp(name, "job-id") && ippGetValueTag(attr) == IPP_TAG_INTEGER) {
            job.id = ippGetInteger(attr, 0);
        } else if (!strcmp(name, "job-state") && ippGetValueTag(attr) == IPP_TAG_ENUM) {
            job.state = ippGetInteger(attr, 0);
        } else if (!strcmp(name, "job-name")) {
            const char *text = ippGetString(attr, 0, nullptr);
            if (text)
                job.titles.push_back(text);
        } else if (!strcmp(name, "number-of-documents") && ippGetValueTag(attr) == IPP_TAG_INTEGER) {
            job.documents = ippGetInteger(attr, 0);
        } else if (!strcmp(name, "job-originating-user-name")) {
            const char *text = ippGetString(attr, 0, nullptr);
            job.user = text ? text : "";
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
}

const char *const JobAttributes[] = {"job-id",
                                     "job-state",
                                     "job-name",
                                     "job-state-reasons",
                                     "job-originating-user-name",
                                     "number-of-documents"};

// Get-Jobs for the user's own jobs on the destination, with only the attributes needed here. firstId > 0
// starts the list at that job id, so that the time taken does not grow with the scheduler's history of
// finished jobs. Nothing when the scheduler did not answer.
std::optional<std::vector<Job>> ListJobs(const std::string &destination, const char *which, int firstId)
{
    const std::string uri = PrinterUri(destination);
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", 1);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, which);
    if (firstId > 0)
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "first-job-id", firstId);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  int(std::size(JobAttributes)), nullptr, JobAttributes);

    ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    if (!Answered(response)) {
        ippDelete(response);
        return std::nullopt;
    }
    std::vector<Job> jobs;
    ReadJobs(response, jobs);
    ippDelete(response);
    // Should a scheduler list other users' jobs all the same, they are still not ours.
    const std::string me = cupsUser();
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(),
                              [&](const Job &job) { return !job.user.empty() && job.user != me; }),
               jobs.end());
    return jobs;
}

// One job asked for by its id: a job the scheduler has put away may be listed without its name.
std::optional<Job> GetJob(int jobId)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/jobs/%d", jobId);
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  int(std::size(JobAttributes)), nullptr, JobAttributes);
    ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    std::optional<Job> job;
    if (Answered(response)) {
        std::vector<Job> jobs;
        ReadJobs(response, jobs);
        if (jobs.size() == 1 && jobs.front().id == jobId)
            job = jobs.front();
    }
    ippDelete(response);
    return job;
}

bool Titled(const Job &job, const std::string &title)
{
    return std::find(job.titles.begin(), job.titles.end(), title) != job.titles.end();
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
    if (ippGetStatusCode(response) == IPP_STATUS_ERROR_NOT_FOUND) {
        ippDelete(response);
        return JobTracker::Problem::Gone;
    }
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
    const std::optional<std::vector<Job>> jobs = ListJobs(destination, "all", 0);
    if (!jobs)
        return -1;
    int highest = 0;
    for (const Job &job : *jobs)
        highest = std::max(highest, job.id);
    return highest;
}

bool CancelIfIncomplete(const std::string &destination, int jobId)
{
    for (const Job &job : ListJobs(destination, "all", jobId).value_or(std::vector<Job>())) {
        // A held queue lists such a job as held for its hold, not as incoming: it has no document.
        const bool waiting = job.state == IPP_JSTATE_HELD || job.state == IPP_JSTATE_PENDING;
        if (job.id == jobId && waiting && (job.incoming || job.documents == 0)) {
            cupsCancelJob2(CUPS_HTTP_DEFAULT, destination.c_str(), jobId, 0);
            return true;
        }
    }
    return false;
}

TrackerLimits TrackerLimits::FromEnvironment()
{
    TrackerLimits limits;
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("QUILLMARK_JOB_WAIT_SECONDS", &ok);
    if (ok && seconds > 0) {
        const std::chrono::milliseconds cap(qint64(seconds) * 1000);
        limits.motionless = std::min(limits.motionless, cap);
        limits.overall = std::min(limits.overall, cap);
        limits.unanswered = std::min(limits.unanswered, cap);
    }
    return limits;
}

Found FindJob(const std::string &destination, int afterId, const std::string &title,
              std::chrono::milliseconds appear, std::chrono::milliseconds unanswered,
              const std::atomic<bool> *abort)
{
    const auto start = Clock::now();
    std::optional<Clock::time_point> firstAnswer;
    auto pause = std::chrono::milliseconds(2);
    Found found;
    std::vector<int> askedById; // nameless jobs of ours already asked about one by one
    for (;;) {
        const std::optional<std::vector<Job>> jobs = ListJobs(destination, "all", afterId + 1);
        const auto now = Clock::now();
        if (jobs) {
            if (!firstAnswer)
                firstAnswer = now;
            found.otherTitles.clear();
            int match = 0;
            for (Job job : *jobs) {
                if (job.id <= afterId)
                    continue;
                if (job.titles.empty() &&
                    std::find(askedById.begin(), askedById.end(), job.id) == askedById.end()) {
                    askedById.push_back(job.id);
                    if (const std::optional<Job> full = GetJob(job.id))
                        job.titles = full->titles;
                }
                if (Titled(job, title)) {
                    if (!match || job.id < match)
                        match = job.id;
                } else {
                    std::string titles;
                    for (const std::string &t : job.titles)
                        titles += (titles.empty() ? "" : " / ") + t;
                    found.otherTitles.push_back(std::to_string(job.id) + " " + titles);
                }
            }
            if (match) {
                found.kind = Found::Kind::Job;
                found.id = match;
                return found;
            }
        }
        if (abort && *abort) {
            found.kind = Found::Kind::Aborted;
            return found;
        }
        if (firstAnswer && now - *firstAnswer > appear && now - start > appear) {
            found.kind = Found::Kind::NotThere;
            return found;
        }
        if (!firstAnswer && now - start > std::max(appear, unanswered)) {
            found.kind = Found::Kind::NoAnswer;
            return found;
        }
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
        Clock::time_point since;
        int lastState = -1;
        Clock::time_point lastChange;
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
        auto lastStateCheck = Clock::time_point();
        std::optional<Clock::time_point> unansweredSince;
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
                if (!firstId || p.jobId < firstId)
                    firstId = p.jobId;
            const std::optional<std::vector<Job>> listed = ListJobs(destination, "all", firstId);
            const auto now = Clock::now();
            if (listed)
                unansweredSince.reset();
            else if (!unansweredSince)
                unansweredSince = now;
            Problem seen = Problem::None;
            bool looked = false;
            if (now - lastStateCheck >= limits.stateEvery) {
                lastStateCheck = now;
                seen = DestinationProblem(destination);
                looked = true;
            }

            std::vector<Result> done;
            std::vector<std::pair<int, int>> changed; // key, state
            for (const Pending &p : jobs) {
                if (!listed) {
                    // Nobody to ask (a restart, a queue deleted): the job may still print or not.
                    if (now - *unansweredSince > limits.unanswered || now - p.since > limits.overall)
                        done.push_back({p.key, Outcome::Unconfirmed});
                    continue;
                }
                const Job *job = nullptr;
                for (const Job &j : *listed)
                    if (j.id == p.jobId)
                        job = &j;
                if (!job) {
                    // Gone from the scheduler's history before it was seen completed: whether it printed
                    // is not known.
                    done.push_back({p.key, Outcome::Unconfirmed});
                    continue;
                }
                if (job->state == IPP_JSTATE_COMPLETED) {
                    done.push_back({p.key, Outcome::Printed});
                    continue;
                }
                if (job->state == IPP_JSTATE_CANCELED || job->state == IPP_JSTATE_ABORTED) {
                    done.push_back({p.key, Outcome::NotPrinted});
                    continue;
                }
                const bool moved = job->state != p.lastState;
                if (moved)
                    changed.emplace_back(p.key, job->state);
                const auto still =
                    moved ? std::chrono::milliseconds(0)
                          : std::chrono::duration_cast<std::chrono::milliseconds>(now - p.lastChange);
                const bool waiting = job->state != IPP_JSTATE_PROCESSING;
                if (waiting && (seen == Problem::Stopped || knownStopped)) {
                    // A stopped queue: the job must not print later by surprise.
                    cupsCancelJob2(CUPS_HTTP_DEFAULT, destination.c_str(), job->id, 0);
                    done.push_back({p.key, Outcome::NotPrinted});
                } else if ((waiting && still > limits.motionless) || now - p.since > limits.overall) {
                    // Waiting behind other jobs, held for release at the printer, or printing for ever: the
                    // job stays in the queue, and the run stops waiting for it.
                    done.push_back({p.key, Outcome::Unconfirmed});
                }
            }

            lock.lock();
            if (looked && seen != Problem::None)
                problem = seen;
            for (const auto &c : changed) {
                for (Pending &p : pending) {
                    if (p.key == c.first) {
                        p.lastState = c.second;
                        p.lastChange = now;
                    }
                }
            }
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
            if (waiters > 0 && listed)
                pause = done.empty() ? std::min(pause * 2, std::chrono::milliseconds(100))
                                     : std::chrono::milliseconds(5);
            else if (!listed)
                pause = std::chrono::milliseconds(250); // a scheduler coming back needs a moment
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
    : destination_(destination), limits_(limits), shared_(std::make_shared<Shared>())
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

void JobTracker::follow(int key, int jobId)
{
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        const auto now = Clock::now();
        shared_->pending.push_back({key, jobId, now, -1, now});
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
