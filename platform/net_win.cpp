#include "platform/net.h"

#include <cstring>
#include <winsock2.h>
#include <ws2tcpip.h>

void NetStartup()
{
    WSADATA data;
    WSAStartup(0x0101, &data);
}

void NetCleanup()
{
    WSACleanup();
}

NetSocket NetTcpSocket()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    return s == INVALID_SOCKET ? kNetInvalidSocket : static_cast<NetSocket>(s);
}

int NetResolveIPv4(const char *host, uint32_t *address)
{
    hostent *entry = host == nullptr ? nullptr : gethostbyname(host);
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list[0] == nullptr) {
        return -1;
    }
    memcpy(address, entry->h_addr_list[0], sizeof *address);
    return 0;
}

int NetConnect(NetSocket s, uint32_t address, uint16_t port, unsigned milliseconds)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = address;
    // Without a limit of its own a connection that is never answered waits for the system's time-out.
    const SOCKET socket = static_cast<SOCKET>(s);
    u_long nonBlocking = 1;
    if (ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) {
        return -1;
    }
    int rc = connect(socket, reinterpret_cast<sockaddr *>(&to), sizeof to);
    if (rc != 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket, &writable);
        FD_SET(socket, &failed);
        timeval tv{static_cast<long>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000};
        // Winsock reports a refused connection in the exception set, a made one as writable.
        rc = select(0, nullptr, &writable, &failed, &tv) > 0 && FD_ISSET(socket, &writable) ? 0 : -1;
    }
    u_long blocking = 0;
    if (ioctlsocket(socket, FIONBIO, &blocking) != 0) {
        return -1;
    }
    return rc == 0 ? 0 : -1;
}

int NetSetReceiveTimeout(NetSocket s, unsigned milliseconds)
{
    DWORD ms = milliseconds;
    return setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&ms),
                      sizeof ms) == 0
               ? 0
               : -1;
}

int NetSend(NetSocket s, const char *data, size_t length)
{
    int n = send(static_cast<SOCKET>(s), data, static_cast<int>(length), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int NetReceive(NetSocket s, char *buffer, size_t capacity)
{
    int n = recv(static_cast<SOCKET>(s), buffer, static_cast<int>(capacity), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

void NetClose(NetSocket s)
{
    if (s != kNetInvalidSocket) {
        closesocket(static_cast<SOCKET>(s));
    }
}

NetSocket NetListen(const char *dottedAddress, uint16_t port, uint16_t *boundPort)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        return kNetInvalidSocket;
    }
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = inet_addr(dottedAddress);
    if (bind(s, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 || listen(s, 16) != 0) {
        closesocket(s);
        return kNetInvalidSocket;
    }
    if (boundPort != nullptr) {
        int len = sizeof at;
        getsockname(s, reinterpret_cast<sockaddr *>(&at), &len);
        *boundPort = ntohs(at.sin_port);
    }
    return static_cast<NetSocket>(s);
}

NetSocket NetAccept(NetSocket listener, unsigned milliseconds)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(listener), &set);
    timeval tv{static_cast<long>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000};
    if (select(0, &set, nullptr, nullptr, &tv) != 1) {
        return kNetInvalidSocket;
    }
    SOCKET s = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? kNetInvalidSocket : static_cast<NetSocket>(s);
}

void NetCloseWithReset(NetSocket s)
{
    linger l{1, 0};
    setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&l), sizeof l);
    closesocket(static_cast<SOCKET>(s));
}
