#include "platform/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

void NetStartup() {}

void NetCleanup() {}

NetSocket NetTcpSocket()
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return fd < 0 ? kNetInvalidSocket : fd;
}

int NetResolveIPv4(const char *host, uint32_t *address)
{
    // getaddrinfo rather than gethostbyname: it keeps no static state, so two threads may resolve at once.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (host == nullptr || getaddrinfo(host, nullptr, &hints, &list) != 0 || list == nullptr) {
        return -1;
    }
    *address = reinterpret_cast<sockaddr_in *>(list->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(list);
    return 0;
}

int NetConnect(NetSocket s, uint32_t address, uint16_t port, unsigned milliseconds)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = address;
    // Without a limit of its own a connection that is never answered waits for the system's time-out,
    // minutes long.
    const int fd = static_cast<int>(s);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        return -1;
    }
    int rc = connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to);
    if (rc != 0 && (errno == EINPROGRESS || errno == EINTR)) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            pollfd p{fd, POLLOUT, 0};
            const int ready = left > 0 ? poll(&p, 1, static_cast<int>(left)) : 0;
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            int error = 0;
            socklen_t size = sizeof error;
            rc =
                ready == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0 ? 0 : -1;
            break;
        }
    }
    if (fcntl(fd, F_SETFL, flags) != 0) {
        return -1;
    }
    return rc == 0 ? 0 : -1;
}

int NetSetReceiveTimeout(NetSocket s, unsigned milliseconds)
{
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
    return setsockopt(static_cast<int>(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 ? 0 : -1;
}

int NetSend(NetSocket s, const char *data, size_t length)
{
    ssize_t n;
    do {
        n = send(static_cast<int>(s), data, length, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int NetReceive(NetSocket s, char *buffer, size_t capacity)
{
    ssize_t n;
    do {
        n = recv(static_cast<int>(s), buffer, capacity, 0);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

void NetClose(NetSocket s)
{
    if (s != kNetInvalidSocket) {
        close(static_cast<int>(s));
    }
}

NetSocket NetListen(const char *dottedAddress, uint16_t port, uint16_t *boundPort)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return kNetInvalidSocket;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    if (inet_pton(AF_INET, dottedAddress, &at.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return kNetInvalidSocket;
    }
    if (boundPort != nullptr) {
        socklen_t len = sizeof at;
        getsockname(fd, reinterpret_cast<sockaddr *>(&at), &len);
        *boundPort = ntohs(at.sin_port);
    }
    return fd;
}

NetSocket NetAccept(NetSocket listener, unsigned milliseconds)
{
    pollfd p{static_cast<int>(listener), POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(milliseconds)) != 1) {
        return kNetInvalidSocket;
    }
    int fd = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? kNetInvalidSocket : fd;
}

void NetCloseWithReset(NetSocket s)
{
    linger l{1, 0};
    setsockopt(static_cast<int>(s), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(static_cast<int>(s));
}
