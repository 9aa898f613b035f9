#pragma once
// The private print server of a print benchmark: started in a folder of its own and stopped again when
// the object goes, so that no benchmark ever prints on the machine's own printers.

#include <QString>

class BenchPrintServer
{
public:
    // Starts the server in parent/server, keeping jobs in parent/out, and points this process at it.
    explicit BenchPrintServer(const QString &parent);
    ~BenchPrintServer();
    BenchPrintServer(const BenchPrintServer &) = delete;
    BenchPrintServer &operator=(const BenchPrintServer &) = delete;

    bool started() const { return started_; }
    int captured() const;  // jobs kept so far
    bool waitIdle() const; // no job pending; false after five minutes
    // A slow printer from now on: each job takes this long.
    bool pace(double secondsPerJob) const;

    const QString dir, out;

private:
    bool started_ = false;
};
