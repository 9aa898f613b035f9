// Peak memory of one version request answered with a huge reply (50 MB by default), served from this
// process in small pieces so that only the client's own holding counts.
// Usage: bench_update_reply [megabytes, default 50] [header|body, default body]

#include "platform/net.h"
#include "update/httppost_internal.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace {

long PeakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Serves one connection: reads the request, then sends the header and the filler in 64 KiB pieces until
// the client hangs up or everything is sent.
void Serve(NetSocket listener, size_t bytes, bool inHeader)
{
    NetSocket connection = NetAccept(listener, 10000);
    if (connection == kNetInvalidSocket) {
        return;
    }
    char request[4096];
    NetSetReceiveTimeout(connection, 200);
    while (NetReceive(connection, request, sizeof request) > 0) {
    }
    const std::string head = inHeader ? "HTTP/1.0 200 OK\r\n" : "HTTP/1.0 200 OK\r\n\r\n";
    NetSend(connection, head.data(), head.size());
    std::string piece(65536, 'x');
    if (inHeader) {
        for (size_t i = 63; i < piece.size(); i += 64) {
            piece[i - 1] = '\r';
            piece[i] = '\n';
        }
    }
    for (size_t sent = 0; sent < bytes; sent += piece.size()) {
        if (NetSend(connection, piece.data(), piece.size()) < 0) {
            break;
        }
    }
    NetClose(connection);
}

} // namespace

int main(int argc, char **argv)
{
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 50;
    const bool inHeader = argc > 2 && std::strcmp(argv[2], "header") == 0;
    NetStartup();
    uint16_t port = 0;
    NetSocket listener = NetListen("127.0.0.1", 0, &port);
    if (listener == kNetInvalidSocket) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    const long before = PeakKilobytes();
    std::thread server(Serve, listener, megabytes << 20, inHeader);
    std::string reply;
    const auto start = std::chrono::steady_clock::now();
    const int result = HttpPostWithLimits("127.0.0.1", port, "/v", "", reply, HttpPostLimits());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    server.join();
    NetClose(listener);
    std::printf("reply of %zu MB in the %s: result %d, %zu bytes kept, %.2f s, peak RSS %ld KiB (%ld KiB "
                "before the request)\n",
                megabytes, inHeader ? "header" : "body", result, reply.size(), seconds, PeakKilobytes(),
                before);
    return 0;
}
