#pragma once
// A small blocking TCP layer over IPv4: BSD sockets on POSIX, Winsock on Windows.

#include <cstddef>
#include <cstdint>

using NetSocket = std::intptr_t;
constexpr NetSocket kNetInvalidSocket = -1;

// Winsock is started and stopped in pairs (version 1.1); both are no-ops on POSIX.
void NetStartup();
void NetCleanup();

// A stream socket, or kNetInvalidSocket.
NetSocket NetTcpSocket();
// First IPv4 address of host (name or dotted address), in network byte order. 0, or -1 when unknown.
int NetResolveIPv4(const char *host, uint32_t *address);
// 0 connected, -1 failed or not connected within milliseconds. address in network byte order, port in
// host byte order.
int NetConnect(NetSocket s, uint32_t address, uint16_t port, unsigned milliseconds);
// A receive that waits longer than milliseconds fails. 0, or -1 when the option cannot be set.
int NetSetReceiveTimeout(NetSocket s, unsigned milliseconds);
// Bytes sent, or -1. Never raises a signal when the peer is gone.
int NetSend(NetSocket s, const char *data, size_t length);
// Bytes received, 0 when the peer closed, -1 on failure or time-out.
int NetReceive(NetSocket s, char *buffer, size_t capacity);
void NetClose(NetSocket s);

// Server side (loopback servers of the tests and tools). dottedAddress "127.0.0.1" etc.; port 0 picks a
// free port, reported through boundPort. kNetInvalidSocket on failure.
NetSocket NetListen(const char *dottedAddress, uint16_t port, uint16_t *boundPort);
// Waits up to milliseconds for a connection: the connected socket, or kNetInvalidSocket.
NetSocket NetAccept(NetSocket listener, unsigned milliseconds);
// Closes the connection with a reset instead of an orderly end.
void NetCloseWithReset(NetSocket s);
