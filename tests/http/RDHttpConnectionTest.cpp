#include "RDHttpBaseRequest.h"
#include "RDHttpBinaryResponse.h"
#include "RDHttpConnection.h"
#include "RDHttpTextResponse.h"
#include "RDMFData.h"
#include "RDMemoryData.h"
#include "TestHttpPeer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string bodyOf(RDHttpBaseRequest* request)
{
    std::string out;
    char buffer[1000];
    int n;
    while ((n = request->body()->read(buffer, sizeof(buffer))) > 0)
        out.append(buffer, static_cast<size_t>(n));
    return out;
}

std::string statusLine(const std::string& response)
{
    return response.substr(0, response.find("\r\n"));
}

// The status line of the answer before the server closed.
std::string refusal(TestHttpPair& pair)
{
    std::string bytes;
    EXPECT_TRUE(pair.client->readUntilClosed(&bytes));
    return statusLine(bytes);
}

// Answers "<method> <path> <body>" as text.
void echo(RDHttpConnection* connection, RDHttpBaseRequest* request)
{
    RDHttpTextResponse response;
    response.setText(request->method() + " " + request->path() + " " + bodyOf(request));
    connection->sendResponse(&response);
}

} // namespace

TEST(RDHttpConnection, HeadArrivingOneByteAtATime)
{
    TestHttpPair pair;
    ASSERT_NE(pair.connection, nullptr);
    std::thread sender([&] { pair.client->trickle("GET /slow HTTP/1.1\r\nHost: x\r\n\r\n", 1); });
    std::unique_ptr<RDHttpBaseRequest> request(pair.connection->readRequest());
    sender.join();
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->path(), "/slow");
    EXPECT_EQ(request->header("host"), "x");
    EXPECT_EQ(request->body()->size(), 0);
}

TEST(RDHttpConnection, BodyInTwoPiecesAndPeerCloseInsideABody)
{
    TestHttpPair pair;
    ASSERT_NE(pair.connection, nullptr);
    std::thread sender([&] {
        pair.client->send("POST /p HTTP/1.1\r\nContent-Length: 5\r\n\r\nabc");
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pair.client->send("de");
    });
    std::unique_ptr<RDHttpBaseRequest> request(pair.connection->readRequest());
    sender.join();
    ASSERT_NE(request, nullptr);
    EXPECT_TRUE(request->isComplete());
    EXPECT_EQ(bodyOf(request.get()), "abcde");

    pair.client->send("POST /p HTTP/1.1\r\nContent-Length: 5\r\n\r\nabc");
    pair.client->socket().shutdown();
    EXPECT_FALSE(pair.connection->readRequest());
    EXPECT_FALSE(pair.connection->isConnected());
}

// Requests are framed by Content-Length: whatever follows a body is the next request.
TEST(RDHttpConnection, PipelinedRequestsAreServedInOrder)
{
    TestHttpPair pair;
    ASSERT_NE(pair.connection, nullptr);
    pair.client->send("GET /one HTTP/1.1\r\n\r\nGET /two HTTP/1.1\r\n\r\n"
                      "POST /three HTTP/1.1\r\ncontent-length: 5\r\n\r\n12345"
                      "\r\nGET /four?a=1 HTTP/1.1\r\n\r\n");
    const char* paths[] = {"/one", "/two", "/three", "/four"};
    for (const char* path : paths) {
        std::unique_ptr<RDHttpBaseRequest> request(pair.connection->readRequest());
        ASSERT_NE(request, nullptr) << path;
        EXPECT_EQ(request->path(), path);
        if (request->method() == "POST") {
            EXPECT_EQ(bodyOf(request.get()), "12345");
        }
    }
    EXPECT_TRUE(pair.connection->isConnected());
}

// RFC 9112 lets a line end with a bare LF: such requests are read as soon as their empty line
// is in, never left waiting for a CR LF CR LF that does not come.
TEST(RDHttpConnection, BareLineFeedsEndLinesAndHeads)
{
    struct Case
    {
        std::string sent;
        bool trickle;
        std::vector<std::string> requests; // "<path> <body>" in order
    } cases[] = {
        {"GET /one HTTP/1.1\nHost: x\n\n", false, {"/one "}},
        {"GET /one HTTP/1.1\r\nHost: x\n\r\n", false, {"/one "}},
        {"GET /one HTTP/1.1\nHost: x\r\n\n", false, {"/one "}},
        {"\n\r\nGET /one HTTP/1.1\n\n", false, {"/one "}},
        {"GET /one HTTP/1.1\n\nGET /two HTTP/1.1\r\n\r\n", false, {"/one ", "/two "}},
        {"POST /one HTTP/1.1\ncontent-length: 3\n\nabc\nGET /two HTTP/1.1\n\n", false, {"/one abc", "/two "}},
        {"GET /one HTTP/1.1\nHost: x\n\r\n", true, {"/one "}},
        {"GET /one HTTP/1.1\r\nHost: x\r\n\r\nGET /two HTTP/1.1\n\n", true, {"/one ", "/two "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent);
        TestHttpPair pair;
        ASSERT_NE(pair.connection, nullptr);
        // A head that is not recognised ends in a 408 (no request) instead of a long wait.
        pair.connection->setTimeouts(5000, 5000);
        std::thread sender([&] { c.trickle ? pair.client->trickle(c.sent, 1) : pair.client->send(c.sent); });
        std::vector<std::string> read;
        while (read.size() < c.requests.size()) {
            std::unique_ptr<RDHttpBaseRequest> request(pair.connection->readRequest());
            if (!request)
                break;
            EXPECT_EQ(request->version(), "HTTP/1.1");
            read.push_back(request->path() + " " + bodyOf(request.get()));
        }
        sender.join();
        EXPECT_EQ(read, c.requests);
        EXPECT_TRUE(pair.connection->isConnected());
    }
}

TEST(RDHttpConnection, ContentLengthCases)
{
    struct Case
    {
        std::string head;
        std::string sent;
        int status;   // 0: a request is read
        std::string body;
    } cases[] = {
        {"GET / HTTP/1.1\r\n\r\n", "", 0, ""},
        {"POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "", 0, ""},
        {"POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\n", "12345678", 0, "12345"},
        {"POST / HTTP/1.1\r\ncontent-length: 5\r\n\r\n", "12345", 0, "12345"},
        {"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", "abc", 400, ""},
        {"POST / HTTP/1.1\r\nContent-Length: -5\r\n\r\n", "abc", 400, ""},
        {"POST / HTTP/1.1\r\nContent-Length: abc\r\n\r\n", "abc", 400, ""},
        {"POST / HTTP/1.1\r\nContent-Length: 5x\r\n\r\n", "abc", 400, ""},
        {"POST / HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", "abcdef", 400, ""},
        {"POST / HTTP/1.1\r\nContent-Length: 9223372036854775808\r\n\r\n", "abc", 413, ""},
        {"POST / HTTP/1.1\r\nContent-Length: 2097152\r\n\r\n", "abc", 413, ""},
        // The body limit at its edge: exactly 1 MiB is read, one byte more is refused.
        {"POST / HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n", std::string(1048576, 'b'), 0,
         std::string(1048576, 'b')},
        {"POST / HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n", "abc", 413, ""},
        {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", "3\r\nabc\r\n0\r\n\r\n", 501, ""},
        {"GET\r\n\r\n", "", 400, ""},
        {"GET /\r\n\r\n", "", 400, ""},
    };
    for (const Case& c : cases) {
        TestHttpPair pair;
        ASSERT_NE(pair.connection, nullptr);
        // A body larger than the socket buffers goes out while the server reads it. The client
        // then has said everything; a refusal need not wait for more.
        std::thread sender([&] {
            pair.client->send(c.head + c.sent);
            ::shutdown(pair.client->socket().handle(), SHUT_WR);
        });
        const auto t0 = Clock::now();
        std::unique_ptr<RDHttpBaseRequest> request(pair.connection->readRequest());
        const double ms = TestSupport::msSince(t0);
        sender.join();
        EXPECT_LT(ms, 2000) << c.head;
        if (c.status == 0) {
            ASSERT_NE(request, nullptr) << c.head;
            EXPECT_EQ(bodyOf(request.get()), c.body) << c.head;
            EXPECT_TRUE(pair.connection->isConnected());
        } else {
            EXPECT_EQ(request, nullptr) << c.head;
            EXPECT_FALSE(pair.connection->isConnected()) << c.head;
            std::string bytes;
            EXPECT_TRUE(pair.client->readUntilClosed(&bytes)) << c.head;
            const std::string reason = RDHttpResponse::reasonPhrase(c.status);
            EXPECT_EQ(statusLine(bytes), "HTTP/1.1 " + std::to_string(c.status) + " " + reason) << c.head;
            EXPECT_NE(bytes.find("Connection: close\r\n"), std::string::npos);
        }
    }
}

// The head limit at its edge: a head of exactly 64 KiB, blank line included, is read; one byte
// more is answered 431, as is a head that never ends.
TEST(RDHttpConnection, OversizeHeadGets431)
{
    const std::string start = "GET / HTTP/1.1\r\nX-Big: ";
    const size_t limit = 64 * 1024;
    const size_t fill = limit - start.size() - 4;
    struct Case
    {
        std::string head;
        bool accepted;
    } cases[] = {
        {start + std::string(fill, 'a') + "\r\n\r\n", true},
        {start + std::string(fill + 1, 'a') + "\r\n\r\n", false},
        {start + std::string(70 * 1024, 'a'), false},
    };
    ASSERT_EQ(cases[0].head.size(), limit);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.head.size());
        TestHttpPair pair;
        ASSERT_NE(pair.connection, nullptr);
        std::thread sender([&] { pair.client->send(c.head); });
        std::unique_ptr<RDHttpBaseRequest> request(pair.connection->readRequest());
        sender.join();
        if (c.accepted) {
            ASSERT_NE(request, nullptr);
            EXPECT_EQ(request->header("X-Big").size(), fill);
        } else {
            EXPECT_EQ(request, nullptr);
            EXPECT_EQ(refusal(pair), "HTTP/1.1 431 Request Header Fields Too Large");
        }
    }
}

TEST(RDHttpConnection, LargeBodyIsRefusedBeforeItIsRead)
{
    TestHttpPair pair;
    ASSERT_NE(pair.connection, nullptr);
    // The client waits for 100 Continue; the refusal comes instead, without the body.
    pair.client->send("POST /up HTTP/1.1\r\nContent-Length: 1048577\r\nExpect: 100-continue\r\n\r\n");
    const auto t0 = Clock::now();
    EXPECT_FALSE(pair.connection->readRequest());
    // The refusal waits a moment for the client's close, so that it is not reset in flight.
    EXPECT_LT(TestSupport::msSince(t0), 2000);
    EXPECT_EQ(refusal(pair), "HTTP/1.1 413 Payload Too Large");
}

TEST(RDHttpConnection, ExpectContinueIsAnswered)
{
    TestHttpPair pair;
    ASSERT_NE(pair.connection, nullptr);
    std::thread client([&] {
        pair.client->send("POST /up HTTP/1.1\r\nContent-Length: 4\r\nExpect: 100-continue\r\n\r\n");
        const std::string interim = pair.client->readResponse(2000);
        EXPECT_EQ(interim, "HTTP/1.1 100 Continue\r\n\r\n");
        pair.client->send("data");
    });
    std::unique_ptr<RDHttpBaseRequest> request(pair.connection->readRequest());
    client.join();
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(bodyOf(request.get()), "data");
}

TEST(RDHttpConnection, IdleClientIsClosedSilently)
{
    TestHttpPair pair;
    ASSERT_NE(pair.connection, nullptr);
    pair.connection->setTimeouts(200, 1000);
    const auto t0 = Clock::now();
    EXPECT_FALSE(pair.connection->readRequest());
    const double ms = TestSupport::msSince(t0);
    EXPECT_GE(ms, 190);
    EXPECT_LT(ms, 1500);
    EXPECT_FALSE(pair.connection->isConnected());
    std::string bytes;
    EXPECT_TRUE(pair.client->readUntilClosed(&bytes));
    EXPECT_EQ(bytes, "");
}

// A slow-loris client keeps sending a head a byte at a time; the request limit runs from its
// first byte, so the trickle does not keep the connection alive.
TEST(RDHttpConnection, SlowLorisIsDroppedAfterTheRequestTimeout)
{
    TestHttpLoopServer server(echo, 300, 500);
    TestHttpClient client(server.port());
    ASSERT_TRUE(client.isConnected());
    std::atomic<bool> stopTrickle{false};
    const auto t0 = Clock::now();
    std::thread trickle([&] {
        const std::string head = "GET / HTTP/1.1\r\nX-Slow: " + std::string(1000, 'a');
        for (char c : head) {
            if (stopTrickle || client.socket().send(&c, 1) != 1)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::string bytes;
    const bool closed = client.readUntilClosed(&bytes, 5000);
    const double ms = TestSupport::msSince(t0);
    stopTrickle = true;
    trickle.join();
    EXPECT_TRUE(closed);
    EXPECT_GE(ms, 450);
    EXPECT_LT(ms, 2500);
    EXPECT_EQ(statusLine(bytes), "HTTP/1.1 408 Request Timeout");
    EXPECT_EQ(server.requests, 0);
}

TEST(RDHttpConnection, ShutdownFromAnotherThreadReleasesABlockedRead)
{
    TestHttpPair pair;
    ASSERT_NE(pair.connection, nullptr);
    std::atomic<bool> returned{false};
    std::atomic<bool> gotRequest{true};
    std::thread reader([&] {
        gotRequest = pair.connection->readRequest() != nullptr;
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned);
    const auto t0 = Clock::now();
    pair.connection->shutdown();
    while (!returned && TestSupport::msSince(t0) < 2000)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    const double ms = TestSupport::msSince(t0);
    reader.join();
    EXPECT_LT(ms, 100);
    EXPECT_FALSE(gotRequest);
    EXPECT_FALSE(pair.connection->isConnected());
}

TEST(RDHttpConnection, LargeBodiesGoToUniqueFilesThatAreRemoved)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TestHttpPair first;
    TestHttpPair second;
    ASSERT_NE(first.connection, nullptr);
    ASSERT_NE(second.connection, nullptr);
    for (TestHttpPair* pair : {&first, &second}) {
        pair->connection->setTempDir(dir.path().toStdString());
        pair->connection->setMemoryThreshold(1000);
    }
    const std::string body(50000, 'b');
    const std::string head = "POST /up HTTP/1.1\r\nContent-Length: 50000\r\n\r\n";
    std::thread s1([&] { first.client->send(head + body); });
    std::thread s2([&] { second.client->send(head + body); });
    std::unique_ptr<RDHttpBaseRequest> r1(first.connection->readRequest());
    std::unique_ptr<RDHttpBaseRequest> r2(second.connection->readRequest());
    s1.join();
    s2.join();
    ASSERT_NE(r1, nullptr);
    ASSERT_NE(r2, nullptr);
    auto* b1 = dynamic_cast<RDMFData*>(r1->body());
    auto* b2 = dynamic_cast<RDMFData*>(r2->body());
    ASSERT_TRUE(b1 && b2);
    EXPECT_TRUE(b1->isInFile());
    EXPECT_TRUE(b2->isInFile());
    EXPECT_NE(b1->path(), b2->path());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);
    EXPECT_EQ(bodyOf(r1.get()), body);
    r1.reset();
    r2.reset();
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

TEST(RDHttpConnection, BinaryResponseSendsItsStoreAndStopsWhenItRunsDry)
{
    TestHttpPair pair;
    ASSERT_NE(pair.connection, nullptr);
    const std::string payload(5000, 'p');
    {
        RDHttpBinaryResponse response;
        auto* store = new RDMemoryData;
        store->write(payload.data(), static_cast<int>(payload.size()));
        response.setBody(store);
        response.setHeader("Content-Length", std::to_string(payload.size()));
        pair.connection->sendResponse(&response);
    }
    {
        // A file store that was never ended is not "empty"; the response must still finish.
        QTemporaryDir dir;
        RDHttpBinaryResponse response;
        auto* store = new RDMFData(dir.filePath("b").toStdString(), 10);
        store->write("xyz", 3);
        ASSERT_TRUE(store->isInFile());
        response.setBody(store);
        response.setHeader("Content-Length", "3");
        const auto t0 = Clock::now();
        pair.connection->sendResponse(&response);
        EXPECT_LT(TestSupport::msSince(t0), 1000);
    }
    const std::string first = pair.client->readResponse();
    EXPECT_EQ(first.substr(first.size() - payload.size()), payload);
    const std::string second = pair.client->readResponse();
    EXPECT_EQ(second.substr(second.size() - 3), "xyz");
}

TEST(RDHttpConnection, WriteToAPeerThatStoppedReadingGivesUp)
{
    for (const bool nonBlocking : {false, true}) {
        TestHttpPair pair;
        ASSERT_NE(pair.connection, nullptr);
        int size = 4096;
        setsockopt(pair.client->socket().handle(), SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
        setsockopt(pair.connection->socket()->handle(), SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
        pair.connection->setWriteTimeout(300);
        if (nonBlocking)
            pair.connection->socket()->setNonBlocking();
        const std::string big(8 * 1024 * 1024, 'w');
        const auto t0 = Clock::now();
        const int sent = pair.connection->writeAll(big);
        const double ms = TestSupport::msSince(t0);
        EXPECT_LT(sent, static_cast<int>(big.size()));
        EXPECT_GE(ms, 250);
        EXPECT_LT(ms, 2000);
        EXPECT_FALSE(pair.connection->isConnected());
        EXPECT_EQ(pair.connection->writeAll("more"), 0);
    }
}

TEST(RDHttpConnection, CurlKeepAliveSendsThreeRequestsOnOneConnection)
{
    SONARIS_REQUIRE_COMMANDS("curl");
    TestHttpLoopServer server(echo);
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
    const QString format = QStringLiteral("|%{http_code} %{num_connects}\\n");
    const TestSupport::Result r = TestSupport::run(
        "curl", {"-s", "-H", "Connection: keep-alive", "-w", format, base + "/one?x=%41",
                 "--next", "-s", "-H", "Connection: keep-alive", "-w", format, "--data-binary", "hello",
                 base + "/two%20b",
                 "--next", "-s", "-H", "Connection: keep-alive", "-w", format, base + "/three"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.out.toStdString(), "GET /one |200 1\n"
                                   "POST /two b hello|200 0\n"
                                   "GET /three |200 0\n");
    server.stop();
    EXPECT_EQ(server.connections, 1);
    EXPECT_EQ(server.requests, 3);
}

TEST(RDHttpConnection, CurlSeesTheRefusals)
{
    SONARIS_REQUIRE_COMMANDS("curl");
    TestHttpLoopServer server(echo);
    const QString url = QStringLiteral("http://127.0.0.1:%1/x").arg(server.port());
    struct Case
    {
        QStringList arguments;
        const char* code;
    } cases[] = {
        {{"-H", "X-Big: " + QString(70 * 1024, 'a')}, "431"},
        {{"--data-binary", "@-", "-H", "Content-Length: 2000000", "-H", "Expect:"}, "413"},
        {{"-H", "Content-Length: -1"}, "400"},
        {{"-H", "Content-Length: 12abc"}, "400"},
    };
    for (const Case& c : cases) {
        const TestSupport::Result r =
            TestSupport::run("curl", QStringList{"-s", "-o", "/dev/null", "-w", "%{http_code}"} + c.arguments + QStringList{url});
        EXPECT_EQ(r.out.toStdString(), c.code) << c.arguments.join(' ').left(80).toStdString();
    }
}

TEST(RDHttpConnection, StopEndsEveryClientThread)
{
    TestHttpLoopServer server(echo);
    TestHttpClient a(server.port());
    TestHttpClient b(server.port());
    a.send("GET / HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_FALSE(a.readResponse().empty());
    b.send("GET / HTTP/1.1\r\nConnection: keep-al");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto t0 = Clock::now();
    server.stop();
    EXPECT_LT(TestSupport::msSince(t0), 500);
    EXPECT_EQ(server.ended, 2);
    EXPECT_TRUE(a.readUntilClosed(nullptr, 1000));
    EXPECT_TRUE(b.readUntilClosed(nullptr, 1000));
}
