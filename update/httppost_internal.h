#pragma once
// The client behind HttpPost with its fixed values open, so that tests reach it on a port of their own and
// with a short receive time-out.

#include <string>

constexpr unsigned short kHttpPostPort = 80;
// A receive that waits this long counts as a failed read.
constexpr unsigned kHttpPostReceiveTimeoutMs = 30000;

int HttpPostOnPort(const char *host, unsigned short port, const char *path, const char *body,
                   std::string &reply, unsigned receiveTimeoutMs);
