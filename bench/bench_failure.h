#pragma once
// How a print benchmark gives up: by an exception, so that on the way out its private print server stops
// and the processes it started end, and main reports it.

#include <QString>

#include <cstdio>
#include <functional>

struct BenchFailure
{
    QString what;
};

[[noreturn]] inline void Fail(const QString &what)
{
    throw BenchFailure{what};
}

// What run returns; on a failure, 1 after printing it behind name.
inline int RunBench(const char *name, const std::function<int()> &run)
{
    try {
        return run();
    } catch (const BenchFailure &failure) {
        std::fprintf(stderr, "%s: %s\n", name, qPrintable(failure.what));
        return 1;
    }
}
