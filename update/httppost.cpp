#include "update/httppost.h"

#include "platform/net.h"
#include "update/httppost_internal.h"

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

} // namespace

int HttpPostOnPort(const char *host, unsigned short port, const char *path, const char *body,
                   std::string &reply, unsigned receiveTimeoutMs)
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
    // Without a limit a server that accepts and then stays silent would hold the update thread for ever.
    NetSetReceiveTimeout(s, receiveTimeoutMs);

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
    bool successful = false;
    int lineLength = 0;
    char byte;
    while (NetReceive(s, &byte, 1) > 0) {
        if (byte == '\n') {
            if (!successful && reply.find("200") != std::string::npos) {
                successful = true;
            }
            bool headerEnds = lineLength == 0;
            lineLength = 0;
            reply.push_back(byte);
            if (headerEnds) {
                break;
            }
            continue;
        }
        if (byte != '\r') {
            ++lineLength;
        }
        reply.push_back(byte);
    }
    reply.clear();
    if (!successful) {
        return Finish(s, -102);
    }

    // Body, as text: a NUL inside a piece drops the rest of that piece.
    char piece[1024];
    int n;
    while ((n = NetReceive(s, piece, sizeof piece - 1)) > 0) {
        piece[n] = '\0';
        reply.append(piece);
    }
    return Finish(s, 0);
}

int HttpPost(const char *host, const char *path, const char *body, std::string &reply)
{
    return HttpPostOnPort(host, kHttpPostPort, path, body, reply, kHttpPostReceiveTimeoutMs);
}
