#include "RDHttpBinaryResponse.h"
#include "RDHttpStreamResponse.h"
#include "RDHttpTextResponse.h"

#include <gtest/gtest.h>

TEST(RDHttpResponse, JsonHeadInByteOrder)
{
    RDHttpTextResponse response;
    response.setJson("{}");
    EXPECT_EQ(response.toString(),
              "HTTP/1.1 200 OK\r\n"
              "Access-Control-Allow-Headers: Content-Type,X-Requested-With\r\n"
              "Access-Control-Allow-Origin: *\r\n"
              "Content-Length: 2\r\n"
              "Content-Type: application/json;charset=UTF-8\r\n"
              "\r\n"
              "{}");
}

TEST(RDHttpResponse, StreamNotFoundBytes)
{
    RDHttpTextResponse response;
    response.setStatus(404);
    response.setText("Stream Not Exists");
    EXPECT_EQ(response.toString(),
              "HTTP/1.1 404 Not Found\r\n"
              "Access-Control-Allow-Headers: Content-Type,X-Requested-With\r\n"
              "Access-Control-Allow-Origin: *\r\n"
              "Content-Length: 17\r\n"
              "Content-Type: text;charset=UTF-8\r\n"
              "\r\n"
              "Stream Not Exists");
}

TEST(RDHttpResponse, StatusTable)
{
    struct Case
    {
        int code;
        const char* reason;
    } cases[] = {{100, "Continue"},       {200, "OK"},          {299, "OK"},
                 {306, "OK"},             {400, "Bad Request"}, {408, "Request Timeout"},
                 {413, "Payload Too Large"}, {418, "I'm a teapot"}, {425, "OK"},
                 {431, "Request Header Fields Too Large"}, {501, "Not Implemented"}, {509, "OK"},
                 {599, "Network Connect Timeout Error"}, {-1, "OK"}};
    for (const Case& c : cases) {
        RDHttpTextResponse response;
        response.setStatus(c.code);
        EXPECT_EQ(response.reason(), c.reason) << c.code;
        EXPECT_EQ(response.head().substr(0, response.head().find("\r\n")),
                  "HTTP/1.1 " + std::to_string(c.code) + " " + c.reason);
    }
}

TEST(RDHttpResponse, IcyHeadInByteOrder)
{
    RDHttpStreamResponse response;
    response.setIcyBr(128000);
    response.setIcySr(44100);
    response.setIcyName("Lobby");
    response.setIcyMetaint(8192);
    response.setContentType("audio/mpeg");
    response.setIcyPub(1);
    EXPECT_EQ(response.head(),
              "HTTP/1.1 200 OK\r\n"
              "Accept-Ranges: none\r\n"
              "Access-Control-Allow-Headers: Content-Type,X-Requested-With\r\n"
              "Access-Control-Allow-Origin: *\r\n"
              "Content-Type: audio/mpeg\r\n"
              "icy-br: 128000\r\n"
              "icy-metaint: 8192\r\n"
              "icy-name: Lobby\r\n"
              "icy-pub: 1\r\n"
              "icy-sr: 44100\r\n"
              "\r\n");
}

TEST(RDHttpResponse, HeaderValuesCannotStartNewLines)
{
    RDHttpStreamResponse response;
    response.setIcyName("Zone\r\nSet-Cookie: x=1");
    EXPECT_EQ(response.header("icy-name"), "Zone  Set-Cookie: x=1");
    EXPECT_EQ(response.head().find("\r\nSet-Cookie"), std::string::npos);
}

TEST(RDHttpResponse, ClearEmptiesEverything)
{
    RDHttpTextResponse response;
    response.setJson("{}");
    response.clear();
    EXPECT_EQ(response.status(), 0);
    EXPECT_TRUE(response.reason().empty());
    EXPECT_TRUE(response.version().empty());
    EXPECT_TRUE(response.headers().empty());
    EXPECT_TRUE(response.body().empty());
    RDHttpBinaryResponse binary;
    binary.clear();
    EXPECT_EQ(binary.body(), nullptr);
}
