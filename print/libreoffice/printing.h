#pragma once
// Printing a loaded document to the default destination and knowing its job: at most a window of the
// run's jobs waits in the queue (the next document is loaded meanwhile); the job a print sends is found
// by its mark and followed in the background; a job the full scheduler refused is sent again once there
// is room; a print the office died under is looked for, and printed once more on a fresh office only
// when no job of it got out.

#include "print/libreoffice/jobtracker.h"
#include "print/wordprocessor.h"

#include <QString>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class OfficeCalls;
class DocumentLoader;
struct DocumentEntry;

class DocumentPrinter
{
public:
    DocumentPrinter(OfficeCalls &calls, DocumentLoader &loader) : calls_(calls), loader_(loader) {}

    bool printOut(WordProcessor::Document document);
    std::vector<WordProcessor::JobResult> takeJobResults(WordProcessor::Document waitFor);
    QString printerProblem();
    void setOptions(const WordProcessor::PrintOptions &options) { options_ = options; }
    const WordProcessor::PrintOptions &options() const { return options_; }
    // Pages learnt on the way by a print or an export, saving a call; -1 when not known.
    int knownPages(WordProcessor::Document document) const;
    void learnPages(WordProcessor::Document document, int pages);
    void forget(WordProcessor::Document document) { pageCounts_.erase(document); }
    // From any thread.
    void abort();

private:
    enum class PrintResult
    {
        Queued,
        NotPrinted,
        Refused, // the office said the job did not spool
        Lost
    };
    std::shared_ptr<JobTracker> jobTracker();
    PrintResult printOnce(int handle, const DocumentEntry &entry);
    static void ReportUnfollowed(const DocumentEntry &entry, const QString &why);

    OfficeCalls &calls_;
    DocumentLoader &loader_;
    WordProcessor::PrintOptions options_;
    std::string destination_;
    bool printerChecked_ = false;
    int lastJobId_ = -1;        // the id of the last job known on the destination; -1 before the first print
    std::map<int, int> jobIds_; // the job of each document handed to the tracker
    std::map<int, int> pageCounts_; // learnt on the way
    // abort() reaches the tracker from another thread, hence the lock.
    std::mutex trackerMutex_;
    std::shared_ptr<JobTracker> tracker_;
    bool aborted_ = false; // under trackerMutex_
};
