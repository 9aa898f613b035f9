#pragma once
// A minimal HTTP/1.0 form POST to port 80, for the version request of the updater.

#include <string>

// Sends body (may be empty) to path on host and hands back the reply body in reply.
// 0 success; -100 no socket; -101 connection failed; -102 the reply header held no "200" (reply emptied);
// -103 the host name cannot be resolved.
int HttpPost(const char *host, const char *path, const char *body, std::string &reply);
