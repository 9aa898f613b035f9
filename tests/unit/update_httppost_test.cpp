// HttpPost against real HTTP servers on loopback: the request bytes, the "200" rule, the body pieces, the
// failure codes and the receive time-out.

#include "platform/net.h"
#include "update/httppost.h"
#include "update/httppost_internal.h"
#include "update_loopback_server.h"

#include <chrono>
#include <gtest/gtest.h>
#include <zlib.h>

namespace {

constexpr unsigned kShortTimeoutMs = 300;
// Longer than the test is given: a client that waited this long would fail on the harness's time-out.
constexpr unsigned kAnHourMs = 3600u * 1000u;

// Only the given receive time-out can end the exchange early.
HttpPostLimits ReceiveLimitOnly(unsigned receiveTimeoutMs)
{
    HttpPostLimits limits;
    limits.receiveTimeoutMs = receiveTimeoutMs;
    limits.exchangeTimeoutMs = kAnHourMs;
    return limits;
}

std::string ExpectedRequest(const std::string &path, const std::string &host, const std::string &body)
{
    return "POST " + path + " HTTP/1.0\r\n" + "Accept: */*\r\n" + "User-Agent: Mozilla/4.0\r\n" +
           "Content-Length: " + std::to_string(body.size()) + "\r\n" + "Accept-Encoding: gzip, deflate\r\n" +
           "Host: " + host + "\r\n" + "Content-Type: application/x-www-form-urlencoded\r\n" +
           "Connection: Keep-Alive\r\n" + "\r\n" + body;
}

struct RequestCase
{
    const char *name;
    const char *host;
    const char *path;
    const char *body;
};

class HttpPostRequest : public testing::TestWithParam<RequestCase>
{
};

TEST_P(HttpPostRequest, SendsTheRequestByteForByte)
{
    const RequestCase &c = GetParam();
    LoopbackHttpServer server(
        [](const std::string &) { return LoopbackHttpServer::Text("HTTP/1.0 200 OK\r\n\r\nok"); });
    ASSERT_TRUE(server.listening());
    std::string reply;
    ASSERT_EQ(0, HttpPostOnPort(c.host, server.port(), c.path, c.body, reply, 5000));
    EXPECT_EQ("ok", reply);
    const std::vector<std::string> seen = server.requests();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(ExpectedRequest(c.path, c.host, c.body), seen[0]);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, HttpPostRequest,
    testing::Values(RequestCase{"EmptyBody", "127.0.0.1", "/api/version", ""},
                    RequestCase{"FormBody", "127.0.0.1", "/v?x=1", "name=Quillmark&n=2"},
                    RequestCase{"PathWithoutSlashAndHostName", "localhost", "version.php", "a=%E4%B8%AD"}),
    [](const testing::TestParamInfo<RequestCase> &info) { return std::string(info.param.name); });

struct ReplyCase
{
    const char *name;
    LoopbackReply reply;
    int result;
    std::string body;
};

class HttpPostReply : public testing::TestWithParam<ReplyCase>
{
};

TEST_P(HttpPostReply, ReturnsTheBodyOnlyWhenTheHeaderHoldsTwoHundred)
{
    const ReplyCase &c = GetParam();
    LoopbackHttpServer server([&c](const std::string &) { return c.reply; });
    ASSERT_TRUE(server.listening());
    std::string reply;
    EXPECT_EQ(c.result, HttpPostOnPort("127.0.0.1", server.port(), "/v", "", reply, 5000));
    EXPECT_EQ(c.body, reply);
}

const std::string kLongBody = [] {
    std::string text;
    for (int i = 0; text.size() < 5000; ++i) {
        text += "line " + std::to_string(i) + ";";
    }
    return text;
}();

INSTANTIATE_TEST_SUITE_P(
    Replies, HttpPostReply,
    testing::Values(
        ReplyCase{"StatusLine200", LoopbackHttpServer::Text("HTTP/1.1 200 OK\r\nServer: t\r\n\r\n{\"a\":1}"),
                  0, "{\"a\":1}"},
        // Only the status line says whether the request succeeded.
        ReplyCase{"TwoHundredInALaterHeaderLine",
                  LoopbackHttpServer::Text("HTTP/1.1 404 Not Found\r\nContent-Length: 1200\r\n\r\nmissing"),
                  -102, ""},
        ReplyCase{"NotFoundWithTwoHundredInACacheHeader",
                  LoopbackHttpServer::Text("HTTP/1.1 404 Not Found\r\nCache-Control: max-age=7200\r\n\r\n"
                                           "{\"Quillmark\":\"0123456789abcdef0123456789abcdef\"}"),
                  -102, ""},
        ReplyCase{"StatusWithoutReason", LoopbackHttpServer::Text("HTTP/1.1 200\r\n\r\nbody"), 0, "body"},
        ReplyCase{"StatusTwoThousand", LoopbackHttpServer::Text("HTTP/1.1 2000 OK\r\n\r\nbody"), -102, ""},
        ReplyCase{"StatusCreated", LoopbackHttpServer::Text("HTTP/1.1 201 Created 200\r\n\r\nbody"), -102,
                  ""},
        ReplyCase{"StatusOfAnotherProtocol", LoopbackHttpServer::Text("ICY 200 OK\r\n\r\nbody"), -102, ""},
        ReplyCase{"StatusOfHttpTwo", LoopbackHttpServer::Text("HTTP/2 200\r\n\r\nbody"), -102, ""},
        ReplyCase{"StatusAfterABlank", LoopbackHttpServer::Text(" HTTP/1.1 200 OK\r\n\r\nbody"), -102, ""},
        // The body ends at its Content-Length, whatever follows.
        ReplyCase{"ContentLengthCutsTheBody",
                  LoopbackHttpServer::Text("HTTP/1.0 200 OK\r\ncontent-LENGTH:  4 \r\n\r\nbodyAndMore"), 0,
                  "body"},
        ReplyCase{
            "ContentLengthTwiceAlike",
            LoopbackHttpServer::Text("HTTP/1.0 200 OK\r\nContent-Length: 4\r\nContent-Length: 4\r\n\r\nbody"),
            0, "body"},
        ReplyCase{"ContentLengthZero",
                  LoopbackHttpServer::Text("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\nx"), 0, ""},
        ReplyCase{
            "BodyShorterThanItsContentLength",
            LoopbackHttpServer::Text("HTTP/1.0 200 OK\r\nContent-Length: 40\r\n\r\n{\"Quillmark\":\"01\"}"),
            -105, ""},
        ReplyCase{"ContentLengthNotANumber",
                  LoopbackHttpServer::Text("HTTP/1.0 200 OK\r\nContent-Length: 4x\r\n\r\nbody"), -105, ""},
        ReplyCase{
            "ContentLengthTwiceDiffering",
            LoopbackHttpServer::Text("HTTP/1.0 200 OK\r\nContent-Length: 4\r\nContent-Length: 9\r\n\r\nbody"),
            -105, ""},
        ReplyCase{"ContentLengthCountsTheBytesAfterANul",
                  LoopbackHttpServer::Text(
                      std::string("HTTP/1.0 200 OK\r\nContent-Length: 7\r\n\r\nabc\0defXYZ", 48)),
                  0, "abc"},
        ReplyCase{"NoTwoHundred", LoopbackHttpServer::Text("HTTP/1.1 404 Not Found\r\nX: y\r\n\r\n200 here"),
                  -102, ""},
        ReplyCase{"TwoHundredOnlyInTheBody", LoopbackHttpServer::Text("HTTP/1.0 500 Oops\r\n\r\nHTTP 200"),
                  -102, ""},
        ReplyCase{"HeaderEndsWithLfOnly", LoopbackHttpServer::Text("HTTP/1.0 200 OK\nA: b\n\nbody\r\nmore"),
                  0, "body\r\nmore"},
        ReplyCase{"BodyLongerThanOnePiece", LoopbackHttpServer::Text("HTTP/1.0 200 OK\r\n\r\n" + kLongBody),
                  0, kLongBody},
        ReplyCase{"NulDropsTheRestOfItsPiece",
                  LoopbackReply{{std::string("HTTP/1.0 200 OK\r\n\r\nabc\0def", 26), "ghi"}, 300, 0}, 0,
                  "abcghi"},
        ReplyCase{"ClosedBeforeAnyByte", LoopbackHttpServer::Text(""), -102, ""},
        ReplyCase{"ClosedInsideTheHeaderAfterTwoHundred", LoopbackHttpServer::Text("HTTP/1.0 200 OK\r\nX: y"),
                  0, ""}),
    [](const testing::TestParamInfo<ReplyCase> &info) { return std::string(info.param.name); });

// The request offers gzip and deflate, as it always has: a server or proxy that compresses its reply is
// read all the same, within the body's limit before and after decompressing.
std::string Compressed(const std::string &text, int windowBits)
{
    z_stream stream = {};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef *>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

const std::string kVersion = "{\"Quillmark\":\"0123456789abcdef0123456789abcdef\"}";
const std::string kGzip = Compressed(kVersion, 16 + MAX_WBITS);

LoopbackReply Encoded(const std::string &coding, const std::string &body)
{
    return LoopbackHttpServer::Text("HTTP/1.1 200 OK\r\nContent-Encoding: " + coding + "\r\n\r\n" + body);
}

INSTANTIATE_TEST_SUITE_P(
    Compressed, HttpPostReply,
    testing::Values(
        ReplyCase{"Gzip", Encoded("gzip", kGzip), 0, kVersion},
        ReplyCase{"XGzipInCapitals", Encoded("X-GZIP", kGzip), 0, kVersion},
        ReplyCase{"DeflateAsZlibData", Encoded("deflate", Compressed(kVersion, MAX_WBITS)), 0, kVersion},
        ReplyCase{"DeflateAsRawData", Encoded("deflate", Compressed(kVersion, -MAX_WBITS)), 0, kVersion},
        ReplyCase{"GzipWithItsContentLength",
                  LoopbackReply{{"HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " +
                                 std::to_string(kGzip.size()) + "\r\n\r\n" + kGzip},
                                0,
                                20000},
                  0, kVersion},
        ReplyCase{"GzipLongerThanOnePiece", Encoded("gzip", Compressed(kLongBody, 16 + MAX_WBITS)), 0,
                  kLongBody},
        ReplyCase{"IdentityNamed", Encoded("identity", kVersion), 0, kVersion},
        ReplyCase{"CodingNotOffered", Encoded("br", kGzip), -106, ""},
        ReplyCase{"TwoCodingsStacked", Encoded("deflate, gzip", kGzip), -106, ""},
        ReplyCase{"GzipCutShort", Encoded("gzip", kGzip.substr(0, kGzip.size() - 6)), -106, ""},
        ReplyCase{"GzipThatIsNot", Encoded("gzip", kVersion), -106, ""},
        // A megabyte and a byte of zeros in about a kilobyte.
        ReplyCase{"GzipOverTheBodyLimitOnceDecompressed",
                  Encoded("gzip", Compressed(std::string((1 << 20) + 1, '0'), 16 + MAX_WBITS)), -104, ""}),
    [](const testing::TestParamInfo<ReplyCase> &info) { return std::string(info.param.name); });

TEST(HttpPost, RefusedConnectionGives101AndLeavesTheReply)
{
    std::string reply = "kept";
    EXPECT_EQ(-101, HttpPostOnPort("127.0.0.1", RefusingLoopbackPort(), "/v", "", reply, 5000));
    EXPECT_EQ("kept", reply);
}

TEST(HttpPost, UnresolvableHostGives103)
{
    // The .invalid domain never resolves; the test's environment caps the resolver's own waiting.
    std::string reply;
    EXPECT_EQ(-103, HttpPost("quillmark-update.invalid", "/v", "", reply));
    EXPECT_EQ("", reply);
}

TEST(HttpPost, SilentServerTimesOut)
{
    LoopbackHttpServer server([](const std::string &) {
        return LoopbackReply{{}, 0, kHoldOpenUntilStopped};
    });
    ASSERT_TRUE(server.listening());
    std::string reply;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(-102, HttpPostWithLimits("127.0.0.1", server.port(), "/v", "", reply,
                                       ReceiveLimitOnly(kShortTimeoutMs)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kShortTimeoutMs - 50));
}

TEST(HttpPost, ServerKeepingTheConnectionOpenGivesTheBodyAfterTheTimeOut)
{
    LoopbackHttpServer server([](const std::string &) {
        return LoopbackReply{{"HTTP/1.0 200 OK\r\n\r\n{\"Quillmark\":\"1\"}"}, 0, kHoldOpenUntilStopped};
    });
    ASSERT_TRUE(server.listening());
    std::string reply;
    EXPECT_EQ(0, HttpPostWithLimits("127.0.0.1", server.port(), "/v", "", reply,
                                    ReceiveLimitOnly(kShortTimeoutMs)));
    EXPECT_EQ("{\"Quillmark\":\"1\"}", reply);
}

// A server that keeps the connection open, as the request asks it to: with a Content-Length the body is
// complete at that length, without waiting (the time-out is an hour there); a body that stops short of it
// is a failed request.
struct HeldOpenCase
{
    const char *name;
    std::string reply;
    int result;
    std::string body;
    bool waitsForTheTimeOut;
};

class HttpPostHeldOpen : public testing::TestWithParam<HeldOpenCase>
{
};

TEST_P(HttpPostHeldOpen, EndsAtTheContentLength)
{
    const HeldOpenCase &c = GetParam();
    LoopbackHttpServer server([&c](const std::string &) {
        return LoopbackReply{{c.reply}, 0, kHoldOpenUntilStopped};
    });
    ASSERT_TRUE(server.listening());
    std::string reply = "left over";
    const unsigned timeOutMs = c.waitsForTheTimeOut ? 1500 : kAnHourMs;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.result,
              HttpPostWithLimits("127.0.0.1", server.port(), "/v", "", reply, ReceiveLimitOnly(timeOutMs)));
    EXPECT_EQ(c.body, reply);
    if (c.waitsForTheTimeOut) {
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400));
    }
}

INSTANTIATE_TEST_SUITE_P(
    HeldOpen, HttpPostHeldOpen,
    testing::Values(
        HeldOpenCase{"WholeBody",
                     "HTTP/1.1 200 OK\r\nContent-Length: 48\r\n\r\n"
                     "{\"Quillmark\":\"0123456789abcdef0123456789abcdef\"}",
                     0, "{\"Quillmark\":\"0123456789abcdef0123456789abcdef\"}", false},
        HeldOpenCase{"EmptyBody", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 0, "", false},
        HeldOpenCase{"BodyCutShort",
                     "HTTP/1.1 200 OK\r\nContent-Length: 48\r\n\r\n{\"Quillmark\":\"0123456789abcdef\"}",
                     -105, "", true},
        // Without a Content-Length the body runs to the end of the connection: here the time-out.
        HeldOpenCase{"NoContentLength", "HTTP/1.1 200 OK\r\n\r\n{\"a\":1}", 0, "{\"a\":1}", true}),
    [](const testing::TestParamInfo<HeldOpenCase> &info) { return std::string(info.param.name); });

TEST(HttpPost, AnnouncedBodyOverTheLimitIsNotRead)
{
    LoopbackHttpServer server([](const std::string &) {
        return LoopbackReply{
            {"HTTP/1.0 200 OK\r\nContent-Length: 2000000\r\n\r\n{"}, 0, kHoldOpenUntilStopped};
    });
    ASSERT_TRUE(server.listening());
    std::string reply;
    // A client that read on would wait an hour for the rest of the body.
    EXPECT_EQ(-104,
              HttpPostWithLimits("127.0.0.1", server.port(), "/v", "", reply, ReceiveLimitOnly(kAnHourMs)));
    EXPECT_EQ("", reply);
}

TEST(HttpPost, ConnectingHasATimeLimitOfItsOwn)
{
    // A listener that never accepts: once its queue is full, a new connection is never answered.
    NetStartup();
    uint16_t port = 0;
    NetSocket listener = NetListen("127.0.0.1", 0, &port);
    ASSERT_NE(kNetInvalidSocket, listener);
    uint32_t loopback = 0;
    ASSERT_EQ(0, NetResolveIPv4("127.0.0.1", &loopback));
    std::vector<NetSocket> queued;
    for (int i = 0; i < 200; ++i) {
        NetSocket s = NetTcpSocket();
        if (NetConnect(s, loopback, port, 200) != 0) {
            NetClose(s);
            break;
        }
        queued.push_back(s);
    }
    ASSERT_LT(queued.size(), 200u) << "the listener's queue never filled";
    HttpPostLimits limits;
    limits.connectTimeoutMs = 400;
    std::string reply = "kept";
    const auto start = std::chrono::steady_clock::now();
    // Without a limit of its own, connecting would wait for the system to give up: minutes.
    EXPECT_EQ(-101, HttpPostWithLimits("127.0.0.1", port, "/v", "", reply, limits));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(350));
    EXPECT_EQ("kept", reply);
    for (NetSocket s : queued) {
        NetClose(s);
    }
    NetClose(listener);
    NetCleanup();
}

TEST(HttpPost, ReplyWithoutTwoHundredIsNotReadToItsEnd)
{
    // The server keeps the connection open after its body: reading that body would wait for the time-out,
    // an hour.
    LoopbackHttpServer server([](const std::string &) {
        return LoopbackReply{
            {"HTTP/1.0 404 Not Found\r\n\r\n{\"Quillmark\":\"1\"}"}, 0, kHoldOpenUntilStopped};
    });
    ASSERT_TRUE(server.listening());
    std::string reply;
    EXPECT_EQ(-102,
              HttpPostWithLimits("127.0.0.1", server.port(), "/v", "", reply, ReceiveLimitOnly(kAnHourMs)));
    EXPECT_EQ("", reply);
}

TEST(HttpPost, PeerResettingTheConnectionIsAFailedReadNotACrash)
{
    LoopbackHttpServer server([](const std::string &) { return LoopbackHttpServer::Text(""); });
    ASSERT_TRUE(server.listening());
    server.ResetEveryConnection();
    std::string reply;
    // A large body keeps the client sending after the reset arrived.
    const std::string body(256 * 1024, 'x');
    EXPECT_EQ(-102, HttpPostOnPort("127.0.0.1", server.port(), "/v", body.c_str(), reply, 5000));
    EXPECT_EQ("", reply);
}

// Limits on what a server can make the client hold or wait for, with small limits so the cases stay fast.
struct LimitCase
{
    const char *name;
    LoopbackReply reply;
    HttpPostLimits limits;
    int result;
    std::string body;
};

HttpPostLimits Limits(size_t headerBytes, size_t bodyBytes, unsigned exchangeMs = 5000)
{
    HttpPostLimits limits;
    limits.receiveTimeoutMs = 5000;
    limits.exchangeTimeoutMs = exchangeMs;
    limits.headerBytes = headerBytes;
    limits.bodyBytes = bodyBytes;
    return limits;
}

const std::string kHeader40 = "HTTP/1.0 200 OK\r\nX: 0123456789abcdef\r\n\r\n"; // 40 bytes

class HttpPostLimit : public testing::TestWithParam<LimitCase>
{
};

TEST_P(HttpPostLimit, EndsTheExchangeAsTheTableSays)
{
    const LimitCase &c = GetParam();
    LoopbackHttpServer server([&c](const std::string &) { return c.reply; });
    ASSERT_TRUE(server.listening());
    std::string reply = "left over";
    EXPECT_EQ(c.result, HttpPostWithLimits("127.0.0.1", server.port(), "/v", "", reply, c.limits));
    EXPECT_EQ(c.body, reply);
}

std::string Trickle(const std::string &text, std::vector<std::string> &pieces)
{
    for (char c : text) {
        pieces.push_back(std::string(1, c));
    }
    return text;
}

LoopbackReply TrickledReply(const std::string &text, unsigned pauseMs)
{
    LoopbackReply reply;
    Trickle(text, reply.pieces);
    reply.pauseMs = pauseMs;
    return reply;
}

INSTANTIATE_TEST_SUITE_P(
    Limits, HttpPostLimit,
    testing::Values(
        LimitCase{"HeaderAtItsLimit", LoopbackHttpServer::Text(kHeader40 + "ok"), Limits(40, 100), 0, "ok"},
        LimitCase{"HeaderOverItsLimit", LoopbackHttpServer::Text(kHeader40 + "ok"), Limits(39, 100), -104,
                  ""},
        LimitCase{"EndlessHeaderLineWithoutLineEnd",
                  LoopbackHttpServer::Text("HTTP/1.0 200 OK\r\nX: " + std::string(200000, 'a')),
                  Limits(1000, 100), -104, ""},
        LimitCase{"BodyAtItsLimit", LoopbackHttpServer::Text(kHeader40 + std::string(3000, 'b')),
                  Limits(100, 3000), 0, std::string(3000, 'b')},
        LimitCase{"BodyOverItsLimit", LoopbackHttpServer::Text(kHeader40 + std::string(3001, 'b')),
                  Limits(100, 3000), -104, ""},
        // "200" split over two receives still counts.
        LimitCase{"TwoHundredSplitOverPieces", LoopbackReply{{"HTTP/1.0 2", "00 OK\r\n\r\nbody"}, 100, 0},
                  Limits(100, 100), 0, "body"},
        LimitCase{"TwoHundredAcrossALineEndDoesNotCount",
                  LoopbackHttpServer::Text("HTTP/1.0 404 X2\r\n00: y\r\n\r\nbody"), Limits(100, 100), -102,
                  ""},
        // A byte every 150 ms never trips the 5 s receive time-out, but the whole exchange has 600 ms.
        LimitCase{"TricklingHeaderHitsTheExchangeLimit",
                  TrickledReply("HTTP/1.0 200 OK\r\nServer: slow server\r\n\r\nbody", 150),
                  Limits(1000, 1000, 600), -102, ""}),
    [](const testing::TestParamInfo<LimitCase> &info) { return std::string(info.param.name); });

TEST(HttpPost, TricklingBodyEndsAtTheExchangeLimit)
{
    LoopbackReply trickle = TrickledReply("0123456789abcdefghijklmnopqrstuvwxyz", 150);
    trickle.pieces.insert(trickle.pieces.begin(), "HTTP/1.0 200 OK\r\n\r\n");
    LoopbackHttpServer server([&trickle](const std::string &) { return trickle; });
    ASSERT_TRUE(server.listening());
    std::string reply;
    EXPECT_EQ(0, HttpPostWithLimits("127.0.0.1", server.port(), "/v", "", reply, Limits(1000, 1000, 600)));
    // What arrived in time, and no more: the whole body would take over 5 s.
    EXPECT_LT(reply.size(), 20u);
    EXPECT_EQ(0u, std::string("0123456789abcdefghijklmnopqrstuvwxyz").find(reply));
}

TEST(HttpPost, HugeHeaderIsRefusedWithTheDefaultLimits)
{
    // A header of 1 MiB that goes on: refused after its first 64 KiB, and nothing of it is handed back.
    std::string header = "HTTP/1.0 200 OK\r\n";
    while (header.size() < 1024 * 1024) {
        header += "X-Filler: 0123456789012345678901234567890123456789\r\n";
    }
    LoopbackHttpServer server([&header](const std::string &) { return LoopbackHttpServer::Text(header); });
    ASSERT_TRUE(server.listening());
    std::string reply;
    EXPECT_EQ(-104, HttpPostWithLimits("127.0.0.1", server.port(), "/v", "", reply, HttpPostLimits()));
    EXPECT_EQ("", reply);
}

} // namespace
