#pragma once
// One word processor for many runs: a watched folder takes a few documents at a time, and an office
// started for each few would cost a second each time. While it is installed, every run gets a stand-in
// that passes each call to the one office, which a run's quit does not end; an office that broke down is
// replaced at the next run's start.

#include "print/wordprocessor.h"

#include <memory>

class KeptOffice
{
public:
    // Takes the factory installed now and installs its own.
    KeptOffice();
    // Puts the factory back, and ends the office (on the calling thread).
    ~KeptOffice();
    KeptOffice(const KeptOffice &) = delete;
    KeptOffice &operator=(const KeptOffice &) = delete;

    // Ends the office now; the next run starts another. Call on the thread the runs use.
    void end();

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    WordProcessorFactory previous_;
};
