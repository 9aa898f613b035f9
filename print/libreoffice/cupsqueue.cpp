#include "print/libreoffice/cupsqueue.h"

#include <cups/cups.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace cupsqueue {

namespace {

using jobs::Job;

std::string Option(cups_dest_t *dest, const char *name)
{
    const char *value = cupsGetOption(name, dest->num_options, dest->options);
    return value ? value : "";
}

std::string Uri(const char *format, const std::string &what)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, format,
                     what.c_str());
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
        const bool integer = ippGetValueTag(attr) == IPP_TAG_INTEGER;
        if (!strcmp(name, "job-id") && integer) {
            job.id = ippGetInteger(attr, 0);
        } else if (!strcmp(name, "job-state") && ippGetValueTag(attr) == IPP_TAG_ENUM) {
            job.state = ippGetInteger(attr, 0);
        } else if (!strcmp(name, "job-name")) {
            const char *text = ippGetString(attr, 0, nullptr);
            if (text)
                job.titles.push_back(text);
        } else if (!strcmp(name, "number-of-documents") && integer) {
            job.documents = ippGetInteger(attr, 0);
        } else if (!strcmp(name, "job-media-sheets-completed") && integer) {
            job.progress = ippGetInteger(attr, 0);
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
                                     "number-of-documents",
                                     "job-media-sheets-completed"};

ipp_t *NewRequest(ipp_op_t operation, const char *uriName, const std::string &uri)
{
    ipp_t *request = ippNewRequest(operation);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, uriName, nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    return request;
}

// Get-Jobs with only the attributes needed here. firstId > 0 starts the list at that job id, so that the
// time taken does not grow with the scheduler's history of finished jobs.
std::optional<std::vector<Job>> ListJobs(const std::string &destination, const char *which, bool mine,
                                         int firstId)
{
    ipp_t *request = NewRequest(IPP_OP_GET_JOBS, "printer-uri", Uri("/printers/%s", destination));
    if (mine)
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
    return jobs;
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

// One request for the two attributes needed: cupsGetNamedDest would make several.
Problem DestinationProblem(const std::string &destination)
{
    ipp_t *request =
        NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, "printer-uri", Uri("/printers/%s", destination));
    static const char *const attributes[] = {"printer-state", "printer-is-accepting-jobs"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr,
                  attributes);
    ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    if (!response)
        return Problem::None; // cannot tell; the jobs' own states still do
    if (ippGetStatusCode(response) == IPP_STATUS_ERROR_NOT_FOUND) {
        ippDelete(response);
        return Problem::Gone;
    }
    Problem problem = Problem::None;
    ipp_attribute_t *state = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM);
    ipp_attribute_t *accepting = ippFindAttribute(response, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
    if (state && ippGetInteger(state, 0) == IPP_PSTATE_STOPPED)
        problem = Problem::Stopped;
    else if (accepting && !ippGetBoolean(accepting, 0))
        problem = Problem::NotAccepting;
    ippDelete(response);
    return problem;
}

std::optional<std::vector<Job>> OwnJobs(const std::string &destination, int firstId)
{
    // The scheduler answers with at most 500 jobs, the oldest first: a longer list comes in pages.
    constexpr size_t FullPage = 500;
    std::optional<std::vector<Job>> jobs = ListJobs(destination, "all", true, firstId);
    for (size_t page = jobs ? jobs->size() : 0; page >= FullPage;) {
        int last = 0;
        for (const Job &job : *jobs)
            last = std::max(last, job.id);
        std::optional<std::vector<Job>> more = ListJobs(destination, "all", true, last + 1);
        if (!more)
            return std::nullopt;
        page = more->size();
        jobs->insert(jobs->end(), more->begin(), more->end());
    }
    if (!jobs)
        return jobs;
    // Should a scheduler list other users' jobs all the same, they are still not ours.
    const std::string me = cupsUser();
    jobs->erase(std::remove_if(jobs->begin(), jobs->end(),
                               [&](const Job &job) { return !job.user.empty() && job.user != me; }),
                jobs->end());
    return jobs;
}

std::optional<std::vector<Job>> ActiveJobs(const std::string &destination)
{
    return ListJobs(destination, "not-completed", false, 0);
}

std::optional<Job> GetJob(int jobId)
{
    ipp_t *request = NewRequest(IPP_OP_GET_JOB_ATTRIBUTES, "job-uri", Uri("/jobs/%s", std::to_string(jobId)));
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

int HighestJobId(const std::string &destination)
{
    // Page by page up the ids until nothing newer comes, whatever number a page holds: a scheduler that
    // keeps a long history lists only its oldest jobs in one answer.
    int highest = 0;
    for (;;) {
        const std::optional<std::vector<Job>> jobs = ListJobs(destination, "all", true, highest + 1);
        if (!jobs)
            return -1;
        int newest = highest;
        for (const Job &job : *jobs)
            newest = std::max(newest, job.id);
        if (newest == highest)
            return highest;
        highest = newest;
    }
}

void CancelJob(const std::string &destination, int jobId)
{
    cupsCancelJob2(CUPS_HTTP_DEFAULT, destination.c_str(), jobId, 0);
}

bool CancelIfIncomplete(const std::string &destination, int jobId)
{
    for (const Job &job : OwnJobs(destination, jobId).value_or(std::vector<Job>())) {
        // A held queue lists such a job as held for its hold, not as incoming: it has no document.
        const bool waiting = job.state == IPP_JSTATE_HELD || job.state == IPP_JSTATE_PENDING;
        if (job.id == jobId && waiting && (job.incoming || job.documents == 0)) {
            CancelJob(destination, jobId);
            return true;
        }
    }
    return false;
}

} // namespace cupsqueue
