#include "print/libreoffice/jobpolicy.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <unistd.h>

namespace jobs {

namespace {

std::optional<long> EnvironmentNumber(const char *name)
{
    const char *text = std::getenv(name);
    if (!text || !*text)
        return std::nullopt;
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0')
        return std::nullopt;
    return value;
}

} // namespace

Limits Limits::FromEnvironment()
{
    Limits limits;
    const std::optional<long> seconds = EnvironmentNumber("QUILLMARK_JOB_WAIT_SECONDS");
    if (seconds && *seconds > 0) {
        const milliseconds cap(*seconds * 1000);
        limits.motionless = std::min(limits.motionless, cap);
        limits.overall = std::min(limits.overall, cap);
        limits.unanswered = std::min(limits.unanswered, cap);
    }
    const std::optional<long> window = EnvironmentNumber("QUILLMARK_JOB_WINDOW");
    if (window && *window >= 1)
        limits.window = int(std::min(*window, 1000L));
    return limits;
}

std::string Mark(const std::string &run, int document)
{
    return "[" + run + "-" + std::to_string(document) + "]";
}

std::string NewRunToken()
{
    static const char letters[] = "abcdefghijkmnpqrstuvwxyz";
    std::random_device random;
    std::string token = "qm" + std::to_string(getpid());
    for (int i = 0; i < 3; ++i)
        token += letters[random() % (sizeof letters - 1)];
    return token;
}

bool CarriesMark(const Job &job, const std::string &mark)
{
    return std::any_of(job.titles.begin(), job.titles.end(),
                       [&](const std::string &title) { return title.find(mark) != std::string::npos; });
}

Match MatchJob(const std::vector<Job> &listed, const std::string &mark, int afterId)
{
    Match match;
    for (const Job &job : listed) {
        if (job.id <= afterId)
            continue;
        if (CarriesMark(job, mark)) {
            if (!match.id || job.id < match.id)
                match.id = job.id;
            continue;
        }
        std::string titles;
        for (const std::string &t : job.titles)
            titles += (titles.empty() ? "" : " / ") + t;
        match.others.push_back(std::to_string(job.id) + " " + titles);
    }
    return match;
}

Look LookAgain(TimePoint start, std::optional<TimePoint> firstAnswer, TimePoint now, milliseconds appear,
               milliseconds unanswered)
{
    if (firstAnswer && now - *firstAnswer > appear && now - start > appear)
        return Look::NotThere;
    if (!firstAnswer && now - start > std::max(appear, unanswered))
        return Look::NoAnswer;
    return Look::Again;
}

std::vector<int> QueueShape(std::vector<Job> active)
{
    std::sort(active.begin(), active.end(), [](const Job &a, const Job &b) { return a.id < b.id; });
    std::vector<int> shape;
    for (const Job &job : active) {
        if (job.state >= Canceled)
            continue;
        shape.insert(shape.end(), {job.id, job.state, job.progress});
    }
    return shape;
}

bool QueueMoved(const std::vector<int> &before, const std::vector<int> &after)
{
    for (size_t i = 0; i + 2 < before.size(); i += 3) {
        bool same = false, found = false;
        for (size_t j = 0; j + 2 < after.size() && !found; j += 3) {
            if (after[j] != before[i])
                continue;
            found = true;
            same = after[j + 1] == before[i + 1] && after[j + 2] == before[i + 2];
        }
        if (!found || !same)
            return true;
    }
    return false;
}

Verdict Judge(const Followed &followed, const Job *job, const Seen &seen, TimePoint now, const Limits &limits)
{
    if (!seen.answered) {
        // Nobody to ask (a restart, a queue deleted): the job may still print or not.
        const bool pastLimit = now - seen.unansweredSince > limits.unanswered;
        const bool printingTooLong =
            followed.processingSince && now - *followed.processingSince > limits.overall;
        return pastLimit || printingTooLong ? Verdict::Unconfirmed : Verdict::Waiting;
    }
    // Gone from the scheduler's history before it was seen completed: whether it printed is not known.
    if (!job)
        return Verdict::Unconfirmed;
    switch (job->state) {
    case Completed:
        return Verdict::Printed;
    case Canceled:
    case Aborted:
        return Verdict::NotPrinted;
    case Processing: {
        const TimePoint taken = followed.processingSince.value_or(now);
        return now - taken > limits.overall ? Verdict::Unconfirmed : Verdict::Waiting;
    }
    default:
        break;
    }
    if (seen.stopped)
        return Verdict::Cancel;
    const TimePoint changed = job->state == followed.lastState ? followed.lastChange : now;
    if (job->state == Held)
        // Held for release at the printer: only the job itself can move.
        return now - changed > limits.motionless ? Verdict::Unconfirmed : Verdict::Waiting;
    // Waiting behind other jobs: as long as the queue moves, the printer is only slow.
    if (seen.stuck)
        return Verdict::Unconfirmed;
    const TimePoint moved = std::max(changed, seen.queueMovedAt);
    return now - moved > limits.motionless ? Verdict::Unconfirmed : Verdict::Waiting;
}

bool RoomForAnother(int inFlight, const Limits &limits)
{
    return inFlight < std::max(1, limits.window);
}

Refused OnRefused(bool destinationFine, int activeJobs, TimePoint refusedSince, TimePoint queueMovedAt,
                  TimePoint now, const Limits &limits)
{
    if (!destinationFine || activeJobs <= 0)
        return Refused::GiveUp;
    const TimePoint moved = std::max(refusedSince, queueMovedAt);
    if (now - moved > limits.motionless || now - refusedSince > limits.overall)
        return Refused::GiveUp;
    return Refused::WaitForRoom;
}

} // namespace jobs
