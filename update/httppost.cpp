#include "update/httppost.h"

#include "platform/net.h"
#include "update/httppost_internal.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

void SendText(NetSocket s, const char *text)
{
    NetSend(s, text, std::strlen(text));
}

// Ends the exchange: the socket goes, and Winsock is stopped once for the one start of the call.
int Finish(NetSocket s, int result)
{
    NetClose(s);
    NetCleanup();
    return result;
}

// Receives under both time limits: each receive waits at most the per-receive time-out, and never past the
// end of the whole exchange.
class Receiver
{
public:
    Receiver(NetSocket s, const HttpPostLimits &limits)
        : s_(s), perReceive_(limits.receiveTimeoutMs),
          deadline_(Clock::now() + std::chrono::milliseconds(limits.exchangeTimeoutMs))
    {
        // Without a limit a server that accepts and then stays silent would hold the update thread for ever.
        NetSetReceiveTimeout(s_, perReceive_);
        current_ = perReceive_;
    }

    int Receive(char *buffer, size_t capacity)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        if (left <= 0) {
            return -1;
        }
        const unsigned wait = left < perReceive_ ? static_cast<unsigned>(left) : perReceive_;
        if (wait != current_) {
            NetSetReceiveTimeout(s_, wait);
            current_ = wait;
        }
        return NetReceive(s_, buffer, capacity);
    }

private:
    using Clock = std::chrono::steady_clock;
    NetSocket s_;
    unsigned perReceive_;
    Clock::time_point deadline_;
    unsigned current_ = 0;
};

} // namespace

int HttpPostWithLimits(const char *host, unsigned short port, const char *path, const char *body,
                       std::string &reply, const HttpPostLimits &limits)
{
    NetStartup();
    NetSocket s = NetTcpSocket();
    if (s == kNetInvalidSocket) {
        NetCleanup();
        return -100;
    }
    uint32_t address = 0;
    if (NetResolveIPv4(host, &address) != 0) {
        return Finish(s, -103);
    }
    if (NetConnect(s, address, port) != 0) {
        return Finish(s, -101);
    }
    Receiver receiver(s, limits);

    char contentLength[64];
    std::snprintf(contentLength, sizeof contentLength, "Content-Length: %d\r\n",
                  static_cast<int>(std::strlen(body)));
    SendText(s, "POST ");
    SendText(s, path);
    SendText(s, " HTTP/1.0\r\n");
    SendText(s, "Accept: */*\r\n");
    SendText(s, "User-Agent: Mozilla/4.0\r\n");
    SendText(s, contentLength);
    SendText(s, "Accept-Encoding: gzip, deflate\r\n");
    SendText(s, "Host: ");
    SendText(s, host);
    SendText(s, "\r\n");
    SendText(s, "Content-Type: application/x-www-form-urlencoded\r\n");
    SendText(s, "Connection: Keep-Alive\r\n");
    SendText(s, "\r\n");
    SendText(s, body);

    // Header, one byte at a time. "200" anywhere in it up to a line end marks the reply as successful.
    // The header itself is not kept: the last two bytes are enough to notice "200" as it arrives, so the
    // work stays linear in the header's length.
    bool successful = false;
    bool twoHundredSeen = false;
    char previous[2] = {0, 0};
    size_t headerLength = 0;
    int lineLength = 0;
    char byte;
    reply.clear();
    while (receiver.Receive(&byte, 1) > 0) {
        if (++headerLength > limits.headerBytes) {
            return Finish(s, -104);
        }
        twoHundredSeen = twoHundredSeen || (previous[0] == '2' && previous[1] == '0' && byte == '0');
        previous[0] = previous[1];
        previous[1] = byte;
        if (byte == '\n') {
            successful = successful || twoHundredSeen;
            bool headerEnds = lineLength == 0;
            lineLength = 0;
            if (headerEnds) {
                break;
            }
            continue;
        }
        if (byte != '\r') {
            ++lineLength;
        }
    }
    if (!successful) {
        return Finish(s, -102);
    }

    // Body, as text: a NUL inside a piece drops the rest of that piece.
    char piece[1024];
    int n;
    while ((n = receiver.Receive(piece, sizeof piece - 1)) > 0) {
        piece[n] = '\0';
        const size_t length = std::strlen(piece);
        if (reply.size() + length > limits.bodyBytes) {
            reply.clear();
            return Finish(s, -104);
        }
        reply.append(piece, length);
    }
    return Finish(s, 0);
}

int HttpPostOnPort(const char *host, unsigned short port, const char *path, const char *body,
                   std::string &reply, unsigned receiveTimeoutMs)
{
    HttpPostLimits limits;
    limits.receiveTimeoutMs = receiveTimeoutMs;
    return HttpPostWithLimits(host, port, path, body, reply, limits);
}

int HttpPost(const char *host, const char *path, const char *body, std::string &reply)
{
    return HttpPostWithLimits(host, kHttpPostPort, path, body, reply, HttpPostLimits());
}
