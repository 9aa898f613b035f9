// HttpPost itself, on Winsock and the fixed port 80, against a loopback server on 127.0.0.1:80. The
// portable client tests reach the same code on a port of their own; here the real entry point is used.

#include "platform/net.h"
#include "update/httppost.h"
#include "update_loopback_server.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string ExpectedRequest(const std::string &path, const std::string &host, const std::string &body)
{
    return "POST " + path + " HTTP/1.0\r\nAccept: */*\r\nUser-Agent: Mozilla/4.0\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nAccept-Encoding: gzip, deflate\r\nHost: " + host +
           "\r\nContent-Type: application/x-www-form-urlencoded\r\nConnection: Keep-Alive\r\n\r\n" + body;
}

// Binding port 80 needs no privilege on Windows; under Wine it is a Unix bind and may be refused, and
// the port may be taken. Then there is nothing to test against.
#define SKIP_UNLESS_LISTENING(server)                                                                        \
    if (!(server).listening())                                                                               \
    GTEST_SKIP() << "cannot listen on 127.0.0.1:80 here"

struct PostCase
{
    const char *name;
    const char *host;
    const char *path;
    std::string body;
};

TEST(WindowsHttpPost, PostsToPortEightyByteForByte)
{
    const std::string reply200 =
        "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n{\"Quillmark\":\"0123abcd\"}";
    LoopbackHttpServer server([&](const std::string &) { return LoopbackHttpServer::Text(reply200); },
                              "127.0.0.1", 80);
    SKIP_UNLESS_LISTENING(server);
    const PostCase cases[] = {
        {"empty body", "127.0.0.1", "/api/version", ""},
        {"form body, host name", "localhost", "/v.php?x=1", "name=Quillmark&n=2"},
        // Bytes above 0x7F (GBK here) go out unchanged and count as bytes in Content-Length.
        {"8-bit body", "127.0.0.1", "version", "dir=\xce\xc4\xb5\xb5"},
    };
    size_t seen = 0;
    for (const PostCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::string reply;
        EXPECT_EQ(HttpPost(c.host, c.path, c.body.c_str(), reply), 0);
        EXPECT_EQ(reply, "{\"Quillmark\":\"0123abcd\"}");
        const std::vector<std::string> requests = server.requests();
        ASSERT_EQ(requests.size(), ++seen);
        EXPECT_EQ(requests.back(), ExpectedRequest(c.path, c.host, c.body));
    }
}

TEST(WindowsHttpPost, HeaderWithoutTwoHundredGives102AndAnEmptyReply)
{
    LoopbackHttpServer server(
        [](const std::string &) {
            return LoopbackHttpServer::Text("HTTP/1.0 404 Not Found\r\n\r\nnot here");
        },
        "127.0.0.1", 80);
    SKIP_UNLESS_LISTENING(server);
    std::string reply;
    EXPECT_EQ(HttpPost("127.0.0.1", "/v", "", reply), -102);
    EXPECT_EQ(reply, "");
}

TEST(WindowsHttpPost, NothingListeningOnPortEightyGives101)
{
    {
        // Only when port 80 is free (and could be ours) is a refusal what the client meets.
        LoopbackHttpServer probe([](const std::string &) { return LoopbackHttpServer::Text(""); },
                                 "127.0.0.1", 80);
        SKIP_UNLESS_LISTENING(probe);
    }
    std::string reply = "kept";
    EXPECT_EQ(HttpPost("127.0.0.1", "/v", "", reply), -101);
    EXPECT_EQ(reply, "kept");
}

} // namespace
