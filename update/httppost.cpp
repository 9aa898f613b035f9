#include "update/httppost.h"

#include "platform/net.h"
#include "update/httppost_internal.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
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

// "HTTP/1." and one digit, one space, "200", then the end of the line or a space and the reason.
bool IsSuccessStatusLine(const std::string &line)
{
    return line.size() >= 12 && line.compare(0, 7, "HTTP/1.") == 0 && line[7] >= '0' && line[7] <= '9' &&
           line.compare(8, 4, " 200") == 0 && (line.size() == 12 || line[12] == ' ');
}

// The Content-Length header, if any: a decimal number; one that is not, or two that differ, make the
// reply malformed.
struct ContentLength
{
    bool given = false;
    bool malformed = false;
    uint64_t bytes = 0;

    void Take(const std::string &line)
    {
        static const char kName[] = "content-length:";
        const size_t nameLength = sizeof kName - 1;
        if (line.size() < nameLength) {
            return;
        }
        for (size_t i = 0; i < nameLength; ++i) {
            if (std::tolower(static_cast<unsigned char>(line[i])) != kName[i]) {
                return;
            }
        }
        size_t at = line.find_first_not_of(" \t", nameLength);
        const size_t end = line.find_last_not_of(" \t");
        uint64_t value = 0;
        bool digits = at != std::string::npos && at <= end && end - at < 18;
        for (; digits && at <= end; ++at) {
            digits = line[at] >= '0' && line[at] <= '9';
            value = value * 10 + static_cast<uint64_t>(line[at] - '0');
        }
        if (!digits || (given && value != bytes)) {
            malformed = true;
        }
        given = true;
        bytes = value;
    }
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
    if (NetConnect(s, address, port, limits.connectTimeoutMs) != 0) {
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

    // Header, one byte at a time, one line kept at a time (the header as a whole is bounded). Success is
    // a status line "HTTP/1.x 200" and nothing else.
    bool statusSeen = false;
    bool successful = false;
    ContentLength length;
    std::string line;
    size_t headerLength = 0;
    char byte;
    reply.clear();
    while (receiver.Receive(&byte, 1) > 0) {
        if (++headerLength > limits.headerBytes) {
            return Finish(s, -104);
        }
        if (byte != '\n') {
            line.push_back(byte);
            continue;
        }
        // A line of nothing but CRs ends the header.
        if (line.find_first_not_of('\r') == std::string::npos) {
            break;
        }
        if (line.back() == '\r') {
            line.pop_back();
        }
        if (!statusSeen) {
            statusSeen = true;
            successful = IsSuccessStatusLine(line);
        } else {
            length.Take(line);
        }
        line.clear();
    }
    if (!successful) {
        return Finish(s, -102);
    }
    if (length.malformed) {
        return Finish(s, -105);
    }
    if (length.given && length.bytes > limits.bodyBytes) {
        return Finish(s, -104);
    }

    // Body, as text: a NUL inside a piece drops the rest of that piece. With a Content-Length it ends
    // there, without waiting for the server to close (the request asks it to keep the connection), and a
    // body that stops short of it is a failed request.
    char piece[1024];
    uint64_t received = 0;
    for (;;) {
        size_t want = sizeof piece - 1;
        if (length.given) {
            if (received == length.bytes) {
                break;
            }
            want = static_cast<size_t>(std::min<uint64_t>(want, length.bytes - received));
        }
        const int n = receiver.Receive(piece, want);
        if (n <= 0) {
            if (length.given) {
                reply.clear();
                return Finish(s, -105);
            }
            break;
        }
        received += static_cast<uint64_t>(n);
        piece[n] = '\0';
        const size_t text = std::strlen(piece);
        if (reply.size() + text > limits.bodyBytes) {
            reply.clear();
            return Finish(s, -104);
        }
        reply.append(piece, text);
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
