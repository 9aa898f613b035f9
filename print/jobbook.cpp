#include "print/jobbook.h"

#include "print/failurelist.h"

#include <algorithm>

void JobBook::done(const Entry &entry, const char *what)
{
    ++done_;
    finish_(entry.outcome, entry.clock, what);
}

void JobBook::failed(const Entry &entry, const char *what)
{
    failed_.push_back(entry);
    finish_(entry.outcome, entry.clock, what);
}

void JobBook::unconfirmed(const Entry &entry)
{
    unconfirmed_.push_back(entry);
    finish_(entry.outcome, entry.clock, outcome::Unconfirmed);
}

void JobBook::queue(WordProcessor::Document document, const Entry &entry)
{
    queued_[document] = entry;
}

void JobBook::collect(WordProcessor &office, WordProcessor::Document waitFor)
{
    for (const WordProcessor::JobResult &result : office.takeJobResults(waitFor)) {
        const auto it = queued_.find(result.document);
        if (it == queued_.end())
            continue;
        results_[result.document] = result.printed;
        Entry entry = it->second;
        queued_.erase(it);
        entry.outcome.jobId = result.jobId;
        if (result.printed)
            done(entry, outcome::Printed);
        else if (result.unconfirmed)
            unconfirmed(entry);
        else
            failed(entry, outcome::PrinterError);
    }
}

bool JobBook::printed(WordProcessor::Document document) const
{
    const auto it = results_.find(document);
    return it != results_.end() && it->second;
}

void JobBook::abandonQueued()
{
    const auto queued = std::move(queued_);
    queued_.clear();
    for (const auto &entry : queued)
        unconfirmed(entry.second);
}

QStringList JobBook::failureLines() const
{
    std::vector<std::pair<int, QString>> lines;
    for (const Entry &entry : failed_)
        lines.emplace_back(entry.index, entry.outcome.path);
    for (const Entry &entry : unconfirmed_)
        lines.emplace_back(entry.index, FailureListUnconfirmedMarker() + entry.outcome.path);
    std::sort(lines.begin(), lines.end());
    QStringList result;
    for (const auto &line : lines)
        result.append(line.second);
    return result;
}

std::vector<std::pair<int, QString>> JobBook::unconfirmedDocuments() const
{
    std::vector<std::pair<int, QString>> documents;
    for (const Entry &entry : unconfirmed_)
        documents.emplace_back(entry.index, entry.outcome.path);
    std::sort(documents.begin(), documents.end());
    for (auto &document : documents)
        document.first += 1; // numbered from 1
    return documents;
}
