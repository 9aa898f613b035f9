#pragma once
// The CUPS default destination as the LibreOffice client needs it: whether printing can go ahead, and
// what became of a job once the office has spooled it.

#include <chrono>
#include <string>

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

enum class JobOutcome
{
    Printed,    // completed
    NotPrinted, // aborted or cancelled, or cancelled here because the queue stopped moving
    Unknown     // no such job appeared, or it was still being printed at the bound
};

struct FollowLimits
{
    std::chrono::milliseconds appear{10000};      // how long the job may take to show up
    std::chrono::milliseconds stopped{30000};     // pending while the destination is stopped
    std::chrono::milliseconds motionless{600000}; // pending while nothing in the queue changes
    std::chrono::milliseconds overall{1800000};   // whatever happens
};

// Follows the first job above afterId on the destination titled title until it completes or fails.
// A job still pending when the queue has stopped moving for a limit is cancelled, so that it cannot
// print later by surprise. *jobId receives the job's id when one was found.
JobOutcome FollowJob(const std::string &destination, int afterId, const std::string &title,
                     const FollowLimits &limits = FollowLimits(), int *jobId = nullptr);

} // namespace cupsqueue
