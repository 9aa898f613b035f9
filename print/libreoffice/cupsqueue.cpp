#include "print/libreoffice/cupsqueue.h"

#include <cups/cups.h>

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

struct Snapshot
{
    bool found = false;
    int id = 0;
    ipp_jstate_t state = IPP_JSTATE_PENDING;
    std::vector<std::pair<int, int>> active; // every unfinished job of the destination, with its state
};

Snapshot Look(const std::string &destination, int afterId, const std::string &title)
{
    Snapshot snap;
    cups_job_t *jobs = nullptr;
    int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, destination.c_str(), 0, CUPS_WHICHJOBS_ALL);
    for (int i = 0; i < count; ++i) {
        const cups_job_t &job = jobs[i];
        if (job.state < IPP_JSTATE_CANCELED)
            snap.active.emplace_back(job.id, job.state);
        if (job.id <= afterId || (snap.found && snap.id < job.id))
            continue;
        if (!title.empty() && (!job.title || title != job.title))
            continue;
        snap.found = true;
        snap.id = job.id;
        snap.state = job.state;
    }
    cupsFreeJobs(count, jobs);
    return snap;
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
        ipp_status_t error = cupsLastError();
        result.state = (error == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || error == IPP_STATUS_ERROR_INTERNAL)
                           ? Destination::State::NoServer
                           : Destination::State::NoDefault;
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
    cups_job_t *jobs = nullptr;
    int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, destination.c_str(), 0, CUPS_WHICHJOBS_ALL);
    int highest = 0;
    for (int i = 0; i < count; ++i)
        highest = std::max(highest, jobs[i].id);
    cupsFreeJobs(count, jobs);
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
        const Snapshot snap = Look(destination, afterId, title);
        const auto now = Clock::now();
        if (snap.found) {
            if (jobId)
                *jobId = snap.id;
            if (snap.state == IPP_JSTATE_COMPLETED)
                return JobOutcome::Printed;
            if (snap.state == IPP_JSTATE_CANCELED || snap.state == IPP_JSTATE_ABORTED)
                return JobOutcome::NotPrinted;

            if (snap.active != lastActive) {
                lastActive = snap.active;
                lastMotion = now;
            }
            if (now - lastStateCheck > std::chrono::milliseconds(500)) {
                lastStateCheck = now;
                const bool nowStopped = DestinationStopped(destination);
                if (nowStopped && !stopped)
                    stoppedSince = now;
                stopped = nowStopped;
            }
            const bool waiting = snap.state != IPP_JSTATE_PROCESSING;
            if (waiting && ((stopped && now - stoppedSince > limits.stopped) ||
                            now - lastMotion > limits.motionless || now - start > limits.overall)) {
                cupsCancelJob2(CUPS_HTTP_DEFAULT, destination.c_str(), snap.id, 0);
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
