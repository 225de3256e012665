#include "TestSupport.h"
#include "VexaAudioPacket.h"
#include "VexaBuffer.h"
#include "VexaClient.h"
#include "VexaServerObserver.h"
#include "WSClient.h"
#include "WSServer.h"
#include "WSTestPeer.h"

#include <QFileInfo>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Records what the server reports. A message "reply:N" is answered with N bytes through the
// client; "login" logs the client in and "bye" asks for its end (as ZvAPI does), each echoed;
// any other message is echoed.
class Recorder : public VexaServerObserver
{
public:
    void onClientConnected(VexaServer*, const std::shared_ptr<VexaClient>& client) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_clients.push_back(client);
    }

    void onClientDisconnected(VexaServer*, const std::shared_ptr<VexaClient>&) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_disconnected;
    }

    void onClientData(VexaServer*, const std::shared_ptr<VexaClient>& client, VexaBuffer& buffer) override
    {
        const std::string text(reinterpret_cast<const char*>(buffer.bytes()), static_cast<size_t>(buffer.size()));
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_messages.push_back(text);
        }
        if (text.compare(0, 6, "reply:") == 0) {
            client->send(std::string(static_cast<size_t>(std::stoi(text.substr(6))), 'r'));
            return;
        }
        if (text == "login")
            client->setAuthorized(true);
        if (text == "bye")
            client->requestClose();
        client->send(text);
    }

    std::vector<std::string> messages() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }
    std::shared_ptr<VexaClient> client(size_t index) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return index < m_clients.size() ? m_clients[index] : nullptr;
    }
    size_t clients() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_clients.size();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_messages;
    std::vector<std::shared_ptr<VexaClient>> m_clients;
    int m_disconnected = 0;
};

class WSServerTest : public ::testing::Test
{
protected:
    void SetUp() override { start(); }
    void TearDown() override
    {
        if (m_server)
            m_server->stop();
    }

    void start(const WSClient::Timeouts& timeouts = WSClient::Timeouts())
    {
        if (m_server)
            m_server->stop();
        m_server = std::make_unique<WSServer>(timeouts);
        m_server->addObserver(&m_recorder);
        m_server->setAddress(RDSocketAddress("127.0.0.1", 0));
        ASSERT_TRUE(m_server->start());
        ASSERT_TRUE(m_server->isListening());
        m_port = m_server->listeningPort();
        ASSERT_GT(m_port, 0);
    }

    bool open(WSTestPeer& peer) { return peer.connect(m_port) && peer.handshake(); }

    bool waitForMessages(size_t count)
    {
        return TestSupport::waitUntil([&]() { return m_recorder.messages().size() >= count; }, 20000);
    }

    // The server's close frame (code) and then the end of the connection.
    void expectClose(WSTestPeer& peer, int code)
    {
        WSFrameHeader frame;
        std::string payload;
        ASSERT_TRUE(peer.readFrame(&frame, &payload));
        EXPECT_EQ(frame.opcode, static_cast<int>(WSOpcode::Close));
        EXPECT_EQ(closeCode(payload), code);
        EXPECT_TRUE(peer.waitClosed());
    }

    static int closeCode(const std::string& payload)
    {
        return payload.size() < 2 ? -1 : (uint8_t(payload[0]) << 8) | uint8_t(payload[1]);
    }

    Recorder m_recorder;
    std::unique_ptr<WSServer> m_server;
    int m_port = 0;
};

std::string audioMessage(int marker)
{
    VexaAudioPacket packet;
    packet.payloadType = VexaAudioPacket::kPayloadPcmu;
    packet.channels = 1;
    packet.sampleRate = 8000;
    packet.duration = 20000;
    const std::string data(160, static_cast<char>(marker));
    packet.setPayload(data.data(), static_cast<int>(data.size()));
    std::vector<uint8_t> bytes(static_cast<size_t>(packet.writeTo(nullptr, 0, 0)));
    packet.writeTo(bytes.data(), 0, static_cast<int>(bytes.size()));
    return std::string(1, '\x01') + std::string(bytes.begin(), bytes.end());
}

} // namespace

// Requests split anywhere (inside the blank line too), sent with their first frame, or written
// with lower-case names and a token list, are all accepted and the frame delivered.
TEST_F(WSServerTest, HandshakesInPiecesAndSpellingsAreAccepted)
{
    const std::string request = WSTestPeer::request();
    const std::string frame = WSFrameHeader::encode(WSOpcode::Text, "{}", 2, reinterpret_cast<const uint8_t*>("abcd"));
    const size_t blank = request.size() - 3; // between "\r\n\r" and "\n"
    const std::vector<std::vector<std::string>> cases = {
        {request},
        {request.substr(0, 10), request.substr(10, 30), request.substr(40, blank - 40), request.substr(blank)},
        {request + frame},
        {"GET / HTTP/1.1\r\nupgrade: WebSocket\r\nconnection: keep-alive, Upgrade\r\n"
         "sec-websocket-key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n"},
    };
    size_t delivered = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        WSTestPeer peer;
        ASSERT_TRUE(peer.connect(m_port));
        for (const std::string& piece : cases[i]) {
            ASSERT_TRUE(peer.sendRaw(piece));
            // A pause between the pieces makes each its own segment (TCP_NODELAY is on), so
            // that the server's reads see the request in those pieces.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const std::string head = peer.readHead();
        EXPECT_EQ(head.compare(0, 12, "HTTP/1.1 101"), 0) << i << ": " << head;
        EXPECT_NE(head.find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"), std::string::npos) << i;
        if (cases[i].back().find(frame) == std::string::npos) {
            ASSERT_TRUE(peer.sendRaw(frame));
        }
        ASSERT_TRUE(waitForMessages(++delivered)) << i;
        EXPECT_EQ(m_recorder.messages().back(), "{}");
    }
}

TEST_F(WSServerTest, RefusedHandshakesGetAnHttpErrorAndTheEnd)
{
    const struct
    {
        std::string request;
        const char* status;
    } cases[] = {
        {"GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n", "HTTP/1.1 400"},
        {"GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: keep-alive\r\nSec-WebSocket-Key: a\r\n\r\n", "HTTP/1.1 400"},
        {"POST / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: a\r\n\r\n", "HTTP/1.1 405"},
        {"GET / HTTP/1.1\r\nX: " + std::string(9000, 'x'), "HTTP/1.1 431"},
    };
    for (const auto& c : cases) {
        WSTestPeer peer;
        ASSERT_TRUE(peer.connect(m_port));
        ASSERT_TRUE(peer.sendRaw(c.request));
        EXPECT_EQ(peer.readHead().compare(0, 12, c.status), 0) << c.status;
        EXPECT_TRUE(peer.waitClosed()) << c.status;
    }
    EXPECT_TRUE(m_recorder.messages().empty());
}

// RFC 6455 5.2: unmasked, with the shortest length form.
TEST_F(WSServerTest, RepliesAreUnmaskedWithTheirLengthLayouts)
{
    WSTestPeer peer;
    ASSERT_TRUE(open(peer));
    const struct
    {
        int length;
        std::string head;
    } cases[] = {
        {125, std::string("\x81\x7d", 2)},
        {126, std::string("\x81\x7e\x00\x7e", 4)},
        {70000, std::string("\x81\x7f\x00\x00\x00\x00\x00\x01\x11\x70", 10)},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(peer.sendFrame(WSOpcode::Text, "reply:" + std::to_string(c.length)));
        WSFrameHeader frame;
        std::string payload, head;
        ASSERT_TRUE(peer.readFrame(&frame, &payload, &head)) << c.length;
        EXPECT_EQ(head, c.head) << c.length;
        EXPECT_EQ(payload, std::string(static_cast<size_t>(c.length), 'r'));
    }
}

// RFC 6455 5.5.2-5.5.3: a pong echoes its ping, an empty one too, and a ping between two
// fragments is answered while the message still arrives whole.
TEST_F(WSServerTest, PingsAreEchoedAlsoBetweenFragments)
{
    WSTestPeer peer;
    ASSERT_TRUE(open(peer));
    for (const std::string& data : {std::string("abc"), std::string()}) {
        ASSERT_TRUE(peer.sendFrame(WSOpcode::Ping, data));
        WSFrameHeader frame;
        std::string payload, head;
        ASSERT_TRUE(peer.readFrame(&frame, &payload, &head));
        EXPECT_EQ(head, std::string("\x8a", 1) + static_cast<char>(data.size()));
        EXPECT_EQ(payload, data);
    }
    ASSERT_TRUE(peer.sendFrame(WSOpcode::Text, "{\"a\":", false));
    ASSERT_TRUE(peer.sendFrame(WSOpcode::Ping, "mid"));
    WSFrameHeader frame;
    std::string payload;
    ASSERT_TRUE(peer.readFrame(&frame, &payload));
    EXPECT_EQ(frame.opcode, static_cast<int>(WSOpcode::Pong));
    EXPECT_EQ(payload, "mid");
    ASSERT_TRUE(peer.sendFrame(WSOpcode::Continuation, "1}"));
    ASSERT_TRUE(peer.readFrame(&frame, &payload));
    EXPECT_EQ(payload, "{\"a\":1}");
    EXPECT_EQ(m_recorder.messages(), std::vector<std::string>{"{\"a\":1}"});
}

TEST_F(WSServerTest, CloseIsAnsweredWithItsCodeThenTheConnectionEnds)
{
    WSTestPeer peer;
    ASSERT_TRUE(open(peer));
    ASSERT_TRUE(TestSupport::waitUntil([&]() { return m_recorder.clients() == 1; }, 20000));
    ASSERT_TRUE(peer.sendFrame(WSOpcode::Close, std::string("\x0f\xa0" "bye", 5)));
    expectClose(peer, 4000);
    EXPECT_TRUE(TestSupport::waitUntil([&]() { return !m_recorder.client(0)->isConnected(); }, 20000));
}

// Binary kind 0 is a message without its kind byte, kind 1 audio for the channel, any other kind
// is ignored; received audio keeps the newest 100 frames.
TEST_F(WSServerTest, BinaryKindsAndTheAudioQueueCap)
{
    WSTestPeer peer;
    ASSERT_TRUE(open(peer));
    ASSERT_TRUE(TestSupport::waitUntil([&]() { return m_recorder.clients() == 1; }, 20000));
    std::shared_ptr<VexaClient> client = m_recorder.client(0);
    ASSERT_TRUE(peer.sendFrame(WSOpcode::Binary, std::string("\x02{\"id\":1}", 9)));
    ASSERT_TRUE(peer.sendFrame(WSOpcode::Binary, std::string("\x00{\"id\":2}", 9)));
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(m_recorder.messages(), std::vector<std::string>{"{\"id\":2}"});

    // A header the channel cannot play (payload type 13) is dropped.
    std::string bad = audioMessage(0);
    bad[1] = 13;
    ASSERT_TRUE(peer.sendFrame(WSOpcode::Binary, bad));
    for (int i = 1; i <= VexaClient::kAudioQueueLimit + 1; ++i)
        ASSERT_TRUE(peer.sendFrame(WSOpcode::Binary, audioMessage(i)));
    // The echo of a message sent after them marks that all were read.
    ASSERT_TRUE(peer.sendFrame(WSOpcode::Text, "{\"id\":3}"));
    ASSERT_TRUE(waitForMessages(2));
    std::vector<int> markers;
    VexaAudioPacket packet;
    while (client->readAudio(packet) > 0) {
        EXPECT_EQ(packet.payloadType, VexaAudioPacket::kPayloadPcmu);
        EXPECT_EQ(packet.sampleRate, 8000);
        EXPECT_EQ(packet.duration, 20000);
        ASSERT_EQ(packet.length(), 160);
        markers.push_back(packet.payloadBytes()[0]);
    }
    ASSERT_EQ(markers.size(), static_cast<size_t>(VexaClient::kAudioQueueLimit));
    EXPECT_EQ(markers.front(), 2);
    EXPECT_EQ(markers.back(), VexaClient::kAudioQueueLimit + 1);
}

// An oversize message or a 2 GiB length closes with 1009, without waiting for the payload.
TEST_F(WSServerTest, OversizeClosesWithMessageTooBig)
{
    {
        WSTestPeer peer;
        ASSERT_TRUE(open(peer));
        ASSERT_TRUE(peer.sendFrame(WSOpcode::Binary, std::string(600 * 1024, '\0'), false));
        ASSERT_TRUE(peer.sendFrame(WSOpcode::Continuation, std::string(600 * 1024, '\0')));
        expectClose(peer, 1009);
    }
    {
        WSTestPeer peer;
        ASSERT_TRUE(open(peer));
        ASSERT_TRUE(peer.sendRaw(std::string("\x82\xff\x00\x00\x00\x00\x80\x00\x00\x00\x01\x02\x03\x04", 14)));
        expectClose(peer, 1009);
    }
    WSTestPeer after;
    ASSERT_TRUE(open(after));
    ASSERT_TRUE(after.sendFrame(WSOpcode::Text, "{}"));
    ASSERT_TRUE(waitForMessages(1));
}

// 64 clients are served; the 65th is closed at once without an answer; once one of the 64 has
// gone, the next connection is served again.
TEST_F(WSServerTest, SixtyFifthClientIsRefused)
{
    std::vector<std::unique_ptr<WSTestPeer>> peers;
    for (int i = 0; i < WSServer::kMaxClients; ++i) {
        peers.push_back(std::make_unique<WSTestPeer>());
        ASSERT_TRUE(open(*peers.back())) << i;
    }
    WSTestPeer refused;
    ASSERT_TRUE(refused.connect(m_port));
    refused.sendRaw(WSTestPeer::request());
    EXPECT_TRUE(refused.waitClosed());
    EXPECT_EQ(m_server->refusedCount(), 1);

    ASSERT_TRUE(peers.front()->sendFrame(WSOpcode::Close, std::string("\x03\xe8", 2)));
    EXPECT_TRUE(peers.front()->waitClosed());
    WSTestPeer next;
    ASSERT_TRUE(open(next));
    EXPECT_EQ(m_server->refusedCount(), 1);
    // The registry lists a client right after starting it, which may be after its handshake.
    EXPECT_TRUE(TestSupport::waitUntil([&]() { return m_server->clientCount() == WSServer::kMaxClients; }, 20000))
        << m_server->clientCount();
}

// A client that dies while its 70,000-byte replies are being written leaves the server serving.
TEST_F(WSServerTest, ClientKilledMidReplyLeavesTheServerRunning)
{
    for (int round = 0; round < 3; ++round) {
        WSTestPeer peer;
        ASSERT_TRUE(open(peer));
        for (int i = 0; i < 20; ++i)
            ASSERT_TRUE(peer.sendFrame(WSOpcode::Text, "reply:70000"));
        WSFrameHeader frame;
        std::string payload;
        ASSERT_TRUE(peer.readFrame(&frame, &payload));
        peer.abort();
    }
    WSTestPeer after;
    ASSERT_TRUE(open(after));
    ASSERT_TRUE(after.sendFrame(WSOpcode::Text, "reply:5"));
    WSFrameHeader frame;
    std::string payload;
    ASSERT_TRUE(after.readFrame(&frame, &payload));
    EXPECT_EQ(payload, "rrrrr");
    EXPECT_TRUE(TestSupport::waitUntil([&]() { return !m_recorder.client(0)->isConnected(); }, 20000));
}

// Before its handshake a client sends nothing, so what is queued for it stays: audio keeps the
// newest 100, and message 1,001 closes the client.
TEST_F(WSServerTest, SendQueueLimits)
{
    WSTestPeer peer;
    ASSERT_TRUE(peer.connect(m_port));
    ASSERT_TRUE(TestSupport::waitUntil([&]() { return m_recorder.clients() == 1; }, 20000));
    std::shared_ptr<VexaClient> client = m_recorder.client(0);
    WSClient* ws = dynamic_cast<WSClient*>(client.get());
    ASSERT_NE(ws, nullptr);
    VexaAudioPacket packet;
    packet.payloadType = VexaAudioPacket::kPayloadPcma;
    packet.channels = 1;
    packet.sampleRate = 8000;
    packet.duration = 20000;
    packet.setPayload(std::string(160, 'a').data(), 160);
    for (int i = 0; i < 150; ++i)
        EXPECT_EQ(client->sendAudio(packet), 0);
    EXPECT_EQ(ws->queuedAudio(), WSClient::kMaxQueuedAudio);
    for (int i = 0; i < WSClient::kMaxQueuedMessages; ++i)
        ASSERT_EQ(client->send("{}"), 0) << i;
    EXPECT_EQ(ws->queuedMessages(), WSClient::kMaxQueuedMessages);
    EXPECT_TRUE(client->isConnected());
    EXPECT_EQ(client->send("{}"), -1);
    EXPECT_FALSE(client->isConnected());
    EXPECT_TRUE(peer.waitClosed());
}

TEST_F(WSServerTest, StopEndsEveryClientPromptly)
{
    std::vector<std::unique_ptr<WSTestPeer>> peers;
    for (int i = 0; i < 8; ++i) {
        peers.push_back(std::make_unique<WSTestPeer>());
        ASSERT_TRUE(open(*peers.back()));
    }
    const auto t0 = std::chrono::steady_clock::now();
    m_server->stop();
    EXPECT_LT(TestSupport::msSince(t0), 5000.0);
    EXPECT_FALSE(m_server->isRunning());
    EXPECT_FALSE(m_server->isListening());
    for (auto& peer : peers)
        EXPECT_TRUE(peer->waitClosed());
    // The same port can be listened on again at once.
    m_server->setAddress(RDSocketAddress("127.0.0.1", m_port));
    EXPECT_TRUE(m_server->start());
}

// python3-websockets refuses masked server frames, a wrong accept key and a pong that does not
// echo its ping: a whole session with it passes only when the server keeps RFC 6455.
TEST_F(WSServerTest, StrictClientSession)
{
    SONARIS_REQUIRE_PYTHON_MODULE("websockets", "python3-websockets");
    const QString script = TestSupport::sourceDir() + QStringLiteral("/tests/VexaSDK/WS/ws_session.py");
    const TestSupport::Result r = TestSupport::run(
        QStringLiteral("/usr/bin/python3"),
        {script, QStringLiteral("ws://127.0.0.1:%1/").arg(m_port), "--ping", "abc", R"({"id":1,"method":"A"})",
         R"({"id":2,"method":"B","pad":")" + QString(70000, 'p') + R"("})"},
        60000);
    const QString out = QString::fromUtf8(r.out);
    EXPECT_EQ(r.exitCode, 0) << out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(out.startsWith("pong\nrecv {\"id\":1,\"method\":\"A\"}\nrecv {\"id\":2,")) << out.toStdString();
    EXPECT_TRUE(out.endsWith("closed 1000\n")) << out.toStdString();
}

// A browser's WebSocket (Chromium, headless) talks to the server from a page.
TEST_F(WSServerTest, BrowserSession)
{
    SONARIS_REQUIRE_PEER(QFileInfo::exists(QStringLiteral("/usr/bin/chromium")), "/usr/bin/chromium");
    // The page is read through Chromium's DevTools socket, with the same module.
    SONARIS_REQUIRE_PYTHON_MODULE("websockets", "python3-websockets");
    const QString dir = TestSupport::sourceDir() + QStringLiteral("/tests/VexaSDK/WS/");
    const QString messages = QStringLiteral(R"([{"id":1,"method":"GetDeviceInfo"},{"id":2,"method":"Login"}])");
    const QString url = QUrl::fromLocalFile(dir + "ws_page.html").toString() +
                        QStringLiteral("#port=%1&messages=%2").arg(m_port).arg(QString::fromLatin1(QUrl::toPercentEncoding(messages)));
    const TestSupport::Result r =
        TestSupport::run(QStringLiteral("/usr/bin/python3"), {dir + "chromium_page.py", url, "--timeout", "60"}, 90000);
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_EQ(r.out.trimmed().toStdString(),
              R"(["{\"id\":1,\"method\":\"GetDeviceInfo\"}","{\"id\":2,\"method\":\"Login\"}"])");
    EXPECT_EQ(m_recorder.messages().size(), 2u);
}

namespace {

// Short waits for the tests, each ~5x what a loaded machine needs: a ping after 0.5 s of
// silence, 2.5 s to answer it, 2 s to log in.
WSClient::Timeouts shortTimeouts()
{
    WSClient::Timeouts timeouts;
    timeouts.pingAfter = 0.5;
    timeouts.pongWithin = 2.5;
    timeouts.loginWithin = 2.0;
    return timeouts;
}

double secondsSince(std::chrono::steady_clock::time_point t0)
{
    return TestSupport::msSince(t0) / 1000.0;
}

// How a played app's connection went: the server's close code (0: still served when the app
// stopped watching; negative: the connection failed otherwise), the pings it got, and the
// seconds from its handshake, and from its last ping, to the close.
struct Outcome
{
    int closeCode = 0;
    int pings = 0;
    double closedAfter = 0;
    double sincePing = 0;
};

// One app for watchSeconds after its handshake (or until the server closes it): it logs in
// first when told to and answers every ping when told to. One still open at the end must still
// be answered.
Outcome play(int port, bool logIn, bool answerPings, double watchSeconds)
{
    Outcome out;
    WSTestPeer peer;
    if (!peer.connect(port) || !peer.handshake()) {
        out.closeCode = -1;
        return out;
    }
    const auto t0 = std::chrono::steady_clock::now();
    auto lastPing = t0;
    if (logIn)
        peer.sendFrame(WSOpcode::Text, "login");
    for (;;) {
        const double left = watchSeconds - secondsSince(t0);
        if (left <= 0)
            break;
        WSFrameHeader frame;
        std::string payload;
        if (!peer.readFrame(&frame, &payload, nullptr, static_cast<int>(left * 1000) + 1)) {
            // A time-out (its poll rounds to whole ms) is checked below by a request.
            if (secondsSince(t0) < watchSeconds - 0.1)
                out.closeCode = -2; // ended without a close frame
            break;
        }
        if (frame.opcode == static_cast<int>(WSOpcode::Ping)) {
            EXPECT_EQ(payload, "\r\n");
            ++out.pings;
            lastPing = std::chrono::steady_clock::now();
            if (answerPings)
                peer.sendFrame(WSOpcode::Pong, payload);
        } else if (frame.opcode == static_cast<int>(WSOpcode::Close)) {
            out.closeCode = payload.size() < 2 ? -4 : (uint8_t(payload[0]) << 8) | uint8_t(payload[1]);
            out.closedAfter = secondsSince(t0);
            out.sincePing = secondsSince(lastPing);
            EXPECT_TRUE(peer.waitClosed());
            return out;
        }
    }
    if (out.closeCode == 0) {
        WSFrameHeader frame;
        std::string payload;
        peer.sendFrame(WSOpcode::Text, "reply:3");
        while (peer.readFrame(&frame, &payload) && payload != "rrr") {
        }
        if (payload != "rrr")
            out.closeCode = -3;
    }
    return out;
}

} // namespace

// An app that answers pings stays (also past the login time while authentication is off, or
// once logged in); one that is silent is pinged and closed with 1011 a while after the ping;
// with authentication on, one that does not log in is closed with 1008 once its login time is
// up, whatever it answers.
TEST_F(WSServerTest, AppsThatOnlyHoldASlotAreClosed)
{
    const WSClient::Timeouts timeouts = shortTimeouts();
    // Staying apps are watched past the login time and several pings.
    const double stayFor = timeouts.loginWithin + 4 * timeouts.pingAfter;
    const struct
    {
        const char* name;
        bool auth;
        bool logIn;
        bool answerPings;
        int closeCode;
    } cases[] = {
        {"answers pings", false, false, true, 0},
        {"silent", false, false, false, 1011},
        {"silent after a message", false, true, false, 1011},
        {"auth: answers pings, never logs in", true, false, true, 1008},
        {"auth: logged in, answers pings", true, true, true, 0},
        {"auth: logged in, then silent", true, true, false, 1011},
    };
    for (const bool auth : {false, true}) {
        start(timeouts);
        m_server->setAuth(auth ? 1 : 0, "user", "digest");
        std::vector<std::thread> apps;
        std::vector<Outcome> outcomes(std::size(cases));
        for (size_t i = 0; i < std::size(cases); ++i) {
            if (cases[i].auth != auth)
                continue;
            const auto& c = cases[i];
            const double watch = c.closeCode ? 30 : stayFor;
            apps.emplace_back([&, i, c, watch] { outcomes[i] = play(m_port, c.logIn, c.answerPings, watch); });
        }
        for (std::thread& app : apps)
            app.join();
        for (size_t i = 0; i < std::size(cases); ++i) {
            const auto& c = cases[i];
            if (c.auth != auth)
                continue;
            const Outcome& out = outcomes[i];
            EXPECT_EQ(out.closeCode, c.closeCode) << c.name;
            if (c.answerPings && !c.closeCode) {
                EXPECT_GE(out.pings, 3) << c.name;
            }
            // Not before its time is up.
            if (c.closeCode == 1011) {
                EXPECT_GE(out.pings, 1) << c.name;
                EXPECT_GE(out.sincePing, 0.8 * timeouts.pongWithin) << c.name;
            }
            if (c.closeCode == 1008) {
                EXPECT_GE(out.closedAfter, 0.9 * timeouts.loginWithin) << c.name;
            }
        }
    }
}

// 64 connections that never send, read or answer a ping hold every slot, and a real app is
// refused; once the server's waits apply (switched on after the 64 are in, since connecting
// them takes seconds on a loaded machine) they are closed for their silence or, with
// authentication on, their missing login, and the app is served.
TEST_F(WSServerTest, SixtyFourSilentAppsGiveWayToARealOne)
{
    WSClient::Timeouts none;
    none.pingAfter = 0;
    none.pongWithin = 0;
    none.loginWithin = 0;
    const struct
    {
        bool auth;
        int closeCode;
    } cases[] = {
        {false, 1011},
        {true, 1008},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.auth ? "auth on" : "auth off");
        start(none);
        m_server->setAuth(c.auth ? 1 : 0, "user", "digest");
        std::vector<std::unique_ptr<WSTestPeer>> silent;
        for (int i = 0; i < WSServer::kMaxClients; ++i) {
            silent.push_back(std::make_unique<WSTestPeer>());
            ASSERT_TRUE(open(*silent.back())) << i;
        }
        WSTestPeer app;
        EXPECT_FALSE(open(app));
        EXPECT_EQ(m_server->refusedCount(), 1);

        m_server->setTimeouts(shortTimeouts());
        const auto t0 = std::chrono::steady_clock::now();
        // The app tries again every 100 ms, as a real one would.
        for (;;) {
            ASSERT_LT(secondsSince(t0), 60.0) << "never served";
            app.close();
            if (open(app))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ASSERT_TRUE(app.sendFrame(WSOpcode::Text, "login"));
        WSFrameHeader frame;
        std::string payload;
        ASSERT_TRUE(app.readFrame(&frame, &payload));
        EXPECT_EQ(payload, "login");
        // Every silent one got its close frame (after a ping, when it was closed for silence).
        for (auto& peer : silent) {
            do {
                ASSERT_TRUE(peer->readFrame(&frame, &payload));
            } while (frame.opcode == static_cast<int>(WSOpcode::Ping));
            EXPECT_EQ(frame.opcode, static_cast<int>(WSOpcode::Close));
            EXPECT_EQ(closeCode(payload), c.closeCode);
        }
    }
}

// RFC 6455 5.1: a client frame without a mask closes the connection with 1002, whatever its
// kind, before anything of it is delivered.
TEST_F(WSServerTest, UnmaskedClientFramesCloseWithProtocolError)
{
    const uint8_t key[4] = {9, 8, 7, 6};
    const std::string masked = WSFrameHeader::encode(WSOpcode::Text, "{\"a\":", 5, key);
    const struct
    {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"text", WSFrameHeader::encode(WSOpcode::Text, "{}", 2)},
        {"binary", WSFrameHeader::encode(WSOpcode::Binary, "\x00{}", 3)},
        {"empty text", WSFrameHeader::encode(WSOpcode::Text, "", 0)},
        {"ping", WSFrameHeader::encode(WSOpcode::Ping, "abc", 3)},
        {"close", WSFrameHeader::encodeClose(WSCloseCode::Normal)},
        {"continuation of a masked start", std::string(1, masked[0] & 0x7f) + masked.substr(1) +
                                               WSFrameHeader::encode(WSOpcode::Continuation, "1}", 2)},
    };
    for (const auto& c : cases) {
        WSTestPeer peer;
        ASSERT_TRUE(open(peer)) << c.name;
        ASSERT_TRUE(peer.sendRaw(c.bytes)) << c.name;
        SCOPED_TRACE(c.name);
        expectClose(peer, 1002);
    }
    EXPECT_TRUE(m_recorder.messages().empty());
}

// A close the observer asks for while it handles a message comes after its reply; what the app
// sent after that message is not handed on.
TEST_F(WSServerTest, RequestedCloseFollowsTheReply)
{
    WSTestPeer peer;
    ASSERT_TRUE(open(peer));
    const uint8_t key[4] = {1, 2, 3, 4};
    ASSERT_TRUE(peer.sendRaw(WSFrameHeader::encode(WSOpcode::Text, "bye", 3, key) +
                             WSFrameHeader::encode(WSOpcode::Text, "after", 5, key)));
    WSFrameHeader frame;
    std::string payload;
    ASSERT_TRUE(peer.readFrame(&frame, &payload));
    EXPECT_EQ(payload, "bye");
    expectClose(peer, 1008);
    EXPECT_EQ(m_recorder.messages(), std::vector<std::string>{"bye"});
    EXPECT_TRUE(TestSupport::waitUntil([&]() { return !m_recorder.client(0)->isConnected(); }, 20000));
}
