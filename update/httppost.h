#pragma once
// A minimal HTTP/1.0 form POST to port 80, for the version request of the updater.

#include <string>

// Sends body (may be empty) to path on host and hands back the reply body in reply.
// 0 success; -100 no socket; -101 connection failed; -102 the reply header held no "200" (reply emptied);
// -103 the host name cannot be resolved; -104 the reply's header (over 64 KiB) or body (over 1 MiB) is
// too long (reply emptied).
// A receive that waits 30 s fails, and so does any receive after 120 s in all: in the header that means
// -102 (or no "200"), in the body the end of the body.
int HttpPost(const char *host, const char *path, const char *body, std::string &reply);
