#pragma once
// The client behind HttpPost with its fixed values open, so that tests reach it on a port of their own and
// with short limits.

#include <cstddef>
#include <string>

constexpr unsigned short kHttpPostPort = 80;

struct HttpPostLimits
{
    // Connecting that takes longer fails as a refused connection would (-101).
    unsigned connectTimeoutMs = 30000;
    // A single receive that waits this long counts as a failed read.
    unsigned receiveTimeoutMs = 30000;
    // The whole reply must have arrived within this time; a receive that would wait past it fails the
    // same way, so a server trickling a byte now and then cannot hold the caller for ever.
    unsigned exchangeTimeoutMs = 120000;
    // Longer headers or bodies end the exchange with -104.
    size_t headerBytes = 64 * 1024;
    size_t bodyBytes = 1024 * 1024;
};

int HttpPostWithLimits(const char *host, unsigned short port, const char *path, const char *body,
                       std::string &reply, const HttpPostLimits &limits);
// The default limits with another receive time-out.
int HttpPostOnPort(const char *host, unsigned short port, const char *path, const char *body,
                   std::string &reply, unsigned receiveTimeoutMs);
