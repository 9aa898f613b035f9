// The version reply as a server sends it: the input goes back over a loopback connection to the client.

#include "../unit/update_loopback_server.h"
#include "update/httppost_internal.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace {

std::mutex replyMutex;
std::string reply;

LoopbackHttpServer &Server()
{
    static LoopbackHttpServer server([](const std::string &) {
        std::lock_guard<std::mutex> lock(replyMutex);
        return LoopbackHttpServer::Text(reply);
    });
    if (!server.listening()) {
        std::abort();
    }
    return server;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    LoopbackHttpServer &server = Server();
    const std::string sent(reinterpret_cast<const char *>(data), size);
    {
        std::lock_guard<std::mutex> lock(replyMutex);
        reply = sent;
    }
    std::string body;
    const int result = HttpPostOnPort("127.0.0.1", server.port(), "/quillmark/version", "", body, 5000);
    // Once connected: success only for a reply that begins with a 200 status line, with no more body than
    // was sent unless it came compressed, and never more than the body's limit; every failure (not 200,
    // too long, shorter than announced, a malformed length, a body that does not decompress) leaves
    // nothing behind.
    std::string lower = sent;
    for (char &c : lower) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    const bool compressed = lower.find("content-encoding:") != std::string::npos;
    if (result == 0) {
        if (sent.compare(0, 7, "HTTP/1.") != 0 || sent.find(" 200") == std::string::npos ||
            (body.size() > sent.size() && !compressed) || body.size() > (1u << 20) ||
            body.find('\0') != std::string::npos) {
            std::abort();
        }
    } else if ((result != -102 && result != -104 && result != -105 && result != -106) || !body.empty()) {
        std::abort();
    }
    return 0;
}
