#include "RDHttpRequest.h"

#include <gtest/gtest.h>

#include <climits>

TEST(RDHttpRequest, RequestLineAndHeaders)
{
    RDHttpRequest request;
    ASSERT_TRUE(request.parse("GET /a%20b?x=%41 HTTP/1.1\r\nHost:example\r\n  X-Pad  :  v  \r\nNoColon\r\n"));
    EXPECT_EQ(request.method(), "GET");
    EXPECT_EQ(request.target(), "/a%20b?x=%41");
    EXPECT_EQ(request.path(), "/a b");
    EXPECT_EQ(request.query(), "x=%41");
    EXPECT_EQ(request.version(), "HTTP/1.1");
    EXPECT_EQ(request.header("Host"), "example");
    EXPECT_EQ(request.header("X-Pad"), "v");
    EXPECT_EQ(request.header("x-pad"), "v");
    EXPECT_EQ(request.header("HOST"), "example");
    EXPECT_FALSE(request.hasHeader("NoColon"));
    EXPECT_EQ(request.headers().size(), 2u);
    EXPECT_EQ(request.contentLength(), 0);
    EXPECT_TRUE(request.isComplete());
    EXPECT_EQ(parseUrlQuery(request.target()).at("x"), "A");
}

// Lines may end with a bare LF; a CR before the LF is dropped, any other CR reads as a blank.
TEST(RDHttpRequest, LineEndingsTable)
{
    struct Case
    {
        const char* head;
        const char* host;
    } cases[] = {
        {"POST /a?x=1 HTTP/1.1\r\nHost: h\r\nContent-Length: 3", "h"},
        {"POST /a?x=1 HTTP/1.1\nHost: h\nContent-Length: 3", "h"},
        {"POST /a?x=1 HTTP/1.1\nHost: h\r\nContent-Length: 3\r", "h"},
        {"POST /a?x=1 HTTP/1.1\r\nHost: h\rX-Y: z\nContent-Length: 3", "h X-Y: z"},
    };
    for (const Case& c : cases) {
        RDHttpRequest request;
        ASSERT_EQ(request.parseHead(c.head), RDHttpParseStatus::Ok) << c.head;
        EXPECT_EQ(request.method(), "POST") << c.head;
        EXPECT_EQ(request.path(), "/a") << c.head;
        EXPECT_EQ(request.query(), "x=1") << c.head;
        EXPECT_EQ(request.version(), "HTTP/1.1") << c.head;
        EXPECT_EQ(request.header("Host"), c.host) << c.head;
        EXPECT_EQ(request.contentLength(), 3) << c.head;
    }
}

TEST(RDHttpRequest, ExtraBlanksStayInTheVersion)
{
    RDHttpRequest request;
    ASSERT_TRUE(request.parse("GET / HTTP/1.1 extra"));
    EXPECT_EQ(request.version(), "HTTP/1.1 extra");
}

TEST(RDHttpRequest, MalformedHeadsLeaveTheFieldsUnchanged)
{
    using S = RDHttpParseStatus;
    RDHttpRequest request;
    ASSERT_EQ(request.parseHead("GET /keep HTTP/1.1\r\nContent-Length: 3"), S::Ok);
    struct Case
    {
        const char* head;
        RDHttpParseStatus status;
    } cases[] = {
        {"", S::MalformedRequestLine},
        {"GET", S::MalformedRequestLine},
        {"GET /", S::MalformedRequestLine},
        {" / HTTP/1.1", S::MalformedRequestLine},
        {"GET  HTTP/1.1", S::MalformedRequestLine},
        {"GET / ", S::MalformedRequestLine},
        {"POST / HTTP/1.1\r\nContent-Length: -1", S::MalformedContentLength},
        {"POST / HTTP/1.1\r\nContent-Length: -5", S::MalformedContentLength},
        {"POST / HTTP/1.1\r\nContent-Length: abc", S::MalformedContentLength},
        {"POST / HTTP/1.1\r\nContent-Length: 5x", S::MalformedContentLength},
        {"POST / HTTP/1.1\r\nContent-Length: +5", S::MalformedContentLength},
        {"POST / HTTP/1.1\r\nContent-Length: ", S::MalformedContentLength},
        {"POST / HTTP/1.1\r\nContent-Length: 1 2", S::MalformedContentLength},
        {"POST / HTTP/1.1\r\nContent-Length: 5\r\ncontent-length: 6", S::MalformedContentLength},
        {"POST / HTTP/1.1\r\ntransfer-encoding: chunked", S::TransferCoding},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(request.parseHead(c.head), c.status) << c.head;
        EXPECT_FALSE(request.parse(c.head)) << c.head;
        EXPECT_EQ(request.path(), "/keep");
        EXPECT_EQ(request.contentLength(), 3);
    }
}

TEST(RDHttpRequest, ContentLengthTable)
{
    struct Case
    {
        const char* header;
        int64_t length;
    } cases[] = {
        {"Content-Length: 0", 0},
        {"Content-Length: 5", 5},
        {"content-length: 5", 5},
        {"CONTENT-LENGTH:7", 7},
        {"Content-Length:\t12\t", 12},
        {"Content-Length: 007", 7},
        {"Content-Length: 9223372036854775807", INT64_MAX},
        {"Content-Length: 9223372036854775808", INT64_MAX},
        {"Content-Length: 99999999999999999999999", INT64_MAX},
        {"Content-Length: 5\r\nContent-Length: 5", 5},
    };
    for (const Case& c : cases) {
        RDHttpRequest request;
        ASSERT_TRUE(request.parse(std::string("POST / HTTP/1.1\r\n") + c.header)) << c.header;
        EXPECT_EQ(request.contentLength(), c.length) << c.header;
        EXPECT_EQ(request.isComplete(), c.length == 0) << c.header;
    }
}

TEST(RDHttpRequest, ToStringMasksCredentials)
{
    RDHttpRequest request;
    ASSERT_TRUE(request.parse("GET /api?id=1 HTTP/1.1\r\nAuthorization: Basic dXNlcjpwYXNz\r\nHost: h"));
    const std::string text = request.toString();
    EXPECT_EQ(text.find("dXNlcjpwYXNz"), std::string::npos);
    EXPECT_EQ(text, "GET /api?id=1 HTTP/1.1\r\nAuthorization: (hidden)\r\nHost: h\r\n\r\n");
    request.clear();
    EXPECT_TRUE(request.method().empty());
    EXPECT_FALSE(request.isComplete());
}

TEST(RDHttpRequest, UrlQueryTable)
{
    using M = std::map<std::string, std::string>;
    struct Case
    {
        const char* text;
        M expected;
    } cases[] = {
        {"/api?action=start&id=3", {{"action", "start"}, {"id", "3"}}},
        {"/api?id=1&id=2", {{"id", "2"}}},
        {"/api?flag&id=4", {{"id", "4"}}},
        {"/api?a=b=c", {{"a", "b"}}},
        {"x=1", {{"x", "1"}}},
        {"", {}},
        {"/api", {}},
        {"/api?", {}},
        {"/api?a=&=b", {{"a", ""}, {"", "b"}}},
        // Decoded once: an escaped ampersand stays inside its value, %2526 arrives as %26.
        {"/api?name=x%26y&id=1", {{"name", "x&y"}, {"id", "1"}}},
        {"/api?v=%2526", {{"v", "%26"}}},
        {"/api?k%3D=v+w%", {{"k=", "v w%"}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseUrlQuery(c.text), c.expected) << c.text;

    // A request's path is decoded without its query, so the query survives for parseUrlQuery.
    RDHttpRequest request;
    ASSERT_TRUE(request.parse("GET /api%3Fx?name=x%26y HTTP/1.1"));
    EXPECT_EQ(request.path(), "/api?x");
    EXPECT_EQ(parseUrlQuery(request.target()), (M{{"name", "x&y"}}));
    EXPECT_EQ(parseUrlQuery(request.query()), (M{{"name", "x&y"}}));
}
