#include "print/libreoffice/officerenewal.h"

#include "print/libreoffice/officecalls.h"

#include <QtGlobal>

#include <sys/stat.h>

#ifndef QUILLMARK_OFFICE_MEMORY_GROWTH_MB
#define QUILLMARK_OFFICE_MEMORY_GROWTH_MB 256
#endif

using std::chrono::milliseconds;

namespace {
const milliseconds SpareDeadline{60000};
const milliseconds CloseDeadline{15000};
} // namespace

int64_t MemoryGrowthLimit()
{
    bool ok = false;
    const double mb = qEnvironmentVariable("QUILLMARK_OFFICE_MEMORY_GROWTH_MB").toDouble(&ok);
    const double limit = ok && mb >= 0 ? mb : double(QUILLMARK_OFFICE_MEMORY_GROWTH_MB);
    return int64_t(limit * 1024 * 1024);
}

MemoryStep OnMemory(int64_t limit, int documentsOnOffice, int64_t resident, int64_t memoryAtFirst)
{
    if (limit <= 0 || documentsOnOffice < 1 || resident <= 0)
        return MemoryStep::Nothing;
    if (memoryAtFirst == 0)
        return MemoryStep::Remember;
    return resident - memoryAtFirst > limit ? MemoryStep::StartSpare : MemoryStep::Nothing;
}

bool SpawnSpare(CallState &s)
{
    DropSpare(s);
    // Never the kept profile: the office at work holds it.
    return s.spare.spawn(s.sofficeBin(), officefiles::MakePipeName(++s.instances), false) ||
           (DropSpare(s), false);
}

Spare TakeSpareIfReady(CallState &s)
{
    if (s.spare.profileDir.empty())
        return Spare::Failed;
    if (s.spare.exited()) {
        // A fresh profile makes the office leave once; it is started again.
        if (s.spare.restartAfterFirstRun())
            return Spare::Starting;
        DropSpare(s);
        return Spare::Failed;
    }
    struct stat info;
    if (::stat(officefiles::PipePath(s.spare.pipeName).c_str(), &info) != 0)
        return Spare::Starting;
    const auto desktop = s.session.connectOnce(s.spare.pipeName);
    if (!desktop.is())
        return Spare::Starting;
    s.components.clear();
    s.session.forget();
    s.office.adopt(s.spare); // ends the office at work: no document is open in it
    s.session.use(desktop);
    s.printerKnown.clear();
    s.alive = true;
    return Spare::TookOver;
}

void DropSpare(CallState &s)
{
    s.spare.reap();
}

OfficeRenewal::OfficeRenewal() : limit_(MemoryGrowthLimit()) {}

void OfficeRenewal::reset()
{
    memoryAtFirst_ = 0;
    documentsOnOffice_ = 0;
}

void OfficeRenewal::renewIfGrown(OfficeCalls &calls)
{
    if (limit_ <= 0 || !calls.officeUp_ || !calls.usable())
        return;
    if (!spareStarting_) {
        const int64_t resident = calls.state->office.process.residentBytes();
        switch (OnMemory(limit_, documentsOnOffice_, resident, memoryAtFirst_)) {
        case MemoryStep::Nothing:
            return;
        case MemoryStep::Remember:
            memoryAtFirst_ = resident;
            return;
        case MemoryStep::StartSpare:
            break;
        }
        spareStarting_ =
            calls.call([](CallState &s) { return SpawnSpare(s); }, SpareDeadline).value_or(false);
        spareSince_ = std::chrono::steady_clock::now();
        if (!spareStarting_)
            calls.restartInPlace();
        return;
    }
    const std::optional<Spare> spare =
        calls.call([](CallState &s) { return TakeSpareIfReady(s); }, SpareDeadline);
    if (!spare) {
        spareStarting_ = false;
        calls.officeLost();
        return;
    }
    switch (*spare) {
    case Spare::TookOver:
        spareStarting_ = false;
        reset();
        ++renewals_;
        return;
    case Spare::Starting:
        if (std::chrono::steady_clock::now() - spareSince_ < SpareDeadline)
            return;
        break;
    case Spare::Failed:
        break;
    }
    spareStarting_ = false;
    calls.restartInPlace();
}
