#include "update_loopback_server.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace {

void PauseUnless(const std::atomic<bool> &stop, unsigned ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stop && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Length of the request's body from its Content-Length header (0 when absent).
size_t DeclaredBodyLength(const std::string &header)
{
    std::string lower(header);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    const size_t at = lower.find("\ncontent-length:");
    return at == std::string::npos ? 0 : std::strtoul(lower.c_str() + at + 16, nullptr, 10);
}

} // namespace

LoopbackHttpServer::LoopbackHttpServer(Handler handler, const char *address, uint16_t port)
    : handler_(std::move(handler))
{
    NetStartup();
    listener_ = NetListen(address, port, &port_);
    if (listening()) {
        thread_ = std::thread([this] { Serve(); });
    }
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    NetClose(listener_);
    NetCleanup();
}

std::vector<std::string> LoopbackHttpServer::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void LoopbackHttpServer::Serve()
{
    while (!stop_) {
        NetSocket connection = NetAccept(listener_, 50);
        if (connection != kNetInvalidSocket) {
            Handle(connection);
        }
    }
}

void LoopbackHttpServer::Handle(NetSocket connection)
{
    if (reset_) {
        NetSetReceiveTimeout(connection, 50);
        char first;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!stop_ && std::chrono::steady_clock::now() < giveUp && NetReceive(connection, &first, 1) < 0) {
        }
        NetCloseWithReset(connection);
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.emplace_back();
        return;
    }
    // Read the header and the body it declares; short receive time-outs keep the stop flag in reach.
    NetSetReceiveTimeout(connection, 50);
    std::string request;
    size_t headerEnd = std::string::npos;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stop_ && std::chrono::steady_clock::now() < giveUp) {
        if (headerEnd == std::string::npos) {
            headerEnd = request.find("\r\n\r\n");
        }
        if (headerEnd != std::string::npos &&
            request.size() >= headerEnd + 4 + DeclaredBodyLength(request.substr(0, headerEnd + 2))) {
            break;
        }
        char buffer[4096];
        int n = NetReceive(connection, buffer, sizeof buffer);
        if (n == 0) {
            break;
        }
        if (n > 0) {
            request.append(buffer, static_cast<size_t>(n));
        }
    }
    // A connection that sent nothing and closed carried no request (a client trying whether the server
    // takes connections at all).
    if (request.empty()) {
        NetClose(connection);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
    }
    const LoopbackReply reply = handler_(request);
    for (size_t i = 0; i < reply.pieces.size() && !stop_; ++i) {
        if (i > 0) {
            PauseUnless(stop_, reply.pauseMs);
        }
        NetSend(connection, reply.pieces[i].data(), reply.pieces[i].size());
    }
    // Hold the connection until the time is up or the client hangs up.
    const auto holdUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(reply.holdOpenMs);
    while (!stop_ && std::chrono::steady_clock::now() < holdUntil) {
        char byte;
        if (NetReceive(connection, &byte, 1) == 0) {
            break;
        }
    }
    NetClose(connection);
}

uint16_t RefusingLoopbackPort()
{
    NetStartup();
    uint16_t port = 0;
    NetClose(NetListen("127.0.0.1", 0, &port));
    NetCleanup();
    return port;
}
