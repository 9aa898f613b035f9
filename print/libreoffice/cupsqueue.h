#pragma once
// The CUPS scheduler as the LibreOffice client asks it, one IPP request a call: the default destination
// and its state, the user's own jobs, the whole queue's unfinished jobs, one job, a cancel.
//
// Own jobs are only ever looked for among the user's (my-jobs, with the requesting user's name): on a
// shared queue another user's job, whose name the scheduler hides, is never taken for ours. A scheduler
// that does not answer (or answers with an error) is told apart from one that answered without the job.

#include "print/libreoffice/jobpolicy.h"

#include <optional>
#include <string>
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

enum class Problem
{
    None,
    Stopped,
    NotAccepting,
    Gone // the destination was deleted
};
// The destination's state in one Get-Printer-Attributes request; None also when nobody answers.
Problem DestinationProblem(const std::string &destination);

// The user's own jobs on the destination, finished ones included, from firstId on (0: all).
std::optional<std::vector<jobs::Job>> OwnJobs(const std::string &destination, int firstId);
// Everybody's unfinished jobs on the destination (other users' without name or owner).
std::optional<std::vector<jobs::Job>> ActiveJobs(const std::string &destination);
// One job by its id: a job the scheduler has put away may be listed without its name.
std::optional<jobs::Job> GetJob(int jobId);

// The highest id among the user's own jobs on the destination, finished ones included; 0 when none, -1
// when the scheduler did not answer.
int HighestJobId(const std::string &destination);

void CancelJob(const std::string &destination, int jobId);

// A job whose sender died before its document had all arrived waits in the queue until the scheduler's
// own time-out, a quarter of an hour: such a job is cancelled here. True when it was one.
bool CancelIfIncomplete(const std::string &destination, int jobId);

} // namespace cupsqueue
