#include "update/httppost.h"

#include "platform/net.h"
#include "update/httppost_internal.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <zlib.h>

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

// The Content-Encoding header. The request offers gzip and deflate (servers have always received it so),
// so a reply may come compressed; a coding that is not one of those cannot be read.
struct ContentEncoding
{
    enum Coding
    {
        Identity,
        Gzip,
        Deflate,
        Unreadable,
    } coding = Identity;

    void Take(const std::string &line)
    {
        static const char kName[] = "content-encoding:";
        const size_t nameLength = sizeof kName - 1;
        if (line.size() < nameLength) {
            return;
        }
        std::string lower;
        for (const char c : line) {
            lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
        if (lower.compare(0, nameLength, kName) != 0) {
            return;
        }
        const size_t at = lower.find_first_not_of(" \t", nameLength);
        const size_t end = lower.find_last_not_of(" \t");
        const std::string value = at == std::string::npos ? std::string() : lower.substr(at, end - at + 1);
        Coding named = Unreadable;
        if (value.empty() || value == "identity") {
            named = Identity;
        } else if (value == "gzip" || value == "x-gzip") {
            named = Gzip;
        } else if (value == "deflate") {
            named = Deflate;
        }
        // A second coding header stacks codings: not one that is read here.
        coding = coding == Identity ? named : Unreadable;
    }
};

// The body decompressed, at most limit bytes. "deflate" is meant as zlib data, but servers have long sent
// raw deflate data under that name: the second form is tried when the first does not even begin.
// -104 when it outgrows the limit, -106 when it is not whole and well formed.
int Inflate(const std::string &body, ContentEncoding::Coding coding, size_t limit, std::string &out)
{
    const int tries[2] = {coding == ContentEncoding::Gzip ? 16 + MAX_WBITS : MAX_WBITS, -MAX_WBITS};
    for (int attempt = 0; attempt < (coding == ContentEncoding::Deflate ? 2 : 1); ++attempt) {
        out.clear();
        z_stream stream = {};
        if (inflateInit2(&stream, tries[attempt]) != Z_OK) {
            return -106;
        }
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(body.data()));
        stream.avail_in = static_cast<uInt>(body.size());
        char block[16384];
        int status = Z_OK;
        while (status == Z_OK) {
            stream.next_out = reinterpret_cast<Bytef *>(block);
            stream.avail_out = sizeof block;
            status = inflate(&stream, Z_NO_FLUSH);
            const size_t produced = sizeof block - stream.avail_out;
            if (out.size() + produced > limit) {
                inflateEnd(&stream);
                return -104;
            }
            out.append(block, produced);
            if (status == Z_BUF_ERROR && stream.avail_in == 0) {
                break; // the data ended before the stream did
            }
        }
        const bool begun = stream.total_out > 0 || status == Z_STREAM_END;
        inflateEnd(&stream);
        if (status == Z_STREAM_END) {
            return 0;
        }
        if (begun) {
            break;
        }
    }
    out.clear();
    return -106;
}

// The body as text, as the pieces of 1,023 bytes it has always been read in: a NUL inside a piece drops
// the rest of that piece.
std::string AsText(const std::string &bytes)
{
    std::string text;
    for (size_t at = 0; at < bytes.size(); at += 1023) {
        const std::string piece = bytes.substr(at, 1023);
        text.append(piece.c_str());
    }
    return text;
}

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
    ContentEncoding encoding;
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
            encoding.Take(line);
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
    if (encoding.coding == ContentEncoding::Unreadable) {
        return Finish(s, -106);
    }
    // A compressed body is kept whole, NUL bytes and all, and read as text once it is decompressed.
    const bool compressed = encoding.coding != ContentEncoding::Identity;
    std::string raw;

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
        if (compressed) {
            if (raw.size() + static_cast<size_t>(n) > limits.bodyBytes) {
                return Finish(s, -104);
            }
            raw.append(piece, static_cast<size_t>(n));
            continue;
        }
        piece[n] = '\0';
        const size_t text = std::strlen(piece);
        if (reply.size() + text > limits.bodyBytes) {
            reply.clear();
            return Finish(s, -104);
        }
        reply.append(piece, text);
    }
    if (compressed) {
        std::string decoded;
        const int inflated = Inflate(raw, encoding.coding, limits.bodyBytes, decoded);
        if (inflated != 0) {
            return Finish(s, inflated);
        }
        reply = AsText(decoded);
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
