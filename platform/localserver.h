#pragma once
// The process of a COM class's local (out-of-process) server, as Word and WPS run: a client keeps it so
// that it can end a server that hangs in a call or is still running when it should not be.
// Windows only; elsewhere there are no such servers and none is ever found.

#include <memory>

class LocalServerProcess
{
public:
    virtual ~LocalServerProcess() = default;
    virtual bool running() const = 0;
    // CPU time the server has used so far, in milliseconds; -1 when it cannot be read.
    virtual long long cpuTimeMs() const = 0;
    // Ends the server at once. Safe from any thread, and more than once.
    virtual void terminate() = 0;
    // True when the server has ended within timeoutMs.
    virtual bool waitForExit(unsigned timeoutMs) = 0;
};

// Taken just before the class is created; started() then finds its server. Only a process that was not
// running before and is the only new one of the registered server's file counts: a server that was
// already running (the user's own) is never taken.
class LocalServerWatch
{
public:
    explicit LocalServerWatch(const wchar_t *progId);
    ~LocalServerWatch();
    LocalServerWatch(const LocalServerWatch &) = delete;
    LocalServerWatch &operator=(const LocalServerWatch &) = delete;

    std::unique_ptr<LocalServerProcess> started() const;

private:
    struct Data;
    std::unique_ptr<Data> d_;
};
