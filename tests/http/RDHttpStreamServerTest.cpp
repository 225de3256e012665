#include "RDDigest.h"
#include "RDHttpBaseRequest.h"
#include "RDHttpConnection.h"
#include "RDHttpStreamServer.h"
#include "RDHttpStreamServerObserver.h"
#include "RDHttpTextResponse.h"
#include "RDLog.h"
#include "RDSocketAddress.h"
#include "RDTcpSocketServer.h"
#include "TestAudio.h"
#include "TestNetns.h"
#include "TestStreamListener.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string pattern(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

int openDescriptors()
{
    return static_cast<int>(QDir("/proc/self/fd").entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size());
}

int threadCount()
{
    return static_cast<int>(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// The task id of the thread of this process with that name, or empty.
std::string threadNamed(const std::string& name)
{
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm("/proc/self/task/" + task + "/comm");
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed().toStdString() == name)
            return task.toStdString();
    }
    return std::string();
}

// User and system time of a thread, in clock ticks, from its stat file opened as statFd (read
// anew each time, so that it needs no descriptor of its own then).
long long threadCpuTicks(int statFd)
{
    char buffer[1024];
    const ssize_t n = ::pread(statFd, buffer, sizeof(buffer) - 1, 0);
    if (n <= 0)
        return -1;
    const std::string text(buffer, static_cast<size_t>(n));
    // The fields after the name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = QByteArray::fromStdString(text.substr(text.rfind(')') + 2)).split(' ');
    return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : -1;
}

class RecordingObserver : public RDHttpStreamServerObserver
{
public:
    void onListening(RDHttpStreamServer*, const RDSocketAddress& address) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        listening = true;
        this->address = address;
        changed.notify_all();
    }
    void onListenFailed(RDHttpStreamServer*, const RDSocketAddress& address) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        failed = true;
        this->address = address;
        changed.notify_all();
    }
    void onRequest(RDHttpStreamServer* server, RDHttpConnection* connection, RDHttpBaseRequest* request) override
    {
        ++requests;
        if (handler)
            handler(server, connection, request);
        else
            server->autoHandlerRequest(connection, request);
    }
    // True when either outcome came in time.
    bool waitOutcome(int timeoutMs = 5000)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return listening || failed; });
    }
    void reset()
    {
        std::lock_guard<std::mutex> lock(mutex);
        listening = failed = false;
        address = RDSocketAddress();
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool listening = false;
    bool failed = false;
    RDSocketAddress address;
    std::atomic<int> requests{0};
    std::function<void(RDHttpStreamServer*, RDHttpConnection*, RDHttpBaseRequest*)> handler;
};

RDHttpAudioStream makeStream(const std::string& path, int bufferSize = 8192)
{
    RDHttpAudioStream stream;
    stream.path = path;
    stream.name = path.substr(path.rfind('/') + 1);
    stream.contentType = "audio/mp3";
    stream.bitrate = 128000;
    stream.sampleRate = 44100;
    stream.bufferSize = bufferSize;
    return stream;
}

const std::string kNotFound = "HTTP/1.1 404 Not Found\r\n"
                              "Access-Control-Allow-Headers: Content-Type,X-Requested-With\r\n"
                              "Access-Control-Allow-Origin: *\r\n"
                              "Content-Length: 17\r\n"
                              "Content-Type: text;charset=UTF-8\r\n"
                              "\r\n"
                              "Stream Not Exists";
const std::string kEmpty404 = "HTTP/1.1 404 Not Found\r\n"
                              "Access-Control-Allow-Headers: Content-Type,X-Requested-With\r\n"
                              "Access-Control-Allow-Origin: *\r\n"
                              "Content-Length: 0\r\n"
                              "Content-Type: text;charset=UTF-8\r\n"
                              "\r\n";
const std::string kTooManyListeners = "HTTP/1.1 503 Service Unavailable\r\n"
                                      "Access-Control-Allow-Headers: Content-Type,X-Requested-With\r\n"
                                      "Access-Control-Allow-Origin: *\r\n"
                                      "Content-Length: 18\r\n"
                                      "Content-Type: text;charset=UTF-8\r\n"
                                      "\r\n"
                                      "Too Many Listeners";
const std::string kPlainHead = "HTTP/1.1 200 OK\r\n"
                               "Accept-Ranges: none\r\n"
                               "Access-Control-Allow-Headers: Content-Type,X-Requested-With\r\n"
                               "Access-Control-Allow-Origin: *\r\n"
                               "Connection: close\r\n"
                               "Content-Type: audio/mp3\r\n"
                               "\r\n";
const std::string kIcyHead = "HTTP/1.1 200 OK\r\n"
                             "Accept-Ranges: none\r\n"
                             "Access-Control-Allow-Headers: Content-Type,X-Requested-With\r\n"
                             "Access-Control-Allow-Origin: *\r\n"
                             "Content-Type: audio/mp3\r\n"
                             "icy-br: 128000\r\n"
                             "icy-metaint: 8192\r\n"
                             "icy-name: 7\r\n"
                             "icy-pub: 1\r\n"
                             "icy-sr: 44100\r\n"
                             "\r\n";

// Writes data to a stream in chunks at a steady pace on a thread of its own.
class Feeder
{
public:
    // mayWrite, when given, holds each write back until it returns true for the bytes written
    // so far (the pace is then the slower of the two).
    Feeder(RDHttpStreamServer* server, const RDHttpAudioStream& stream, std::string data, int chunk, int periodUs,
           bool loop = true, std::function<bool(size_t)> mayWrite = nullptr)
        : m_server(server), m_stream(stream), m_data(std::move(data)), m_chunk(chunk), m_periodUs(periodUs),
          m_loop(loop), m_mayWrite(std::move(mayWrite))
    {
        m_thread = std::thread([this] { run(); });
    }
    ~Feeder() { stop(); }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    bool finished() const { return m_done; }
    size_t written() const { return m_written; }

private:
    void run()
    {
        auto next = Clock::now();
        size_t at = 0;
        while (!m_stop) {
            if (at >= m_data.size()) {
                if (!m_loop)
                    break;
                at = 0;
            }
            if (m_mayWrite && !m_mayWrite(m_written)) {
                while (!m_stop && !m_mayWrite(m_written))
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                next = Clock::now();
                continue;
            }
            const int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(m_chunk), m_data.size() - at));
            m_server->writeStream(m_stream, m_data.data() + at, n);
            at += static_cast<size_t>(n);
            m_written += static_cast<size_t>(n);
            next += std::chrono::microseconds(m_periodUs);
            std::this_thread::sleep_until(next);
        }
        m_done = true;
    }

    RDHttpStreamServer* m_server;
    RDHttpAudioStream m_stream;
    std::string m_data;
    int m_chunk;
    int m_periodUs;
    bool m_loop;
    std::function<bool(size_t)> m_mayWrite;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::atomic<size_t> m_written{0};
    std::thread m_thread;
};

// The lengths of the MPEG-1 layer III frames that make up data; false when it is not such a
// sequence from its first byte to its last.
bool splitMp3Frames(const std::string& data, std::vector<int>* lengths)
{
    static const int kBitrates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int kRates[4] = {44100, 48000, 32000, 0};
    size_t at = 0;
    while (at + 4 <= data.size()) {
        const auto* h = reinterpret_cast<const unsigned char*>(data.data() + at);
        if (h[0] != 0xFF || (h[1] & 0xFE) != 0xFA)
            return false;
        const int bitrate = kBitrates[h[2] >> 4] * 1000;
        const int rate = kRates[(h[2] >> 2) & 3];
        if (!bitrate || !rate)
            return false;
        const int length = 144 * bitrate / rate + ((h[2] >> 1) & 1);
        lengths->push_back(length);
        at += static_cast<size_t>(length);
    }
    return at == data.size() && !lengths->empty();
}

// Writes whole frames, one per period, looping over the data.
class FrameFeeder
{
public:
    FrameFeeder(RDHttpStreamServer* server, const RDHttpAudioStream& stream, const std::string& data,
                const std::vector<int>& frames, int periodUs)
    {
        m_thread = std::thread([=] {
            auto next = Clock::now();
            size_t at = 0, frame = 0;
            while (!m_stop) {
                if (frame == frames.size())
                    at = frame = 0;
                server->writeStream(stream, data.data() + at, frames[frame]);
                at += static_cast<size_t>(frames[frame++]);
                next += std::chrono::microseconds(periodUs);
                std::this_thread::sleep_until(next);
            }
        });
    }
    ~FrameFeeder()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class RDHttpStreamServerTest : public ::testing::Test
{
protected:
    void TearDown() override { server.stop(); }

    // Starts on 127.0.0.1 and a free port unless the configuration names them; the port.
    int start(RDHttpServerConfigure configure = RDHttpServerConfigure())
    {
        if (configure.host.empty())
            configure.host = "127.0.0.1";
        if (configure.port == 0)
            configure.port = TestSupport::freeTcpPort();
        observer.reset();
        server.setConfigure(configure);
        server.setObserver(&observer);
        EXPECT_EQ(server.start(), 0);
        EXPECT_TRUE(observer.waitOutcome());
        EXPECT_TRUE(observer.listening);
        return configure.port;
    }
    // A listener that has received the head of the stream at path.
    std::unique_ptr<TestStreamListener> listen(int port, const std::string& path, bool icy = false,
                                               int receiveBuffer = 0)
    {
        auto listener = std::make_unique<TestStreamListener>(port, receiveBuffer);
        EXPECT_TRUE(listener->get(path, icy ? "Icy-MetaData: 1\r\n" : ""));
        std::string icyHead = kIcyHead;
        icyHead.replace(icyHead.find("icy-name: 7"), 11, "icy-name: " + path.substr(path.rfind('/') + 1));
        const std::string head = listener->readHead();
        EXPECT_EQ(head, icy ? icyHead : kPlainHead);
        return listener;
    }

    // A listener that never reads, with its client thread stuck in a send: no cap and no
    // write time-out would end it.
    std::unique_ptr<TestStreamListener> blockedListener(const RDHttpAudioStream& stream)
    {
        RDHttpServerConfigure configure;
        configure.streamQueueLimit = 64 * 1024 * 1024;
        configure.streamWriteTimeoutMs = 60000;
        const int port = start(configure);
        EXPECT_TRUE(server.addStream(stream));
        auto stalled = listen(port, stream.path, false, 4096);
        const std::string data = pattern(8 * 1024 * 1024, 12);
        for (size_t at = 0; at < data.size(); at += 65536)
            server.writeStream(stream, data.data() + at, 65536);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return stalled;
    }

    RDHttpStreamServer server;
    RecordingObserver observer;
};

TEST_F(RDHttpStreamServerTest, ListenAddressDefaultsAndFailures)
{
    // Port 0 means 8088 and an empty host means every address. Checked in a network namespace
    // of the test's own, where 8088 is free whatever else runs on the machine.
    {
        std::unique_ptr<TestNetns> ns;
        std::unique_ptr<TestNetns::Enter> inside;
        // The machine's own port 8088 stands in only where peers may be missing: with peers
        // required, a machine without namespaces must fail here rather than pass on luck.
        if (TestSupport::peersRequired())
            SONARIS_REQUIRE_PEER(TestNetns::available(), "network namespaces (root and the ip command)");
        if (TestNetns::available()) {
            ns = std::make_unique<TestNetns>(QStringLiteral("http8088"));
            ASSERT_TRUE(ns->isValid());
            inside = std::make_unique<TestNetns::Enter>(*ns);
            ASSERT_TRUE(inside->ok());
        }
        RDTcpSocketServer probe;
        SONARIS_REQUIRE_PEER(probe.open(RDSocketAddress("0.0.0.0", 8088)) >= 0,
                             "port 8088 free, or network namespaces (root and the ip command)");
        probe.close();
        observer.reset();
        server.setObserver(&observer);
        server.setConfigure(RDHttpServerConfigure());
        ASSERT_EQ(server.start(), 0);
        ASSERT_TRUE(observer.waitOutcome());
        EXPECT_TRUE(observer.listening);
        EXPECT_EQ(observer.address.host(), "0.0.0.0");
        EXPECT_EQ(observer.address.port(), 8088);
        server.stop();
    }
    // A port above 65535 is never cut down to another port; a port in use fails too; the
    // accept thread then ends, a second start is refused until stop, and stop returns at once.
    RDTcpSocketServer busy;
    ASSERT_GE(busy.open(RDSocketAddress("127.0.0.1", 0)), 0);
    for (int port : {70000, 65536 + 8088, busy.address().port()}) {
        SCOPED_TRACE(port);
        RDHttpServerConfigure configure;
        configure.host = "127.0.0.1";
        configure.port = port;
        observer.reset();
        server.setConfigure(configure);
        ASSERT_EQ(server.start(), 0);
        ASSERT_TRUE(observer.waitOutcome());
        EXPECT_TRUE(observer.failed);
        EXPECT_FALSE(observer.listening);
        EXPECT_EQ(server.start(), -1);
        EXPECT_TRUE(server.isStarted());
        const auto t0 = Clock::now();
        server.stop();
        EXPECT_LT(TestSupport::msSince(t0), 1000);
        EXPECT_FALSE(server.isStarted());
    }
    // A restart is stop, configure, start on the same object.
    const int port = start();
    TestStreamListener client(port);
    ASSERT_TRUE(client.get("/nothing"));
    std::string answer;
    EXPECT_TRUE(client.readUntilClosed(&answer));
    EXPECT_EQ(answer, kEmpty404);
}

TEST_F(RDHttpStreamServerTest, NotFoundAnswersAreExact)
{
    const int port = start();
    ASSERT_TRUE(server.addStream(makeStream("/stream/7")));
    struct Case
    {
        std::string target;
        std::string answer;
    } cases[] = {
        {"/stream/8", kNotFound},
        {"/streamX", kNotFound},
        {"/stream/7/x", kNotFound},
        {"/stream", kNotFound},
        {"/index.html", kEmpty404},
        {"/api?action=start&id=7", kEmpty404},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        TestStreamListener client(port);
        ASSERT_TRUE(client.get(c.target));
        std::string answer;
        EXPECT_TRUE(client.readUntilClosed(&answer));
        EXPECT_EQ(answer, c.answer);
    }
    SONARIS_REQUIRE_COMMANDS("curl");
    auto r = TestSupport::run("curl", {"-s", "-D-", QString("http://127.0.0.1:%1/stream/8").arg(port)});
    EXPECT_EQ(r.out.toStdString(), kNotFound);
}

TEST_F(RDHttpStreamServerTest, StreamsWithoutPathOrBufferAreRefused)
{
    EXPECT_FALSE(server.addStream(makeStream("/stream/1", 0)));
    EXPECT_FALSE(server.addStream(makeStream("/stream/1", -5)));
    EXPECT_FALSE(server.addStream(makeStream("", 8192)));
    EXPECT_FALSE(server.hasStream("/stream/1"));
    EXPECT_TRUE(server.addStream(makeStream("/stream/1")));
    EXPECT_TRUE(server.hasStream("/stream/1"));
}

TEST_F(RDHttpStreamServerTest, PlainStreamSendsWholePiecesOfWhatCameAfterAttaching)
{
    const int port = start();
    const RDHttpAudioStream stream = makeStream("/stream/7");
    ASSERT_TRUE(server.addStream(stream));
    const std::string early = pattern(3000, 1);
    server.writeStream(stream, early.data(), static_cast<int>(early.size()));

    auto listener = listen(port, "/stream/7");
    const std::string data = pattern(10 * 1024 + 260, 2);
    for (size_t at = 0; at < data.size(); at += 417)
        server.writeStream(stream, data.data() + at, static_cast<int>(std::min<size_t>(417, data.size() - at)));
    std::string received;
    ASSERT_TRUE(listener->read(&received, 10 * 1024));
    EXPECT_TRUE(received == data.substr(0, 10 * 1024)) << "bytes differ or came from before attaching";
    // The remainder below a whole piece waits for more.
    EXPECT_FALSE(listener->hasData(200));
    const std::string more = pattern(1024 - 260, 3);
    server.writeStream(stream, more.data(), static_cast<int>(more.size()));
    received.clear();
    ASSERT_TRUE(listener->read(&received, 1024));
    EXPECT_TRUE(received == data.substr(10 * 1024) + more);
}

TEST_F(RDHttpStreamServerTest, IcyStreamPutsAnEmptyMetadataBlockAfterEveryInterval)
{
    const int port = start();
    const RDHttpAudioStream stream = makeStream("/stream/7");
    ASSERT_TRUE(server.addStream(stream));
    auto listener = listen(port, "/stream/7", true);
    const int periods = 11;
    const std::string data = pattern(periods * 8192 + 100, 4);
    for (size_t at = 0; at < data.size(); at += 1000)
        server.writeStream(stream, data.data() + at, static_cast<int>(std::min<size_t>(1000, data.size() - at)));
    std::string received;
    ASSERT_TRUE(listener->read(&received, periods * 8193));
    for (int i = 0; i < periods; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(received.compare(static_cast<size_t>(i) * 8193, 8192, data, static_cast<size_t>(i) * 8192, 8192) ==
                    0);
        EXPECT_EQ(received[static_cast<size_t>(i) * 8193 + 8192], '\0');
    }
    EXPECT_FALSE(listener->hasData(200));
}

TEST_F(RDHttpStreamServerTest, IcyFormOnlyForTheValueOne)
{
    const int port = start();
    ASSERT_TRUE(server.addStream(makeStream("/stream/7")));
    struct Case
    {
        std::string header;
        bool icy;
    } cases[] = {
        {"Icy-MetaData: 1\r\n", true},
        // Header names are not case-sensitive in HTTP; proxies send them in lower case.
        {"icy-metadata: 1\r\n", true},
        {"Icy-MetaData: 0\r\n", false},
        {"Icy-MetaData: true\r\n", false},
        {"Icy-MetaData: 11\r\n", false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        TestStreamListener listener(port);
        ASSERT_TRUE(listener.get("/stream/7", c.header));
        EXPECT_EQ(listener.readHead(), c.icy ? kIcyHead : kPlainHead);
    }
}

TEST_F(RDHttpStreamServerTest, TheQueryDoesNotTakePartInTheStreamLookup)
{
    const int port = start();
    const RDHttpAudioStream stream = makeStream("/stream/5");
    ASSERT_TRUE(server.addStream(stream));
    auto listener = listen(port, "/stream/5?t=123&x=%26");
    const std::string data = pattern(2048, 5);
    server.writeStream(stream, data.data(), static_cast<int>(data.size()));
    std::string received;
    ASSERT_TRUE(listener->read(&received, 2048));
    EXPECT_TRUE(received == data);
    // An encoded path is decoded once before the look-up.
    auto encoded = listen(port, "/stream/%35");
    EXPECT_TRUE(encoded->isOpen());
}

TEST_F(RDHttpStreamServerTest, SdkPathsAreSilentAndKeepAliveIsExact)
{
    RDHttpServerConfigure configure;
    configure.idleTimeoutMs = 400;
    const int port = start(configure);
    {
        // Nothing is answered; keep-alive keeps the connection for the next request.
        TestStreamListener client(port);
        ASSERT_TRUE(client.get("/sdk/anything", "Connection: keep-alive\r\n"));
        EXPECT_FALSE(client.hasData(150));
        ASSERT_TRUE(client.get("/other", "Connection: keep-alive\r\n"));
        EXPECT_EQ(client.readHead(), kEmpty404);
        // The idle time-out ends it.
        const auto t0 = Clock::now();
        std::string rest;
        EXPECT_TRUE(client.readUntilClosed(&rest, 5000));
        EXPECT_TRUE(rest.empty());
        EXPECT_LT(TestSupport::msSince(t0), 5 * 400);
    }
    struct Case
    {
        std::string target;
        std::string connection;
        std::string answer;
    } cases[] = {
        {"/sdk/x", "", ""},
        {"/other", "", kEmpty404},
        {"/other", "Connection: Keep-Alive\r\n", kEmpty404},
        {"/other", "Connection: close\r\n", kEmpty404},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target + " " + c.connection);
        TestStreamListener client(port);
        ASSERT_TRUE(client.get(c.target, c.connection));
        std::string answer;
        const auto t0 = Clock::now();
        EXPECT_TRUE(client.readUntilClosed(&answer, 3000));
        EXPECT_LT(TestSupport::msSince(t0), 350) << "closed by the idle time-out instead of after the request";
        EXPECT_EQ(answer, c.answer);
    }
}

TEST_F(RDHttpStreamServerTest, ObserverAnswersAndMayRemoveAStreamFromItsRequest)
{
    const int port = start();
    const RDHttpAudioStream stream = makeStream("/stream/3");
    ASSERT_TRUE(server.addStream(stream));
    auto listener = listen(port, "/stream/3");
    Feeder feeder(&server, stream, pattern(64 * 1024, 6), 1024, 2000);

    // A request handler that stops a channel (so removes its stream) while listeners play it.
    observer.handler = [&](RDHttpStreamServer* s, RDHttpConnection* connection, RDHttpBaseRequest* request) {
        const auto query = parseUrlQuery(request->target());
        if (query.count("action") && query.at("action") == "stop")
            s->removeStream(stream);
        RDHttpTextResponse response;
        response.setJson("{\"result\":0,\"id\":\"" + (query.count("id") ? query.at("id") : std::string()) + "\"}");
        connection->sendResponse(&response);
    };
    TestStreamListener api(port);
    ASSERT_TRUE(api.get("/api?action=stop&id=3"));
    const std::string head = api.readHead(3000);
    EXPECT_NE(head.find("200 OK"), std::string::npos);
    const std::string expected = "{\"result\":0,\"id\":\"3\"}";
    EXPECT_NE(head.find("Content-Length: " + std::to_string(expected.size()) + "\r\n"), std::string::npos) << head;
    std::string body;
    EXPECT_TRUE(api.read(&body, expected.size(), 3000));
    EXPECT_EQ(body, expected);
    EXPECT_TRUE(listener->readUntilClosed(nullptr, 3000));
    EXPECT_FALSE(server.hasStream("/stream/3"));
    EXPECT_EQ(observer.requests.load(), 1);
}

TEST_F(RDHttpStreamServerTest, BasicAuthenticationTableAndNoCredentialsInTheLog)
{
    QTemporaryDir logDir;
    ASSERT_TRUE(logDir.isValid());
    RDLog::instance()->init(logDir.path().toStdString(), 0);

    const std::string secretUser = "opérateur";
    const std::string secretPassword = "s3cr3t-pa55";
    struct Case
    {
        std::string user;
        std::string password;
        std::string authorization; // whole header line, or empty for none
        bool pass;
    } cases[] = {
        {"", "", "", true},
        {"", "", "Authorization: Basic garbage\r\n", true},
        {secretUser, secretPassword, "Authorization: Basic " + base64Encode(secretUser + ":" + secretPassword) + "\r\n",
         true},
        // The scheme word is not examined; the second word is.
        {secretUser, secretPassword, "Authorization: Other " + base64Encode(secretUser + ":" + secretPassword) + "\r\n",
         true},
        {secretUser, secretPassword, "Authorization: Basic " + base64Encode(secretUser + ":wrong") + "\r\n", false},
        {secretUser, secretPassword, "", false},
        {secretUser, secretPassword, "Authorization: Basic\r\n", false},
        {secretUser, secretPassword,
         "Authorization: Basic  " + base64Encode(secretUser + ":" + secretPassword) + "\r\n", false},
        {"user", "", "Authorization: Basic " + base64Encode("user:") + "\r\n", true},
        {"user", "", "Authorization: Basic " + base64Encode("user") + "\r\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user + "/" + c.password + " " + c.authorization);
        server.stop();
        RDHttpServerConfigure configure;
        configure.userName = c.user;
        configure.password = c.password;
        const int port = start(configure);
        TestStreamListener client(port);
        ASSERT_TRUE(client.get("/api?action=start&id=1", c.authorization));
        std::string answer;
        EXPECT_TRUE(client.readUntilClosed(&answer));
        if (c.pass) {
            EXPECT_EQ(answer, kEmpty404);
        } else {
            EXPECT_EQ(answer.rfind("HTTP/1.1 401 Unauthorized\r\n", 0), 0u) << answer;
            EXPECT_NE(answer.find("\r\nWWW-Authenticate: Basic"), std::string::npos) << answer;
        }
    }
    const std::string path = RDLog::instance()->currentPath();
    RDLog::instance()->close();
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray log = file.readAll();
    EXPECT_TRUE(log.contains("auth ok"));
    EXPECT_TRUE(log.contains("auth failed"));
    EXPECT_FALSE(log.contains(QByteArray::fromStdString(base64Encode(secretUser + ":" + secretPassword))));
    EXPECT_FALSE(log.contains(QByteArray::fromStdString(secretPassword)));
    EXPECT_FALSE(log.contains(QByteArray::fromStdString(base64Encode("user:"))));
}

TEST_F(RDHttpStreamServerTest, RemovingAStreamEndsOnlyItsListenersAtOnce)
{
    const int port = start();
    const RDHttpAudioStream seven = makeStream("/stream/7");
    const RDHttpAudioStream nine = makeStream("/stream/9");
    ASSERT_TRUE(server.addStream(seven));
    ASSERT_TRUE(server.addStream(nine));
    std::vector<std::unique_ptr<TestStreamListener>> sevens, nines;
    for (int i = 0; i < 3; ++i)
        sevens.push_back(listen(port, "/stream/7", i == 0));
    for (int i = 0; i < 2; ++i)
        nines.push_back(listen(port, "/stream/9", i == 0));
    Feeder feed7(&server, seven, pattern(64 * 1024, 7), 1024, 2000);
    Feeder feed9(&server, nine, pattern(64 * 1024, 9), 1024, 2000);
    std::string sink;
    for (auto& l : sevens)
        ASSERT_TRUE(l->read(&sink, 1024));

    const auto t0 = Clock::now();
    server.removeStream(seven);
    for (auto& l : sevens)
        EXPECT_TRUE(l->readUntilClosed(nullptr, 2000));
    // Far below the write time-out that would otherwise end them, with room for a loaded machine.
    EXPECT_LT(TestSupport::msSince(t0), 500) << "the listeners of the removed stream were not closed at once";
    for (auto& l : nines) {
        std::string got;
        EXPECT_TRUE(l->read(&got, 20000, 3000)) << "a listener of another stream stopped";
    }
}

TEST_F(RDHttpStreamServerTest, ListenerAttachingWhileItsStreamIsRemovedNeverHangs)
{
    const int port = start();
    std::mt19937 random(42);
    int served = 0, refused = 0;
    for (int i = 0; i < 40; ++i) {
        const RDHttpAudioStream stream = makeStream("/stream/" + std::to_string(i % 3));
        ASSERT_TRUE(server.addStream(stream));
        TestStreamListener listener(port);
        ASSERT_TRUE(listener.get(stream.path));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
        server.removeStream(stream);
        std::string answer;
        ASSERT_TRUE(listener.readUntilClosed(&answer, 3000)) << "a listener was left attached to a removed stream";
        if (answer == kNotFound)
            ++refused;
        else if (answer == kPlainHead)
            ++served;
        else
            ADD_FAILURE() << "client " << listener.localPort() << " got \"" << answer << "\"";
    }
    RecordProperty("served", served);
    RecordProperty("refused", refused);
}

// The application's limit: twenty listeners. A twenty-first is refused at once, and requests
// other than streams are answered all the while.
TEST_F(RDHttpStreamServerTest, ListenerBeyondTheLimitGets503AtOnceWhileRequestsAreAnswered)
{
    RDHttpServerConfigure configure;
    configure.maxClients = 20;
    const int port = start(configure);
    const RDHttpAudioStream stream = makeStream("/stream/7");
    ASSERT_TRUE(server.addStream(stream));
    std::vector<std::unique_ptr<TestStreamListener>> listeners;
    for (int i = 0; i < 20; ++i)
        listeners.push_back(listen(port, "/stream/7"));
    EXPECT_EQ(server.listenerCount(), 20);
    // 128 kbit/s in 20 ms writes, as a channel produces it.
    Feeder feeder(&server, stream, pattern(320 * 500, 10), 320, 20000);

    TestStreamListener refused(port);
    const auto t0 = Clock::now();
    ASSERT_TRUE(refused.get("/stream/7"));
    std::string answer;
    EXPECT_TRUE(refused.readUntilClosed(&answer, 5000));
    RecordProperty("refused_ms", static_cast<int>(TestSupport::msSince(t0)));
    EXPECT_EQ(answer, kTooManyListeners);

    TestStreamListener request(port);
    const auto t1 = Clock::now();
    ASSERT_TRUE(request.get("/api?action=start&id=3"));
    answer.clear();
    EXPECT_TRUE(request.readUntilClosed(&answer, 5000));
    RecordProperty("request_ms", static_cast<int>(TestSupport::msSince(t1)));
    EXPECT_EQ(answer, kEmpty404);
    EXPECT_EQ(observer.requests.load(), 1);

    for (auto& l : listeners) {
        std::string got;
        EXPECT_TRUE(l->read(&got, 4096, 5000)) << "a listener stalled";
    }
    // A slot freed is taken by the next listener.
    listeners.front()->close();
    EXPECT_TRUE(TestSupport::waitUntil([&] { return server.listenerCount() == 19; }, 5000));
    auto next = listen(port, "/stream/7");
    std::string got;
    EXPECT_TRUE(next->read(&got, 4096, 5000));
    EXPECT_EQ(server.listenerCount(), 20);
}

// Peers that open connections and send their heads a little at a time (or nothing) take no
// listener slot and no thread, and cannot keep anyone out: past the bound on unfinished heads
// the connection that has waited longest for its head makes way.
TEST_F(RDHttpStreamServerTest, SlowHeadsHoldNoListenerSlotNorThreadAndMakeWay)
{
    RDHttpServerConfigure configure;
    configure.maxClients = 2;
    configure.maxPendingConnections = 8;
    // Long enough that only making way ends a slow head within the test.
    configure.headTimeoutMs = 120000;
    configure.idleTimeoutMs = 120000;
    const int port = start(configure);
    const RDHttpAudioStream stream = makeStream("/stream/7");
    ASSERT_TRUE(server.addStream(stream));
    const int threadsBefore = threadCount();

    constexpr int kSlow = 40;
    std::vector<std::unique_ptr<TestStreamListener>> slow;
    const auto connectSlow = [&] {
        slow.push_back(std::make_unique<TestStreamListener>(port));
        // Half of them send part of a head, the others nothing at all.
        if (slow.size() % 2 == 0)
            return slow.back()->send("GET /api?action=start&id=3 HTTP/1.1\r\nX-Slow: ");
        return slow.back()->isOpen();
    };
    std::vector<bool> closed;
    // Ended without a byte.
    const auto countClosed = [&] {
        int n = 0;
        closed.resize(slow.size(), false);
        for (size_t i = 0; i < slow.size(); ++i) {
            std::string bytes;
            if (!closed[i] && slow[i]->readUntilClosed(&bytes, 5)) {
                EXPECT_EQ(bytes, "") << "slow client " << i;
                closed[i] = true;
            }
            n += closed[i] ? 1 : 0;
        }
        return n;
    };
    for (int i = 0; i < kSlow; ++i)
        ASSERT_TRUE(connectSlow());
    EXPECT_TRUE(TestSupport::waitUntil([&] { return countClosed() == kSlow - 8; }, 20000)) << countClosed();
    EXPECT_LE(threadCount(), threadsBefore + 2) << "threads for connections without a whole head";

    // One more: the oldest of the eight left makes way for it.
    const size_t oldest = static_cast<size_t>(std::find(closed.begin(), closed.end(), false) - closed.begin());
    ASSERT_TRUE(connectSlow());
    EXPECT_TRUE(TestSupport::waitUntil([&] { return countClosed() == kSlow - 8 + 1; }, 5000)) << countClosed();
    EXPECT_TRUE(closed[oldest]);
    EXPECT_FALSE(closed.back());

    // Listeners and requests still get through, taking the places of the oldest slow ones.
    auto first = listen(port, "/stream/7");
    auto second = listen(port, "/stream/7");
    EXPECT_EQ(server.listenerCount(), 2);
    TestStreamListener refused(port);
    ASSERT_TRUE(refused.get("/stream/7"));
    std::string answer;
    EXPECT_TRUE(refused.readUntilClosed(&answer, 5000));
    EXPECT_EQ(answer, kTooManyListeners);
    TestStreamListener request(port);
    const auto t0 = Clock::now();
    ASSERT_TRUE(request.get("/api?action=start&id=3"));
    answer.clear();
    EXPECT_TRUE(request.readUntilClosed(&answer, 5000));
    RecordProperty("request_ms", static_cast<int>(TestSupport::msSince(t0)));
    EXPECT_EQ(answer, kEmpty404);
    Feeder feeder(&server, stream, pattern(64 * 1024, 3), 1024, 2000);
    std::string got;
    EXPECT_TRUE(first->read(&got, 4096, 5000));
    EXPECT_TRUE(second->read(&got, 4096, 5000));
}

// A head must be whole within its own limit, counted from its first byte, however the bytes
// trickle in; a body may take longer (up to the request limit).
TEST_F(RDHttpStreamServerTest, HeadMustBeWholeWithinItsTimeButABodyMayTakeLonger)
{
    RDHttpServerConfigure configure;
    configure.headTimeoutMs = 300;
    const int port = start(configure);

    // A first head, and a later one on a kept connection (read by the connection's own thread).
    for (const bool kept : {false, true}) {
        SCOPED_TRACE(kept ? "kept connection" : "new connection");
        TestStreamListener slowHead(port);
        if (kept) {
            ASSERT_TRUE(slowHead.get("/api?action=start&id=3", "Connection: keep-alive\r\n"));
            EXPECT_EQ(slowHead.readHead(5000), kEmpty404);
        }
        std::atomic<bool> stopTrickle{false};
        const auto t0 = Clock::now();
        std::thread trickle([&] {
            const std::string head = "GET /api?action=start&id=3 HTTP/1.1\r\nX-Slow: " + std::string(1000, 'a');
            for (char c : head) {
                if (stopTrickle || !slowHead.send(std::string(1, c)))
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        std::string answer;
        EXPECT_TRUE(slowHead.readUntilClosed(&answer, 10000));
        const double ms = TestSupport::msSince(t0);
        stopTrickle = true;
        trickle.join();
        EXPECT_EQ(answer.substr(0, answer.find("\r\n")), "HTTP/1.1 408 Request Timeout");
        EXPECT_GE(ms, 250);
        EXPECT_LT(ms, 5 * 300 + 1000);
    }

    TestStreamListener slowBody(port);
    ASSERT_TRUE(slowBody.send("POST /api HTTP/1.1\r\nContent-Length: 10\r\n\r\n"));
    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        ASSERT_TRUE(slowBody.send("b"));
    }
    std::string answer;
    EXPECT_TRUE(slowBody.readUntilClosed(&answer, 5000));
    EXPECT_EQ(answer, kEmpty404);
    EXPECT_EQ(observer.requests.load(), 2);
}

// Lines ended by a bare LF (RFC 9112 2.2) are read like CR LF ones, at once.
TEST_F(RDHttpStreamServerTest, BareLineFeedRequestsAreServedAtOnce)
{
    const int port = start();
    ASSERT_TRUE(server.addStream(makeStream("/stream/7")));
    struct Case
    {
        std::string sent;
        std::string answer;
    } cases[] = {
        {"GET /api?action=start&id=3 HTTP/1.1\nHost: x\n\n", kEmpty404},
        {"GET /api HTTP/1.1\nConnection: keep-alive\n\nGET /api HTTP/1.1\n\n", kEmpty404 + kEmpty404},
        {"GET /missing/1 HTTP/1.1\r\nHost: x\n\r\n", kEmpty404},
        {"GET /stream/8 HTTP/1.1\n\n", kNotFound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent);
        TestStreamListener client(port);
        const auto t0 = Clock::now();
        ASSERT_TRUE(client.send(c.sent));
        std::string answer;
        EXPECT_TRUE(client.readUntilClosed(&answer, 5000));
        EXPECT_LT(TestSupport::msSince(t0), 5000);
        EXPECT_EQ(answer, c.answer);
    }
    TestStreamListener listener(port);
    ASSERT_TRUE(listener.send("GET /stream/7 HTTP/1.1\nIcy-MetaData: 1\n\n"));
    EXPECT_EQ(listener.readHead(5000), kIcyHead);
}

// Out of descriptors, a queued connection cannot be taken and the listening socket stays
// readable: accepting pauses instead of trying again at once, and goes on once there are
// descriptors again.
TEST_F(RDHttpStreamServerTest, RunningOutOfDescriptorsPausesAcceptingInsteadOfSpinning)
{
    const int port = start();
    const std::string acceptThread = threadNamed("RDHttpServer");
    ASSERT_FALSE(acceptThread.empty());
    const int statFd = ::open(("/proc/self/task/" + acceptThread + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(statFd, 0);
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit saved = limit;
    limit.rlim_cur = static_cast<rlim_t>(openDescriptors() + 16);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    std::vector<int> filler{::open("/dev/null", O_RDONLY | O_CLOEXEC)};
    for (int fd; filler.front() >= 0 && (fd = ::fcntl(filler.front(), F_DUPFD_CLOEXEC, 0)) >= 0;)
        filler.push_back(fd);
    // The client takes the last descriptor; the server has none left to accept it with.
    if (filler.back() >= 0)
        ::close(filler.back());
    filler.pop_back();
    auto client = std::make_unique<TestStreamListener>(port);
    const bool connected = client->isOpen() && client->get("/api?action=start&id=3");
    const long long before = threadCpuTicks(statFd);
    const bool answered = client->hasData(1000);
    const long long spent = threadCpuTicks(statFd) - before;
    const bool filled = !filler.empty() && filler.front() >= 0;
    for (int fd : filler)
        ::close(fd);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    ::close(statFd);
    ASSERT_TRUE(filled);
    ASSERT_TRUE(connected);
    ASSERT_GE(before, 0);
    EXPECT_FALSE(answered);
    // A thread that tried again at once would use most of that second (100 ticks).
    EXPECT_LT(spent, 30) << "clock ticks of the accept thread while it could not accept";
    std::string answer;
    EXPECT_TRUE(client->readUntilClosed(&answer, 5000));
    EXPECT_EQ(answer, kEmpty404);
}

TEST_F(RDHttpStreamServerTest, StalledListenerIsEndedAtItsCapWhileOthersGetEveryByte)
{
    const int port = start();
    const RDHttpAudioStream stream = makeStream("/stream/7");
    ASSERT_TRUE(server.addStream(stream));
    auto stalled = listen(port, "/stream/7", false, 4096);
    std::vector<std::unique_ptr<TestStreamListener>> readers;
    for (int i = 0; i < 3; ++i)
        readers.push_back(listen(port, "/stream/7", i == 1));

    const size_t total = 3 * 1024 * 1024;
    const std::string data = pattern(total, 11);
    std::vector<std::string> received(readers.size());
    // Stream bytes each reader has taken; all of them once it has ended.
    std::array<std::atomic<size_t>, 3> taken{};
    std::vector<std::thread> threads;
    for (size_t i = 0; i < readers.size(); ++i) {
        threads.emplace_back([&, i] {
            const size_t block = i == 1 ? 8193 : 8192; // with ICY, 8192 bytes and a zero length byte
            const size_t want = total / 8192 * block;
            while (received[i].size() < want && readers[i]->read(&received[i], block, 60000))
                taken[i] = received[i].size() / block * 8192;
            taken[i] = SIZE_MAX;
        });
    }
    // 2 MB/s: far faster than a channel. A reading listener is never let fall more than 64 KiB
    // behind, a quarter of its cap, however long a loaded machine keeps it (or the thread that
    // serves it) from running: only the listener that stopped reading may reach the cap.
    const auto readersKeepUp = [&](size_t written) {
        for (const auto& t : taken) {
            if (written > t.load() && written - t.load() > 64 * 1024)
                return false;
        }
        return true;
    };
    Feeder feeder(&server, stream, data, 8192, 4000, false, readersKeepUp);
    const int baseline = server.clientCount();
    for (auto& t : threads)
        t.join();
    feeder.stop();
    ASSERT_TRUE(feeder.finished());
    EXPECT_TRUE(received[0] == data);
    EXPECT_TRUE(received[2] == data);
    std::string icyAudio;
    for (size_t at = 0; at + 8193 <= received[1].size(); at += 8193)
        icyAudio.append(received[1], at, 8192);
    EXPECT_TRUE(icyAudio == data);

    // The stalled listener was cut off: what it can still read ends well short of the stream.
    std::string got;
    EXPECT_TRUE(stalled->readUntilClosed(&got, 5000));
    EXPECT_LT(got.size(), total / 2);
    EXPECT_TRUE(got == data.substr(0, got.size())) << "a listener got a stream with bytes cut out";
    for (int i = 0; i < 100 && server.clientCount() >= baseline; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_LT(server.clientCount(), baseline);
}

TEST_F(RDHttpStreamServerTest, StopEndsAListenerBlockedInSend)
{
    const RDHttpAudioStream stream = makeStream("/stream/7");
    auto stalled = blockedListener(stream);
    const auto t0 = Clock::now();
    server.stop();
    EXPECT_LT(TestSupport::msSince(t0), 1000);
    EXPECT_EQ(server.clientCount(), 0);
}

TEST_F(RDHttpStreamServerTest, RemovingAStreamReleasesAListenerBlockedInSend)
{
    const RDHttpAudioStream stream = makeStream("/stream/7");
    auto stalled = blockedListener(stream);
    ASSERT_EQ(server.clientCount(), 1);
    server.removeStream(stream);
    const auto t0 = Clock::now();
    while (server.clientCount() > 0 && TestSupport::msSince(t0) < 3000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(server.clientCount(), 0);
    EXPECT_LT(TestSupport::msSince(t0), 1000);
}

TEST_F(RDHttpStreamServerTest, DescriptorsReturnToTheBaselineAfterABurst)
{
    const int baseline = openDescriptors();
    {
        const int port = start();
        const RDHttpAudioStream stream = makeStream("/stream/1");
        ASSERT_TRUE(server.addStream(stream));
        std::vector<std::unique_ptr<TestStreamListener>> listeners;
        for (int i = 0; i < 5; ++i)
            listeners.push_back(listen(port, "/stream/1"));
        for (int i = 0; i < 60; ++i) {
            TestStreamListener client(port);
            ASSERT_TRUE(client.get(i % 2 ? "/x" : "/stream/none"));
            EXPECT_TRUE(client.readUntilClosed(nullptr));
        }
        listeners.clear();
        server.removeStream(stream);
        // Ended connections are released without waiting for a new one: only the listening
        // socket stays.
        const auto t0 = Clock::now();
        while (openDescriptors() != baseline + 1 && TestSupport::msSince(t0) < 3000)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(openDescriptors(), baseline + 1);
        server.stop();
    }
    EXPECT_EQ(openDescriptors(), baseline);
}

TEST_F(RDHttpStreamServerTest, StreamsOutliveARestartOnAnotherPort)
{
    const int first = start();
    const RDHttpAudioStream stream = makeStream("/stream/7");
    ASSERT_TRUE(server.addStream(stream));
    auto before = listen(first, "/stream/7");
    server.stop();
    EXPECT_TRUE(before->readUntilClosed(nullptr, 2000));
    const int second = start();
    auto after = listen(second, "/stream/7");
    const std::string data = pattern(1024, 14);
    server.writeStream(stream, data.data(), 1024);
    std::string got;
    ASSERT_TRUE(after->read(&got, 1024));
    EXPECT_TRUE(got == data);
}

class RDHttpStreamServerMp3Test : public RDHttpStreamServerTest
{
protected:
    void SetUp() override
    {
        SONARIS_REQUIRE_COMMANDS("ffmpeg", "ffprobe");
        ASSERT_TRUE(dir.isValid());
        const QString path = dir.filePath("tone.mp3");
        ASSERT_TRUE(TestSupport::makeTone(path, 1000, 15,
                                          {"-ar", "44100", "-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k",
                                           "-write_xing", "0", "-id3v2_version", "0"}));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        mp3 = file.readAll().toStdString();
        ASSERT_GT(mp3.size(), 10000u);
    }

    QTemporaryDir dir;
    std::string mp3;
};

TEST_F(RDHttpStreamServerMp3Test, FfmpegDecodesTheStreamPlainAndWithIcy)
{
    const int port = start();
    const RDHttpAudioStream stream = makeStream("/stream/7");
    ASSERT_TRUE(server.addStream(stream));
    // Real time, one frame per write as a channel writes them, so every listener starts on a
    // frame boundary.
    std::vector<int> frames;
    ASSERT_TRUE(splitMp3Frames(mp3, &frames));
    ASSERT_EQ(std::set<int>(frames.begin(), frames.end()).size() <= 2, true);
    FrameFeeder feeder(&server, stream, mp3, frames, 26122);
    const QString url = QString("http://127.0.0.1:%1/stream/7").arg(port);
    struct Case
    {
        QStringList input;
    } cases[] = {
        {{"-icy", "1"}},
        {{"-icy", "0"}},
        {{"-icy", "1", "-recv_buffer_size", "4096"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.join(' ').toStdString());
        const QVector<float> samples = TestAudio::decode(url, 44100, c.input + QStringList{"-t", "2"}, 30000);
        ASSERT_GT(samples.size(), 44100);
        const QVector<float> tone = TestAudio::trimSilence(samples);
        EXPECT_NEAR(TestAudio::toneFrequency(tone, 44100), 1000.0, 5.0);
    }
    // ffprobe shows the ICY headers as the stream's metadata.
    const auto probe = TestSupport::run("ffprobe", {"-hide_banner", "-v", "error", "-icy", "1", "-show_entries",
                                                    "format_tags", "-of", "default=nw=1", url},
                                        30000);
    EXPECT_EQ(probe.exitCode, 0) << probe.err.toStdString();
    const QString tags = QString::fromUtf8(probe.out);
    EXPECT_TRUE(tags.contains("icy-br=128000")) << tags.toStdString();
    EXPECT_TRUE(tags.contains("icy-name=7")) << tags.toStdString();
    EXPECT_TRUE(tags.contains("icy-sr=44100")) << tags.toStdString();
}

} // namespace
