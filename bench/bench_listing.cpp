// Times the listing of a large folder tree against `find -type f` on the same tree.
//
//   bench_listing [files] [runs]     (defaults: 100000 files, 5 runs)
//
// Both sides run as child processes measured the same way (wall time from spawn to exit, peak resident
// memory from wait4). The listing child also reports the time of the listing call alone, which is what
// the target is about; its process time adds loading Qt and freeing the list. Medians over the runs are
// printed, after one warm-up run of each.

#include "print/threadobject.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Sample
{
    double wallMs = 0;
    long maxRssKb = 0;
    std::string output;
};

// Runs argv as a child with stdout captured; wall time and the child's own peak memory.
Sample RunChild(const std::vector<std::string> &args, bool keepOutput)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        perror("pipe");
        std::exit(1);
    }
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    QElapsedTimer timer;
    timer.start();
    const pid_t pid = fork();
    if (pid == 0) {
        if (keepOutput) {
            dup2(pipeFds[1], STDOUT_FILENO);
        } else {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
        }
        close(pipeFds[0]);
        close(pipeFds[1]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    Sample sample;
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0)
            sample.output.append(buffer, static_cast<size_t>(got));
    }
    close(pipeFds[0]);
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    wait4(pid, &status, 0, &usage);
    sample.wallMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    sample.maxRssKb = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", args[0].c_str(), status);
        std::exit(1);
    }
    return sample;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// 100 folders of 10 subfolders each hold the files; names mix case so that sorting has work to do.
void MakeTree(const std::string &root, int files)
{
    const int folders = 1000;
    const int perFolder = (files + folders - 1) / folders;
    int made = 0;
    for (int top = 0; top < folders / 10 && made < files; ++top) {
        const std::string topDir = root + "/" + (top % 2 ? "Dept" : "dept") + std::to_string(top);
        mkdir(topDir.c_str(), 0755);
        for (int sub = 0; sub < 10 && made < files; ++sub) {
            const std::string dir = topDir + "/" + (sub % 3 ? "Year" : "year") + std::to_string(2000 + sub);
            mkdir(dir.c_str(), 0755);
            for (int i = 0; i < perFolder && made < files; ++i, ++made) {
                static const char *const extensions[] = {".docx", ".doc", ".pdf", ".DOC", ".txt"};
                const std::string name =
                    dir + "/" + (i % 2 ? "Report-" : "report-") + std::to_string(i) + extensions[i % 5];
                const int fd = open(name.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
                if (fd < 0) {
                    perror(name.c_str());
                    std::exit(1);
                }
                close(fd);
            }
        }
    }
}

int ListOnly(const char *root)
{
    ThreadObject worker;
    QElapsedTimer timer;
    timer.start();
    const QFileInfoList list = worker.ListFilesRecursively(QString::fromLocal8Bit(root));
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    std::printf("%d %.3f\n", list.size(), ms);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--list") == 0)
        return ListOnly(argv[2]);

    const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    QTemporaryDir tmp;
    if (!tmp.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const std::string root = tmp.path().toStdString();
    std::printf("generating %d files below %s ...\n", files, root.c_str());
    MakeTree(root, files);

    char self[4096];
    const ssize_t selfLength = readlink("/proc/self/exe", self, sizeof self - 1);
    if (selfLength <= 0)
        return 1;
    self[selfLength] = '\0';
    const std::vector<std::string> listArgs{self, "--list", root};
    const std::vector<std::string> findArgs{"/usr/bin/find", root, "-type", "f"};

    RunChild(listArgs, true); // warm the directory cache for both
    RunChild(findArgs, false);

    std::vector<double> listWall, listInner, findWall;
    long listRss = 0, findRss = 0;
    int listed = 0;
    for (int i = 0; i < runs; ++i) {
        const Sample list = RunChild(listArgs, true);
        double inner = 0;
        std::sscanf(list.output.c_str(), "%d %lf", &listed, &inner);
        listWall.push_back(list.wallMs);
        listInner.push_back(inner);
        listRss = std::max(listRss, list.maxRssKb);
        const Sample find = RunChild(findArgs, false);
        findWall.push_back(find.wallMs);
        findRss = std::max(findRss, find.maxRssKb);
    }
    const Sample count = RunChild({"/bin/sh", "-c", "find '" + root + "' -type f | wc -l"}, true);
    const int found = std::atoi(count.output.c_str());

    const double lw = Median(listWall), li = Median(listInner), fw = Median(findWall);
    std::printf("files listed:                 %d (find: %d)%s\n", listed, found,
                listed == found ? "" : "  MISMATCH");
    std::printf("ListFilesRecursively call:    %8.1f ms (median of %d)\n", li, runs);
    std::printf(
        "  whole process:              %8.1f ms wall, peak %ld KiB (with Qt loaded: start-up and freeing "
        "the list included)\n",
        lw, listRss);
    std::printf("find -type f process:         %8.1f ms wall (median of %d), peak %ld KiB\n", fw, runs,
                findRss);
    std::printf("ratio call / find:            %8.2f (target <= 1.50)\n", li / fw);
    std::printf("ratio process / find:         %8.2f\n", lw / fw);
    return listed == found ? 0 : 1;
}
