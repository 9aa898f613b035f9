#include "print/libreoffice/officeprocess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

OfficeProcess::~OfficeProcess()
{
    reap();
}

bool OfficeProcess::spawn(const std::vector<std::string> &arguments,
                          const std::vector<std::string> &environment)
{
    if (arguments.empty())
        return false;
    std::vector<std::string> args = arguments, env = environment;
    std::vector<char *> argv, envp;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    char **const childEnvironment = env.empty() ? environ : envp.data();
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        setpgid(0, 0);
        // The office dies with the thread that started it, even if this program crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
#ifdef SYS_close_range
        if (syscall(SYS_close_range, 3u, ~0u, 0u) != 0)
#endif
            for (int fd = 3; fd < 4096; ++fd)
                ::close(fd);
        execve(argv[0], argv.data(), childEnvironment);
        _exit(127);
    }
    if (pid <= 0)
        return false;
    setpgid(pid, pid); // either side may win the race; both ask for the same
    pid_ = pid;
    group_ = pid;
    if (aborted_)
        kill();
    return true;
}

bool OfficeProcess::exited(int *exitCode)
{
    if (pid_ <= 0)
        return true;
    siginfo_t info;
    memset(&info, 0, sizeof info);
    if (waitid(P_PID, pid_, &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        group_ = 0;
        pid_ = 0;
        return true;
    }
    if (info.si_pid == 0)
        return false;
    // Not reaped yet, the process keeps its group id reserved: the group can be ended safely.
    group_ = 0;
    ::kill(-pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (exitCode)
        *exitCode = info.si_code == CLD_EXITED ? info.si_status : -1;
    pid_ = 0;
    return true;
}

void OfficeProcess::reap()
{
    if (pid_ > 0) {
        group_ = 0;
        ::kill(-pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    group_ = 0;
    pid_ = 0;
}

void OfficeProcess::kill()
{
    const pid_t g = group_.load();
    if (g > 0)
        ::kill(-g, SIGKILL);
}

void OfficeProcess::abort()
{
    aborted_ = true;
    kill();
}

namespace {

// What the living processes of a group have done so far: their CPU time and, with io, their I/O counts.
long long GroupUsage(pid_t group, bool io)
{
    if (group <= 0)
        return -1;
    long long total = 0;
    bool any = false;
    DIR *proc = opendir("/proc");
    if (!proc)
        return -1;
    while (dirent *entry = readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        char path[300];
        snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        char text[1024];
        const ssize_t n = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        if (n <= 0)
            continue;
        text[n] = 0;
        // After the command's closing parenthesis: state ppid pgrp session tty tpgid flags minflt cminflt
        // majflt cmajflt utime stime.
        const char *rest = strrchr(text, ')');
        if (!rest)
            continue;
        char state = 0;
        long long ppid = 0, pgrp = 0, utime = 0, stime = 0;
        if (sscanf(rest + 1, " %c %lld %lld %*s %*s %*s %*s %*s %*s %*s %*s %lld %lld", &state, &ppid, &pgrp,
                   &utime, &stime) != 5)
            continue;
        if (pgrp != group || state == 'Z')
            continue;
        total += utime + stime;
        any = true;
        if (!io)
            continue;
        snprintf(path, sizeof path, "/proc/%s/io", entry->d_name);
        const int ioFd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (ioFd < 0)
            continue;
        const ssize_t m = ::read(ioFd, text, sizeof text - 1);
        ::close(ioFd);
        if (m <= 0)
            continue;
        text[m] = 0;
        // rchar, wchar, syscr, syscw: reads and writes of every kind, pipes and sockets included.
        for (const char *key : {"rchar:", "wchar:", "syscr:", "syscw:"}) {
            const char *at = strstr(text, key);
            if (at)
                total += strtoll(at + strlen(key), nullptr, 10);
        }
    }
    closedir(proc);
    return any ? total : -1;
}

} // namespace

long long OfficeProcess::groupCpuTicks() const
{
    return GroupUsage(group_.load(), false);
}

long long OfficeProcess::groupActivity() const
{
    return GroupUsage(group_.load(), true);
}

long long OfficeProcess::residentBytes() const
{
    const pid_t pid = group_.load();
    if (pid <= 0)
        return 0;
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/statm", int(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[256];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0)
        return 0;
    text[n] = 0;
    long long size = 0, resident = 0;
    if (sscanf(text, "%lld %lld", &size, &resident) != 2)
        return 0;
    return resident * sysconf(_SC_PAGESIZE);
}

void OfficeProcess::adopt(OfficeProcess &other)
{
    reap();
    pid_ = other.pid_;
    group_ = other.group_.load();
    other.pid_ = 0;
    other.group_ = 0;
    if (aborted_)
        kill();
}

namespace officefiles {

namespace {

const char ProfilePrefix[] = "quillmark-office-";

// Was the process gone (not merely someone else's)?
bool ProcessGone(const std::string &digits)
{
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    return ::kill(pid_t(std::stol(digits)), 0) != 0 && errno == ESRCH;
}

bool NamesUtf8(const std::string &locale)
{
    std::string lower = locale;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos;
}

std::string Value(const std::vector<std::string> &environment, const std::string &name)
{
    for (const std::string &entry : environment)
        if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
            entry[name.size()] == '=')
            return entry.substr(name.size() + 1);
    return std::string();
}

std::string RandomTag()
{
    std::random_device device;
    std::mt19937_64 engine((uint64_t(device()) << 32) ^ device() ^
                           uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    char text[17];
    snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(engine()));
    return text;
}

} // namespace

std::string TempRoot()
{
    const char *tmp = std::getenv("TMPDIR");
    std::string root = tmp && *tmp ? tmp : "/tmp";
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return root;
}

std::string PipeFolder()
{
    return "/tmp";
}

std::string PipePath(const std::string &pipeName)
{
    return PipeFolder() + "/OSL_PIPE_" + std::to_string(getuid()) + "_" + pipeName;
}

std::string MakeProfileDir()
{
    std::string profile = TempRoot() + "/" + ProfilePrefix + std::to_string(getpid()) + "-XXXXXX";
    if (!mkdtemp(profile.data()))
        return std::string();
    return profile;
}

std::string MakePipeName(int instance)
{
    return "quillmark_" + std::to_string(getpid()) + "_" + std::to_string(instance) + "_" + RandomTag();
}

bool SeedProfile(const std::string &profileDir, const std::string &version)
{
    if (profileDir.empty() || version.empty() || version.front() == '.' || version.back() == '.' ||
        version.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    const std::string user = profileDir + "/user";
    if (::mkdir(user.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    // Never over settings the office wrote.
    const std::string path = user + "/registrymodifications.xcu";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
        "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
        "<item oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" "
        "oor:op=\"fuse\"><value>" +
        version + "</value></prop></item>\n</oor:items>\n";
    const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    if (!written)
        ::unlink(path.c_str());
    return written;
}

void Remove(const std::string &profileDir, const std::vector<std::string> &pipeNames)
{
    std::error_code ignored;
    if (!profileDir.empty())
        std::filesystem::remove_all(profileDir, ignored);
    for (const std::string &name : pipeNames)
        if (!name.empty())
            std::filesystem::remove(PipePath(name), ignored);
}

void RemoveLeftovers(const std::function<std::string(const std::string &profileDir)> &profilePipeName)
{
    std::error_code error;
    const std::string profilePrefix = ProfilePrefix;
    for (const auto &entry : std::filesystem::directory_iterator(TempRoot(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, profilePrefix.size(), profilePrefix) != 0)
            continue;
        const std::string rest = name.substr(profilePrefix.size());
        struct stat info;
        if (!ProcessGone(rest.substr(0, rest.find('-'))) || lstat(entry.path().c_str(), &info) != 0 ||
            info.st_uid != getuid())
            continue;
        Remove(entry.path().string(), {profilePipeName ? profilePipeName(entry.path().string()) : ""});
    }
    const std::string pipePrefix = "OSL_PIPE_" + std::to_string(getuid()) + "_quillmark_";
    for (const auto &entry : std::filesystem::directory_iterator(PipeFolder(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, pipePrefix.size(), pipePrefix) != 0)
            continue;
        const std::string rest = name.substr(pipePrefix.size());
        if (ProcessGone(rest.substr(0, rest.find('_')))) {
            std::error_code ignored;
            std::filesystem::remove(entry.path(), ignored);
        }
    }
}

std::vector<std::string> OfficeEnvironment(const std::vector<std::string> &caller, const std::string &tmpDir)
{
    static const char *const categories[] = {
        "LC_NUMERIC", "LC_TIME",    "LC_COLLATE",   "LC_MONETARY",    "LC_MESSAGES",      "LC_PAPER",
        "LC_NAME",    "LC_ADDRESS", "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION"};
    const std::string all = Value(caller, "LC_ALL");
    std::string ctype = !all.empty() ? all : Value(caller, "LC_CTYPE");
    if (ctype.empty())
        ctype = Value(caller, "LANG");
    const bool utf8 = NamesUtf8(ctype);
    std::vector<std::string> result;
    for (const std::string &entry : caller) {
        const std::string name = entry.substr(0, entry.find('='));
        if (name == "TMPDIR")
            continue;
        if (!utf8 && (name == "LC_CTYPE" || (name == "LC_ALL" && !all.empty())))
            continue;
        // LC_ALL gives way to LC_CTYPE: each other category keeps LC_ALL's value.
        if (!utf8 && !all.empty() &&
            std::find(std::begin(categories), std::end(categories), name) != std::end(categories))
            continue;
        result.push_back(entry);
    }
    if (!utf8) {
        result.push_back("LC_CTYPE=C.UTF-8");
        if (!all.empty())
            for (const char *category : categories)
                result.push_back(std::string(category) + "=" + all);
    }
    result.push_back("TMPDIR=" + tmpDir);
    return result;
}

std::vector<std::string> CurrentEnvironment()
{
    std::vector<std::string> result;
    for (char **entry = environ; entry && *entry; ++entry)
        result.emplace_back(*entry);
    return result;
}

} // namespace officefiles
