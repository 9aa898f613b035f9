#pragma once
// Over a long run the office's memory only grows (about 48 MB per 1,000 one-page documents): once it has
// grown past a limit since its first document, a spare office is started in the background and takes
// over between two documents, so that the run does not wait for it; only when the spare cannot be had is
// the office restarted in place.

#include <chrono>
#include <cstdint>

class OfficeCalls;
struct CallState;

// How much the office's resident memory may grow past what it held after its first document: the build's
// QUILLMARK_OFFICE_MEMORY_GROWTH_MB, or the environment variable of that name (decimals allowed); 0: never.
int64_t MemoryGrowthLimit();

enum class MemoryStep
{
    Nothing,
    Remember,  // the office's first document is done: what it holds now is the base
    StartSpare // grown past the limit
};
MemoryStep OnMemory(int64_t limit, int documentsOnOffice, int64_t resident, int64_t memoryAtFirst);

// On the call thread: the spare office.
enum class Spare
{
    Starting,
    TookOver,
    Failed
};
bool SpawnSpare(CallState &s);
// Once the spare answers, it replaces the office at work, which is ended.
Spare TakeSpareIfReady(CallState &s);
void DropSpare(CallState &s);

class OfficeRenewal
{
public:
    OfficeRenewal();
    void renewIfGrown(OfficeCalls &calls);
    void documentLoaded() { ++documentsOnOffice_; }
    // A fresh office was started.
    void reset();
    int renewals() const { return renewals_; }

private:
    const int64_t limit_;
    int64_t memoryAtFirst_ = 0;
    int documentsOnOffice_ = 0;
    bool spareStarting_ = false;
    std::chrono::steady_clock::time_point spareSince_;
    int renewals_ = 0;
};
