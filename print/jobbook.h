#pragma once
// The bookkeeping of one print run's documents: the jobs still followed, the documents that did not print
// and those whose printing could not be confirmed, each with the order in which it was tried (a job may
// end after later documents were tried).

#include "print/documentoutcome.h"
#include "print/wordprocessor.h"

#include <QElapsedTimer>
#include <QStringList>
#include <functional>
#include <map>
#include <utility>
#include <vector>

class JobBook
{
public:
    // Tells the caller a document's outcome (one of the outcome names), with its clock.
    using Finish = std::function<void(const DocumentOutcome &, const QElapsedTimer &, const char *)>;
    explicit JobBook(Finish finish) : finish_(std::move(finish)) {}

    struct Entry
    {
        int index;
        DocumentOutcome outcome;
        QElapsedTimer clock;
    };

    // A document done at once (printed without a job to follow, exported, opened by a check).
    void done(const Entry &entry, const char *what);
    // A document that failed: listed, in the order tried.
    void failed(const Entry &entry, const char *what);
    // A document that went to the printer but whose printing cannot be confirmed.
    void unconfirmed(const Entry &entry);
    // A document whose job the office follows.
    void queue(WordProcessor::Document document, const Entry &entry);

    // Takes the results the office knows by now; waitFor as WordProcessor::takeJobResults.
    void collect(WordProcessor &office, WordProcessor::Document waitFor);
    // Whether document's job was seen printed (false while it is still followed).
    bool printed(WordProcessor::Document document) const;
    bool anyQueued() const { return !queued_.empty(); }
    // The run ends without waiting for the jobs still followed: they print or not without us.
    void abandonQueued();

    int doneCount() const { return done_; }
    int failedCount() const { return int(failed_.size()); }
    int unconfirmedCount() const { return int(unconfirmed_.size()); }
    // The failure list's lines in the order tried: failed paths, and unconfirmed ones under their marker.
    QStringList failureLines() const;
    // The unconfirmed documents in the order tried: their number and path.
    std::vector<std::pair<int, QString>> unconfirmedDocuments() const;

private:
    Finish finish_;
    int done_ = 0;
    std::map<WordProcessor::Document, Entry> queued_;
    std::map<WordProcessor::Document, bool> results_;
    std::vector<Entry> failed_;
    std::vector<Entry> unconfirmed_;
};
