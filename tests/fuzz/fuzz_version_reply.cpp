// The version reply as a server sends it: the input goes back over a loopback connection to the client.

#include "../unit/update_loopback_server.h"
#include "update/httppost_internal.h"

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
    // Only these two outcomes exist once connected; a "200" must have been in what was sent.
    if (result == 0) {
        if (sent.find("200") == std::string::npos || body.size() > sent.size() ||
            body.find('\0') != std::string::npos) {
            std::abort();
        }
    } else if (result != -102 || !body.empty()) {
        std::abort();
    }
    return 0;
}
