#include "print/libreoffice/printing.h"

#include "print/libreoffice/documentloader.h"
#include "print/libreoffice/officecalls.h"
#include "print/libreoffice/printerstatus.h"
#include "print/libreoffice/unodocument.h"

#include <QDebug>

#include <algorithm>

using std::chrono::milliseconds;

namespace {

// How long a queued job may take to show up in the scheduler's list.
const milliseconds JobAppears{10000};
// After the office died under a print it sends nothing more: a job it got out shows up by then, and only
// when none did is the document printed again.
const milliseconds DeadJobAppears{5000};

std::string Join(const std::vector<std::string> &items)
{
    std::string text;
    for (const std::string &item : items)
        text += (text.empty() ? "" : "; ") + item;
    return text;
}

} // namespace

std::shared_ptr<JobTracker> DocumentPrinter::jobTracker()
{
    std::lock_guard<std::mutex> lock(trackerMutex_);
    if (!tracker_ || tracker_->destination() != destination_) {
        tracker_ = std::make_shared<JobTracker>(destination_, CupsJobSource(destination_));
        if (aborted_)
            tracker_->abort();
    }
    return tracker_;
}

void DocumentPrinter::ReportUnfollowed(const DocumentEntry &entry, const QString &why)
{
    qWarning().noquote()
        << QStringLiteral("无法确认“%1”是否已打印（打印任务“%2”）：%3").arg(entry.path, entry.jobTitle, why);
}

DocumentPrinter::PrintResult DocumentPrinter::printOnce(int handle, const DocumentEntry &entry)
{
    const std::string dest = destination_;
    // Jobs are numbered upwards: the new one comes after every job known before. The scheduler's whole
    // list is read once; after that the last job found marks the place.
    if (lastJobId_ < 0)
        lastJobId_ = cupsqueue::HighestJobId(dest);
    const int before = lastJobId_;
    const std::optional<unodocument::Printed> printed = calls_.call(
        [handle, dest, events = calls_.printEvents(), options = options_](CallState &s) {
            const auto it = s.components.find(handle);
            if (it == s.components.end() || !it->second.is())
                return unodocument::Printed();
            const unodocument::Printed out =
                unodocument::Print(it->second, dest, s.printerKnown == dest, events, options);
            if (out.printerSet)
                s.printerKnown = dest; // this office knows it: no need to ask for every document
            return out;
        },
        calls_.progressWatch());
    const unodocument::Printed out = printed.value_or(unodocument::Printed());
    if (out.pages >= 0)
        pageCounts_[handle] = out.pages;
    // Cut off by the watchdog (the office was killed), or dead under the call: either way a job may have
    // got out, whole or in part.
    const bool cutOff = !printed;
    if (cutOff)
        calls_.officeLost();
    const bool died = cutOff || (out.threw && calls_.officeLost());
    if (out.spoolFailed)
        return PrintResult::Refused;
    if (!out.printerSet && !cutOff)
        return died ? PrintResult::Lost : PrintResult::NotPrinted;

    const std::shared_ptr<JobTracker> tracker = jobTracker();
    if (before < 0 || entry.mark.empty()) {
        // The scheduler did not answer before the print, or the document carries no mark: its job cannot
        // be told from others.
        if (!died && !(out.returned && out.spooled))
            return PrintResult::NotPrinted;
        ReportUnfollowed(entry, QStringLiteral("打印服务没有应答"));
        tracker->settle(handle, JobTracker::Outcome::Unconfirmed);
        return PrintResult::Queued;
    }
    const Found found = tracker->find(entry.mark, before, out.returned ? JobAppears : DeadJobAppears);
    switch (found.kind) {
    case Found::Kind::Aborted:
        return PrintResult::NotPrinted; // the run is ending; an aborted document is not listed
    case Found::Kind::Job:
        lastJobId_ = std::max(lastJobId_, found.id);
        // A job the office had only begun to send can never print: it goes, and the document is printed
        // again on a fresh office.
        if (died && cupsqueue::CancelIfIncomplete(dest, found.id))
            return PrintResult::Lost;
        jobIds_[handle] = found.id;
        tracker->follow(handle, found.id);
        return PrintResult::Queued;
    case Found::Kind::NotThere:
        if (died)
            return PrintResult::Lost; // nothing got out
        if (!(out.returned && out.spooled))
            return PrintResult::NotPrinted;
        // The office says the job went out, yet no job of ours carries its mark.
        ReportUnfollowed(entry, found.otherTitles.empty()
                                    ? QStringLiteral("队列中没有这个任务")
                                    : QStringLiteral("队列中的任务名称不符：") +
                                          QString::fromStdString(Join(found.otherTitles)));
        tracker->settle(handle, JobTracker::Outcome::Unconfirmed);
        return PrintResult::Queued;
    case Found::Kind::NoAnswer:
        break;
    }
    // The scheduler could not be asked: the job may well be in the queue, so the document is neither
    // printed a second time nor listed as failed.
    ReportUnfollowed(entry, QStringLiteral("打印服务没有应答"));
    tracker->settle(handle, JobTracker::Outcome::Unconfirmed);
    return PrintResult::Queued;
}

bool DocumentPrinter::printOut(WordProcessor::Document document)
{
    if (!calls_.begun() || !calls_.usable())
        return false;
    if (destination_.empty()) {
        const cupsqueue::Destination dest = cupsqueue::DefaultDestination();
        if (dest.state != cupsqueue::Destination::State::Ready)
            return false;
        destination_ = dest.name;
    }
    bool reloaded = false;
    std::optional<jobs::TimePoint> refusedSince;
    for (;;) {
        const DocumentEntry *current = loader_.entry(document);
        if (!current)
            return false;
        const DocumentEntry entry = *current;
        // Only a few of the run's jobs wait in the queue: the printer sets the pace, and no job's clock
        // runs while it waits behind a long line of ours.
        if (!jobTracker()->waitForRoom())
            return false;
        const PrintResult result = printOnce(document, entry);
        if (result == PrintResult::Queued)
            return true;
        if (result != PrintResult::Lost) {
            if (calls_.aborted())
                return false;
            // A queue that refuses jobs is told at once; a scheduler that is only full takes the job
            // once its queue has moved.
            const std::shared_ptr<JobTracker> tracker = jobTracker();
            if (tracker->checkNow() != cupsqueue::Problem::None || result != PrintResult::Refused)
                return false;
            if (!refusedSince)
                refusedSince = tracker->now();
            if (tracker->waitAfterRefusal(*refusedSince))
                continue;
            return false;
        }
        // The office died under the print (killed from outside, or crashed) before any job got out: the
        // document is loaded into a fresh office and printed once more.
        if (reloaded || calls_.aborted() || !calls_.ensureOffice())
            return false;
        reloaded = true;
        int handle = WordProcessor::NoDocument;
        if (loader_.load(entry, &handle) != DocumentLoader::LoadResult::Opened)
            return false;
        loader_.replace(document, handle);
    }
}

std::vector<WordProcessor::JobResult> DocumentPrinter::takeJobResults(WordProcessor::Document waitFor)
{
    std::shared_ptr<JobTracker> current;
    {
        std::lock_guard<std::mutex> lock(trackerMutex_);
        current = tracker_;
    }
    std::vector<WordProcessor::JobResult> results;
    if (!current)
        return results;
    const int key = waitFor == WordProcessor::AllDocuments ? JobTracker::AllKeys
                    : waitFor == WordProcessor::NoDocument ? JobTracker::NoKey
                                                           : waitFor;
    for (const JobTracker::Result &r : current->take(key)) {
        const auto job = jobIds_.find(r.key);
        WordProcessor::JobResult result{r.key, r.outcome == JobTracker::Outcome::Printed,
                                        job == jobIds_.end() ? 0 : std::max(job->second, 0)};
        result.unconfirmed = r.outcome == JobTracker::Outcome::Unconfirmed;
        results.push_back(result);
        if (job != jobIds_.end())
            jobIds_.erase(job);
    }
    return results;
}

QString DocumentPrinter::printerProblem()
{
    // During the run: what the tracker saw of the destination, without asking again.
    if (printerChecked_ && !destination_.empty())
        return ProblemText(jobTracker()->checkWhileBusy(), destination_);
    printerChecked_ = true;
    const cupsqueue::Destination dest = cupsqueue::DefaultDestination();
    if (dest.state == cupsqueue::Destination::State::Ready) {
        if (destination_ != dest.name)
            lastJobId_ = -1;
        destination_ = dest.name;
    }
    return DestinationText(dest);
}

int DocumentPrinter::knownPages(WordProcessor::Document document) const
{
    const auto known = pageCounts_.find(document);
    return known == pageCounts_.end() ? -1 : known->second;
}

void DocumentPrinter::learnPages(WordProcessor::Document document, int pages)
{
    if (pages >= 0)
        pageCounts_[document] = pages;
}

void DocumentPrinter::abort()
{
    std::lock_guard<std::mutex> lock(trackerMutex_);
    aborted_ = true;
    if (tracker_)
        tracker_->abort();
}
