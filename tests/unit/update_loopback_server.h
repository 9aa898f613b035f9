#pragma once
// A real HTTP server on a loopback address for the updater's tests, on the program's own socket layer so
// that it builds wherever the client does. Connections are served one after another on a thread.

#include "platform/net.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct LoopbackReply
{
    // Sent in turn, with pauseMs before each piece after the first.
    std::vector<std::string> pieces;
    unsigned pauseMs = 0;
    // Keep the connection open this long after the last piece (the client may close it first).
    unsigned holdOpenMs = 0;
};

// A hold far past any test's own limit: in effect until the server is destroyed, which ends it. A client
// that waits for the server to hang up never returns, and its test fails on the harness's time-out.
constexpr unsigned kHoldOpenUntilStopped = 3600u * 1000u;

class LoopbackHttpServer
{
public:
    using Handler = std::function<LoopbackReply(const std::string &request)>;

    explicit LoopbackHttpServer(Handler handler, const char *address = "127.0.0.1", uint16_t port = 0);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer &) = delete;
    LoopbackHttpServer &operator=(const LoopbackHttpServer &) = delete;

    bool listening() const { return listener_ != kNetInvalidSocket; }
    uint16_t port() const { return port_; }
    // Every request received so far, complete with its body.
    std::vector<std::string> requests() const;

    // From now on every connection is reset as soon as the request's first bytes arrive, the rest unread:
    // by then the client's connect has surely completed, so the reset meets it mid-exchange.
    void ResetEveryConnection() { reset_ = true; }

    static LoopbackReply Text(const std::string &bytes) { return LoopbackReply{{bytes}, 0, 0}; }

private:
    void Serve();
    void Handle(NetSocket connection);

    Handler handler_;
    NetSocket listener_ = kNetInvalidSocket;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> reset_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens (bound once, then released).
uint16_t RefusingLoopbackPort();
