#include "print/libreoffice/cupsqueue.h"

#include <cups/cups.h>

#include <algorithm>
#include <cstring>
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
    static const char *const attributes[] = {"job-id", "job-state", "job-name"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
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
        }
    }
    if (job.id > 0)
        jobs.push_back(job);
    ippDelete(response);
    return jobs;
}

bool DestinationStopped(const std::string &destination)
{
    cups_dest_t *dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, destination.c_str(), nullptr);
    if (!dest)
        return false;
    bool stopped = Option(dest, "printer-state") == "5";
    cupsFreeDests(1, dest);
    return stopped;
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

JobOutcome FollowJob(const std::string &destination, int afterId, const std::string &title,
                     const FollowLimits &limits, int *jobId)
{
    const auto start = Clock::now();
    auto lastMotion = start;
    auto stoppedSince = Clock::time_point();
    auto lastStateCheck = Clock::time_point();
    bool stopped = false;
    std::vector<std::pair<int, int>> lastActive;
    auto pause = std::chrono::milliseconds(3);

    for (;;) {
        const auto now = Clock::now();
        const Job *mine = nullptr;
        const std::vector<Job> jobs = ListJobs(destination, "all", afterId + 1);
        for (const Job &job : jobs) {
            if (job.id > afterId && (title.empty() || job.title == title) && (!mine || job.id < mine->id))
                mine = &job;
        }
        if (mine) {
            if (jobId)
                *jobId = mine->id;
            if (mine->state == IPP_JSTATE_COMPLETED)
                return JobOutcome::Printed;
            if (mine->state == IPP_JSTATE_CANCELED || mine->state == IPP_JSTATE_ABORTED)
                return JobOutcome::NotPrinted;

            // Still waiting or being printed: is the queue moving?
            std::vector<std::pair<int, int>> active;
            for (const Job &job : ListJobs(destination, "not-completed", 0))
                active.emplace_back(job.id, job.state);
            if (active != lastActive) {
                lastActive = active;
                lastMotion = now;
            }
            if (now - lastStateCheck > std::chrono::milliseconds(500)) {
                lastStateCheck = now;
                const bool nowStopped = DestinationStopped(destination);
                if (nowStopped && !stopped)
                    stoppedSince = now;
                stopped = nowStopped;
            }
            const bool waiting = mine->state != IPP_JSTATE_PROCESSING;
            if (waiting && ((stopped && now - stoppedSince > limits.stopped) ||
                            now - lastMotion > limits.motionless || now - start > limits.overall)) {
                cupsCancelJob2(CUPS_HTTP_DEFAULT, destination.c_str(), mine->id, 0);
                return JobOutcome::NotPrinted;
            }
            if (now - start > limits.overall)
                return JobOutcome::Unknown; // being printed; nothing more to learn here
        } else if (now - start > limits.appear) {
            return JobOutcome::Unknown;
        }
        // Most jobs finish within tens of milliseconds: look often at first, then less and less often.
        std::this_thread::sleep_for(pause);
        if (now - start > std::chrono::seconds(2))
            pause = std::min(pause * 2, std::chrono::milliseconds(200));
    }
}

} // namespace cupsqueue
