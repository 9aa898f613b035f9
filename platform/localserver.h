#pragma once
// The process of a COM class's local (out-of-process) server, as Word and WPS run: a client keeps it so
// that it can end a server that hangs in a call or is still running when it should not be.
// Windows only; elsewhere there are no such servers and none is ever found.

#include <memory>
#include <string>

class LocalServerProcess
{
public:
    virtual ~LocalServerProcess() = default;
    virtual unsigned long id() const = 0;
    virtual bool running() const = 0;
    // CPU time the server has used so far, in milliseconds; -1 when it cannot be read.
    virtual long long cpuTimeMs() const = 0;
    // Bytes the server has read and written so far (files, network, devices); -1 when unknown.
    virtual long long ioBytes() const = 0;
    // Ends the server at once. Safe from any thread, and more than once.
    virtual void terminate() = 0;
    // True when the server has ended within timeoutMs.
    virtual bool waitForExit(unsigned timeoutMs) = 0;
    // The server ends with this program, whatever way it ends, unless it is kept: then it outlives us (it
    // holds the user's own documents).
    virtual void keep() = 0;
};

// Taken just before the class is created; started() then finds its server. A process counts only when it
// appeared meanwhile and is confirmed by its command line (started for automation), its session and its
// parent (platform/comserverrules.h); a server that was already running (the user's own) is never taken.
class LocalServerWatch
{
public:
    explicit LocalServerWatch(const wchar_t *progId);
    ~LocalServerWatch();
    LocalServerWatch(const LocalServerWatch &) = delete;
    LocalServerWatch &operator=(const LocalServerWatch &) = delete;

    enum class Miss
    {
        None,
        NotRegistered, // no local server is registered for the class (or its program is not found)
        InProcess,     // the class is served inside this program
        NotConfirmed   // no process, or more than one, could be confirmed as the server
    };
    // The server, or null with the reason in miss.
    std::unique_ptr<LocalServerProcess> started(Miss *miss) const;

private:
    struct Data;
    std::unique_ptr<Data> d_;
};
