#pragma once
// A minimal HTTP/1.0 form POST to port 80, for the version request of the updater.

#include <string>

// Sends body (may be empty) to path on host and hands back the reply body in reply.
// 0 success; -100 no socket; -101 connection failed; -102 the status line is not "HTTP/1.x 200" (reply
// emptied); -103 the host name cannot be resolved; -104 the reply's header (over 64 KiB) or body (over
// 1 MiB, also as announced) is too long (reply emptied); -105 the body ended before its Content-Length,
// or that header is malformed (reply emptied); -106 the body is compressed in a coding other than gzip or
// deflate, or does not decompress whole (reply emptied). A gzip or deflate body (the request offers both)
// is handed back decompressed, its limit applying both before and after.
// The body ends at its Content-Length when the header gives one; otherwise when the server closes the
// connection. Connecting may take 30 s; a receive that waits 30 s fails, and so does any receive after
// 120 s in all: in the header that means -102, in the body -105 (or, without a Content-Length, the end of
// the body).
int HttpPost(const char *host, const char *path, const char *body, std::string &reply);
