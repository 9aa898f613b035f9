// A small real program for the test that kills the installer after each step: when it starts, it does
// what the program does first at its start (finishes or undoes an update that was cut short beside it),
// then says what it did and ends.
#include "update/swap.h"

#include <cstdio>
#include <string>

int main(int, char **argv)
{
    const std::string self = argv[0];
    const size_t cut = self.find_last_of('/');
    const std::string folder = cut == std::string::npos ? std::string() : self.substr(0, cut + 1);
    const RecoveryCounts counts = RecoverUnfinishedUpdates(folder);
    std::printf("completed %d rolled back %d removed %d kept %d\n", counts.completed, counts.rolledBack,
                counts.removed, counts.kept);
    return 0;
}
