#include "print/libreoffice/office.h"

#include "print/libreoffice/unosession.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A profile whose office was not ended cleanly carries this file, and is made anew before its next use.
const char UncleanMark[] = "/.quillmark-in-use";

// Offices start on the call threads of several clients at once.
std::mutex versionsMutex;
std::map<std::string, std::string> &Versions()
{
    static std::map<std::string, std::string> versions;
    return versions;
}

} // namespace

std::string KnownOfficeVersion(const std::string &bin)
{
    std::lock_guard<std::mutex> lock(versionsMutex);
    const auto known = Versions().find(bin);
    return known == Versions().end() ? std::string() : known->second;
}

void LearnOfficeVersion(const std::string &bin, const std::string &version)
{
    std::lock_guard<std::mutex> lock(versionsMutex);
    Versions()[bin] = version;
}

std::vector<std::string> OfficeArguments(const std::string &bin, const std::string &profileDir,
                                         const std::string &pipeName)
{
    return {bin,
            "-env:UserInstallation=" + UnoSession::ProfileUrl(profileDir),
            "--headless",
            "--invisible",
            "--norestore",
            "--nologo",
            "--nodefault",
            "--nolockcheck",
            "--accept=pipe,name=" + pipeName + ";urp;"};
}

std::string KeptProfileDir()
{
    const char *cache = std::getenv("XDG_CACHE_HOME");
    const char *home = std::getenv("HOME");
    std::string root;
    if (cache && *cache == '/')
        root = cache;
    else if (home && *home == '/')
        root = std::string(home) + "/.cache";
    else
        return std::string();
    return root + "/quillmark/office-profile";
}

bool OfficeInstance::takeKeptProfile()
{
    const std::string dir = KeptProfileDir();
    if (dir.empty())
        return false;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(dir).parent_path(), error);
    const int fd = ::open((dir + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    // Another run uses it: this office takes a fresh profile instead.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    struct stat info;
    const bool unclean = ::lstat((dir + UncleanMark).c_str(), &info) == 0;
    const bool foreign =
        ::lstat(dir.c_str(), &info) == 0 && (!S_ISDIR(info.st_mode) || info.st_uid != getuid());
    if (unclean || foreign)
        std::filesystem::remove_all(dir, error);
    std::filesystem::create_directories(dir, error);
    const int mark = ::open((dir + UncleanMark).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (::chmod(dir.c_str(), 0700) != 0 || mark < 0) {
        if (mark >= 0)
            ::close(mark);
        ::close(fd);
        return false;
    }
    ::close(mark);
    leaseFd_ = fd;
    profileDir = dir;
    return true;
}

void OfficeInstance::releaseKeptProfile(bool clean)
{
    if (leaseFd_ < 0)
        return;
    std::error_code error;
    std::filesystem::remove_all(profileDir + "/tmp", error);
    if (clean)
        std::filesystem::remove(profileDir + UncleanMark, error);
    ::close(leaseFd_); // lets go of the lock
    leaseFd_ = -1;
}

bool OfficeInstance::spawn(const std::string &bin, const std::string &pipe, bool keepProfile)
{
    reap();
    if (!(keepProfile && takeKeptProfile())) {
        profileDir = officefiles::MakeProfileDir();
        if (profileDir.empty())
            return false;
    }
    // A new profile (a fresh one, or the kept one made anew) starts without the office's self-tests.
    officefiles::SeedProfile(profileDir, KnownOfficeVersion(bin));
    pipeName = pipe;
    profilePipeName = UnoSession::ProfilePipeName(profileDir);
    const std::string tmp = profileDir + "/tmp";
    ::mkdir(tmp.c_str(), 0700);
    argv_ = OfficeArguments(bin, profileDir, pipeName);
    environment_ = officefiles::OfficeEnvironment(officefiles::CurrentEnvironment(), tmp);
    starts_ = 1;
    lastExit_ = -1;
    return process.spawn(argv_, environment_);
}

bool OfficeInstance::exited()
{
    if (process.pid() <= 0)
        return true;
    int code = -1;
    if (!process.exited(&code))
        return false;
    lastExit_ = code;
    return true;
}

bool OfficeInstance::restartAfterFirstRun()
{
    if (!exited() || lastExit_ != OfficeRestartExitCode || starts_ >= 3)
        return false;
    ++starts_;
    lastExit_ = -1;
    return process.spawn(argv_, environment_);
}

void OfficeInstance::reap()
{
    const bool clean = exited() && lastExit_ == 0;
    process.reap();
    lastExit_ = -1;
    if (profileDir.empty())
        return;
    if (leaseFd_ >= 0) {
        officefiles::Remove(std::string(), {pipeName, profilePipeName});
        releaseKeptProfile(clean);
    } else {
        // An office that was killed leaves its two sockets behind: the one we connect through, and the one
        // another start on the same profile would hand its work to.
        officefiles::Remove(profileDir, {pipeName, profilePipeName});
    }
    profileDir.clear();
    pipeName.clear();
    profilePipeName.clear();
}

void OfficeInstance::adopt(OfficeInstance &other)
{
    reap();
    process.adopt(other.process);
    profileDir = std::move(other.profileDir);
    pipeName = std::move(other.pipeName);
    profilePipeName = std::move(other.profilePipeName);
    argv_ = std::move(other.argv_);
    environment_ = std::move(other.environment_);
    starts_ = other.starts_;
    lastExit_ = other.lastExit_;
    leaseFd_ = other.leaseFd_;
    other.leaseFd_ = -1;
    other.profileDir.clear();
    other.pipeName.clear();
    other.profilePipeName.clear();
}
