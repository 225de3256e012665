#include "WSHandshake.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// RFC 6455 1.3's sample request.
const std::string kSample = "GET /chat HTTP/1.1\r\n"
                            "Host: server.example.com\r\n"
                            "Upgrade: websocket\r\n"
                            "Connection: Upgrade\r\n"
                            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                            "Origin: http://example.com:8080\r\n"
                            "Sec-WebSocket-Version: 13\r\n\r\n";

struct Case
{
    const char* name;
    std::string request;
    WSHandshake::Status status;
};

} // namespace

TEST(WSHandshake, RequestsTable)
{
    const Case cases[] = {
        {"rfc sample", kSample, WSHandshake::Status::Ok},
        {"lower-case names, token lists",
         "GET / HTTP/1.1\r\nhost: x\r\nupgrade: WebSocket\r\nconnection: keep-alive, Upgrade\r\n"
         "sec-websocket-key: abc\r\n\r\n",
         WSHandshake::Status::Ok},
        {"tabs around tokens", "GET / HTTP/1.1\r\nUpgrade:\twebsocket\t\r\nConnection: x,\tupgrade\r\nSec-WebSocket-Key: k\r\n\r\n",
         WSHandshake::Status::Ok},
        {"no blank line yet", "GET / HTTP/1.1\r\nUpgrade: websocket\r\n", WSHandshake::Status::Incomplete},
        {"empty", "", WSHandshake::Status::Incomplete},
        {"post", "POST / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: k\r\n\r\n",
         WSHandshake::Status::NotGet},
        {"no upgrade header", "GET / HTTP/1.1\r\nConnection: Upgrade\r\nSec-WebSocket-Key: k\r\n\r\n",
         WSHandshake::Status::NotUpgrade},
        {"upgrade to another protocol", "GET / HTTP/1.1\r\nUpgrade: h2c\r\nConnection: Upgrade\r\nSec-WebSocket-Key: k\r\n\r\n",
         WSHandshake::Status::NotUpgrade},
        {"connection keep-alive only",
         "GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: keep-alive\r\nSec-WebSocket-Key: k\r\n\r\n",
         WSHandshake::Status::NotUpgrade},
        {"token as part of a word", "GET / HTTP/1.1\r\nUpgrade: websockets\r\nConnection: upgraded\r\nSec-WebSocket-Key: k\r\n\r\n",
         WSHandshake::Status::NotUpgrade},
        {"no key", "GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n", WSHandshake::Status::MissingKey},
        {"empty key", "GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key:  \r\n\r\n",
         WSHandshake::Status::MissingKey},
        {"not http", "hello\r\n\r\n", WSHandshake::Status::MalformedHead},
        {"transfer coding", "GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", WSHandshake::Status::MalformedHead},
        {"8 KiB without blank line", "GET / HTTP/1.1\r\nX: " + std::string(WSHandshake::kMaxRequestBytes, 'a'),
         WSHandshake::Status::TooLarge},
        {"blank line just past 8 KiB",
         "GET / HTTP/1.1\r\nX: " + std::string(WSHandshake::kMaxRequestBytes - 20, 'a') + "\r\n\r\n",
         WSHandshake::Status::TooLarge},
    };
    for (const Case& c : cases) {
        WSHandshake handshake;
        EXPECT_EQ(handshake.parse(c.request.data(), static_cast<int>(c.request.size())), c.status) << c.name;
        if (c.status != WSHandshake::Status::Ok) {
            EXPECT_EQ(handshake.headLength(), 0) << c.name;
            EXPECT_TRUE(handshake.key().empty()) << c.name;
        }
    }
}

// The request arrives in any number of pieces; only the last completes it, and the bytes of a
// first frame that came with it stay outside the head.
TEST(WSHandshake, EveryPrefixIsIncompleteAndFollowingBytesStayOutsideTheHead)
{
    const std::string frame = "\x81\x80\x01\x02\x03\x04";
    const std::string stream = kSample + frame;
    for (size_t n = 0; n < kSample.size(); ++n) {
        WSHandshake handshake;
        ASSERT_EQ(handshake.parse(stream.data(), static_cast<int>(n)), WSHandshake::Status::Incomplete) << n;
    }
    WSHandshake handshake;
    ASSERT_EQ(handshake.parse(stream.data(), static_cast<int>(stream.size())), WSHandshake::Status::Ok);
    EXPECT_EQ(handshake.headLength(), static_cast<int>(kSample.size()));
    EXPECT_EQ(handshake.key(), "dGhlIHNhbXBsZSBub25jZQ==");
}

// RFC 6455 1.3 and 4.2.2.
TEST(WSHandshake, AcceptKeyAndResponse)
{
    EXPECT_EQ(WSHandshake::acceptKey("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    EXPECT_EQ(WSHandshake::acceptResponse("dGhlIHNhbXBsZSBub25jZQ=="),
              "HTTP/1.1 101 Switching Protocols\r\nUpgrade: WebSocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n");
}

TEST(WSHandshake, RefusalsMapToOneStatusEach)
{
    const std::pair<WSHandshake::Status, int> table[] = {
        {WSHandshake::Status::Ok, 0},           {WSHandshake::Status::Incomplete, 0},
        {WSHandshake::Status::TooLarge, 431},   {WSHandshake::Status::TimedOut, 408},
        {WSHandshake::Status::MalformedHead, 400}, {WSHandshake::Status::NotGet, 405},
        {WSHandshake::Status::NotUpgrade, 400}, {WSHandshake::Status::MissingKey, 400},
    };
    for (const auto& row : table)
        EXPECT_EQ(WSHandshake::httpStatus(row.first), row.second) << WSHandshake::describe(row.first);
    EXPECT_EQ(WSHandshake::refusalResponse(WSHandshake::Status::TooLarge),
              "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(WSHandshake::refusalResponse(WSHandshake::Status::MissingKey),
              "HTTP/1.1 400 Bad Request\r\nSec-WebSocket-Version: 13\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
}
