#pragma once
// A swap cut off right after a given step, as a kill or a power cut would cut it: an exception out of the
// step leaves the swap at once, so that no way back runs.

#include "update/swap.h"

// True when the swap was cut off after step cutAfter; false when it has fewer steps and ran to its end.
inline bool SwapCutOffAfter(const SwapPlan &plan, int cutAfter)
{
    struct CutOff
    {
    };
    int steps = 0;
    SwapProgress progress;
    progress.stepDone = [&steps, cutAfter] {
        if (++steps == cutAfter) {
            throw CutOff();
        }
    };
    try {
        RunSwap(plan, PlatformFileSystem(), progress);
    } catch (const CutOff &) {
        return true;
    }
    return false;
}
