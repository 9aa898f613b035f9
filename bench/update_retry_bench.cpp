// CPU cost of the updater's endless retry while offline: both servers refuse the connection, or their
// names do not resolve. The figure to keep under: 1 % of one core.
// Usage: bench_update_retry [seconds per case, default 20]

#include "update/httppost.h"
#include "update/updatecheck.h"

#include <QThread>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void RunCase(const char *name, const std::string &primaryHost, const std::string &secondaryHost, int seconds)
{
    std::atomic<int> requests{0};
    std::atomic<int> failures{0};
    UpdateEnvironment env;
    env.server = [&](bool secondary) {
        return UpdateServer{secondary ? secondaryHost : primaryHost, "/version", "http://unused/"};
    };
    env.versionRequest = [&](const std::string &host, const std::string &path, std::string &reply) {
        ++requests;
        const int rc = HttpPost(host.c_str(), path.c_str(), "", reply);
        failures += rc != 0 ? 1 : 0;
        return rc;
    };
    env.download = [](const char *, std::FILE *, const DownloadWatch &) { return -1; };
    env.now = [] { return int64_t(0); };
    env.sleep = [](unsigned ms) { QThread::msleep(ms); };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    env.stopRequested = [deadline] { return std::chrono::steady_clock::now() >= deadline; };
    env.exePath = "/nonexistent/Quillmark";

    const double cpuBefore = ProcessCpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    UpdateOutcome outcome = RunUpdateCheck(env);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    std::printf("%-28s %5.1f s wall  %7.4f s CPU  %6.3f %% of a core  %d requests (%d failed)%s\n", name,
                wall, cpu, 100.0 * cpu / wall, requests.load(), failures.load(),
                outcome == UpdateOutcome::Stopped ? "" : "  (a server answered!)");
}

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    std::printf("update retry loop, %d s per case (target: under 1 %% of a core)\n", seconds);
    // Nothing listens on port 80 of these loopback addresses: every connection is refused at once.
    RunCase("both servers refuse", "127.0.83.101", "127.0.83.102", seconds);
    // Offline: the names do not resolve.
    RunCase("both names unresolvable", "quillmark-primary.invalid", "quillmark-secondary.invalid", seconds);
    return 0;
}
