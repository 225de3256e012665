// The P2P server end to end through the device library, with remote apps played by
// LoopP2pClient on the same machine and an observer that answers every message the way the
// JSON protocol does ({"id","method","result":0}).
#include "LoopP2p.h"
#include "LoopP2pClient.h"
#include "LoopP2pSocket.h"
#include "LoopP2pTestDevice.h"
#include "TUTKClient.h"
#include "TUTKServer.h"
#include "TestSupport.h"
#include "VexaBuffer.h"
#include "VexaServerObserver.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Generous for a loaded 2-core machine under a sanitizer.
constexpr int kWaitMs = 5000;
// "Prompt" for a stop: an order below the 5-s login retry and the 10-s AV start time-out that
// it must not wait for, with room for a loaded machine under a sanitizer (the benchmark
// measures the real figure: a few ms).
constexpr double kPromptStopMs = 1000;

std::string uniqueUid(const char* what)
{
    static std::atomic<int> counter{0};
    return std::string("TUTK-") + what + "-" + std::to_string(getpid()) + "-"
           + std::to_string(counter++);
}

class AnsweringObserver : public VexaServerObserver
{
public:
    void onClientConnected(VexaServer*, const std::shared_ptr<VexaClient>&) override { ++connected; }
    void onClientDisconnected(VexaServer*, const std::shared_ptr<VexaClient>&) override { ++disconnected; }
    void onClientData(VexaServer*, const std::shared_ptr<VexaClient>& client, VexaBuffer& buffer) override
    {
        const QByteArray text(reinterpret_cast<const char*>(buffer.bytes()), buffer.size());
        {
            std::lock_guard<std::mutex> lock(mutex);
            messages.push_back(text.toStdString());
        }
        const QJsonObject request = QJsonDocument::fromJson(text).object();
        if (request.value("method") == "Login")
            client->setAuthorized(true);
        QJsonObject reply{{"method", request.value("method")}, {"result", 0}};
        if (request.contains("id"))
            reply.insert("id", request.value("id"));
        client->send(QJsonDocument(reply).toJson(QJsonDocument::Compact).toStdString());
    }
    size_t messageCount()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return messages.size();
    }

    std::atomic<int> connected{0};
    std::atomic<int> disconnected{0};
    std::mutex mutex;
    std::vector<std::string> messages;
};

class TUTKServerTest : public ::testing::Test
{
protected:
    void startServer(int loginRetryMs = TUTKServer::kLoginRetryMs, double appLoginWithin = TUTKClient::kLoginWithin)
    {
        server = std::make_unique<TUTKServer>(loginRetryMs, appLoginWithin);
        server->addObserver(&observer);
        server->setUid(QString::fromStdString(uid));
    }
    // A remote app with its session open and its AV channel started.
    std::unique_ptr<LoopP2pClient> connectApp()
    {
        auto app = std::make_unique<LoopP2pClient>();
        EXPECT_EQ(app->connect(uid, kWaitMs), 0);
        EXPECT_EQ(app->startAv("admin", "", kWaitMs), 0);
        return app;
    }
    bool waitClients(size_t count)
    {
        return TestSupport::waitUntil([&] { return server->clients().size() == count; }, kWaitMs);
    }

    // The device by hand, for tests of one client without a server: logged in, one session
    // open to app, whose AV start is still to come.
    int openSession(LoopP2pClient& app)
    {
        if (LoopP2pTestDevice::logIn(uid, TUTKServer::kMaxSessions, TUTKServer::kMaxAvServers) != 0)
            return -1;
        std::thread connect([&] { EXPECT_EQ(app.connect(uid, kWaitMs), 0); });
        const int session = IOTC_Listen(kWaitMs);
        connect.join();
        return session;
    }
    // Starts client while app asks for the AV channel.
    void startAv(LoopP2pClient& app, TUTKClient& client)
    {
        std::thread request([&] { EXPECT_EQ(app.startAv("admin", "", kWaitMs), 0); });
        client.start();
        request.join();
    }

    void TearDown() override
    {
        if (server)
            server->stop();
        // Whatever a failed test left logged in.
        avDeInitialize();
        IOTC_DeInitialize();
    }

    std::string uid = uniqueUid("srv");
    AnsweringObserver observer;
    std::unique_ptr<TUTKServer> server;
};

std::string packet(int payloadType, int channels, int rate, int durationUs, const std::string& payload)
{
    std::string bytes;
    bytes += static_cast<char>(payloadType);
    bytes += static_cast<char>(channels);
    bytes += static_cast<char>(rate >> 8);
    bytes += static_cast<char>(rate);
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes += static_cast<char>(durationUs >> shift);
    return bytes + payload;
}

LoopP2pFrameInfo frameInfo()
{
    LoopP2pFrameInfo info;
    std::memset(&info, 0, sizeof(info));
    info.codec = TUTKFrameCodec;
    info.flags = TUTKFrameFlags;
    return info;
}

TEST_F(TUTKServerTest, MessagesOf0x800AreAnsweredOn0x800AndOtherTypesIgnored)
{
    startServer();
    ASSERT_TRUE(server->start());
    EXPECT_TRUE(server->isListening());
    std::unique_ptr<LoopP2pClient> app = connectApp();
    ASSERT_TRUE(waitClients(1));

    // Another type first: nothing reaches the observer, the session stays and answers after.
    ASSERT_EQ(app->sendIoCtrl(0x801, R"({"id":1,"method":"GetDeviceInfo"})"), 0);
    ASSERT_EQ(app->sendIoCtrl(TUTKIoCtrlMessage, R"({"id":2,"method":"GetDeviceInfo"})"), 0);
    uint32_t type = 0;
    std::string reply;
    ASSERT_GT(app->recvIoCtrl(kWaitMs, type, reply), 0);
    EXPECT_EQ(type, static_cast<uint32_t>(TUTKIoCtrlMessage));
    EXPECT_EQ(reply, R"({"id":2,"method":"GetDeviceInfo","result":0})");
    EXPECT_EQ(observer.messageCount(), 1u);
    EXPECT_TRUE(server->clients().front()->isConnected());
    EXPECT_EQ(observer.connected.load(), 1);

    // sendToAll reaches the app too, in order after the reply.
    const std::string note = R"({"id":3,"method":"RtpStarted","rtpId":1})";
    server->sendToAll(note.data(), static_cast<int>(note.size()));
    ASSERT_GT(app->recvIoCtrl(kWaitMs, type, reply), 0);
    EXPECT_EQ(reply, note);
}

TEST_F(TUTKServerTest, FourthSessionIsRefusedWhileThreeAreOpenAndTheClosedOneIsPurgedLater)
{
    startServer();
    ASSERT_TRUE(server->start());
    std::vector<std::unique_ptr<LoopP2pClient>> apps;
    for (int i = 0; i < 3; ++i)
        apps.push_back(connectApp());
    ASSERT_TRUE(waitClients(3));

    LoopP2pClient fourth;
    EXPECT_EQ(fourth.connect(uid, kWaitMs), LoopP2pListenRefused);

    // A killed app: its read thread closes the session, and the registry drops it only when
    // the next session comes.
    apps[0]->close();
    ASSERT_TRUE(TestSupport::waitUntil([&] {
        for (const auto& client : server->clients())
            if (!client->isConnected())
                return true;
        return false;
    }, kWaitMs));
    EXPECT_EQ(observer.disconnected.load(), 0);
    EXPECT_EQ(server->clients().size(), 3u);

    std::unique_ptr<LoopP2pClient> next = connectApp();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return observer.connected.load() == 4; }, kWaitMs));
    EXPECT_EQ(observer.disconnected.load(), 1);
    EXPECT_EQ(server->clients().size(), 3u);
    for (const auto& client : server->clients())
        EXPECT_TRUE(client->isConnected());

    server->stop();
    EXPECT_EQ(observer.disconnected.load(), 4);
    EXPECT_FALSE(server->isListening());
    uint32_t type;
    std::string data;
    EXPECT_EQ(next->recvIoCtrl(kWaitMs, type, data), LoopP2pPeerClosed);
}

TEST_F(TUTKServerTest, AudioTravelsBothWaysWholeAndBadHeadersAreDropped)
{
    startServer();
    ASSERT_TRUE(server->start());
    std::unique_ptr<LoopP2pClient> app = connectApp();
    ASSERT_TRUE(waitClients(1));
    std::shared_ptr<VexaClient> client = server->clients().front();

    // A 20-ms L16 frame at 48 kHz: 1,920 bytes of samples, 1,928 with the header.
    std::string samples(1920, '\0');
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<char>(i * 7);
    const std::string wire = packet(11, 1, 48000, 20000, samples);
    ASSERT_EQ(wire.size(), 1928u);
    // Refused headers first (type 13, 3 channels, 0 us, 2 s, shorter than a header); then
    // the good frame, which must be the only one to come out.
    for (const std::string& bad : {packet(13, 1, 8000, 20000, "x"), packet(0, 3, 8000, 20000, "x"),
                                   packet(0, 1, 8000, 0, "x"), packet(0, 1, 8000, 2000000, "x"),
                                   std::string("\x00\x01\x1f", 3)})
        ASSERT_EQ(app->sendAudio(frameInfo(), bad), 0);
    ASSERT_EQ(app->sendAudio(frameInfo(), wire), 0);

    VexaAudioPacket received;
    ASSERT_TRUE(TestSupport::waitUntil([&] { return client->readAudio(received) > 0; }, kWaitMs));
    EXPECT_EQ(received.payloadType, 11);
    EXPECT_EQ(received.channels, 1);
    EXPECT_EQ(received.sampleRate, 48000);
    EXPECT_EQ(received.duration, 20000);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(received.payloadBytes()), received.length()), samples);
    EXPECT_EQ(client->readAudio(received), 0);

    // The other way: the packet's wire form, with the server's frame information.
    VexaAudioPacket out;
    out.payloadType = 11;
    out.channels = 1;
    out.sampleRate = 48000;
    out.duration = 20000;
    out.setPayload(samples.data(), static_cast<int>(samples.size()));
    ASSERT_EQ(client->sendAudio(out), 0);
    LoopP2pFrameInfo info;
    std::string frame;
    ASSERT_GT(app->recvAudio(kWaitMs, info, frame), 0);
    EXPECT_EQ(info.codec, 137);
    EXPECT_EQ(info.flags, 2);
    EXPECT_EQ(frame, wire);
}

TEST_F(TUTKServerTest, MessagesSentJustBeforeTheAppLeavesAllArrive)
{
    startServer();
    ASSERT_TRUE(server->start());
    for (int round = 0; round < 5; ++round) {
        std::unique_ptr<LoopP2pClient> app = connectApp();
        const size_t before = observer.messageCount();
        // Audio alongside: the audio thread meets the app's end too, and must leave the
        // closing to the read thread, which hands on every message first.
        for (int i = 0; i < 50; ++i) {
            ASSERT_EQ(app->sendAudio(frameInfo(), packet(0, 1, 8000, 20000, std::string(160, 'a'))), 0);
            ASSERT_EQ(app->sendIoCtrl(TUTKIoCtrlMessage, "{\"n\":" + std::to_string(i) + "}"), 0);
        }
        app->close();
        ASSERT_TRUE(TestSupport::waitUntil([&] { return observer.messageCount() == before + 50; }, kWaitMs))
            << "round " << round << ": " << observer.messageCount() - before << " of 50";
    }
}

TEST_F(TUTKServerTest, AppThatNeverStartsAvIsReleasedAndStopIsPrompt)
{
    startServer();
    ASSERT_TRUE(server->start());
    // Connected, but the AV start never comes: the listen thread waits in the client's start.
    LoopP2pClient app;
    ASSERT_EQ(app.connect(uid, kWaitMs), 0);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return server->startPending(); }, kWaitMs));

    const auto t0 = std::chrono::steady_clock::now();
    server->stop();
    const double stopMs = TestSupport::msSince(t0);
    EXPECT_LT(stopMs, kPromptStopMs);
    EXPECT_EQ(observer.connected.load(), 0);
    EXPECT_EQ(observer.disconnected.load(), 0);
    uint32_t type;
    std::string data;
    EXPECT_EQ(app.recvIoCtrl(kWaitMs, type, data), LoopP2pPeerClosed);
}

TEST_F(TUTKServerTest, LoginIsRetriedWhileAnotherProcessHoldsTheUidAndStopStaysPrompt)
{
    SONARIS_REQUIRE_COMMANDS("/usr/bin/python3");
    QProcess holder;
    const QString script = QString(
        "import socket, sys, time\n"
        "s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)\n"
        "s.bind(b'\\0loopp2p/%1')\n"
        "s.listen(1)\n"
        "print('held', flush=True)\n"
        "sys.stdin.read()\n").arg(QString::fromStdString(uid));
    holder.start("/usr/bin/python3", {"-c", script});
    ASSERT_TRUE(holder.waitForReadyRead(4 * kWaitMs));
    ASSERT_EQ(holder.readAll().trimmed(), QByteArray("held"));

    // The full 5-s retry: stop must not wait for it.
    startServer();
    EXPECT_FALSE(server->start());
    EXPECT_TRUE(server->isRunning());
    EXPECT_FALSE(server->isListening());
    auto t0 = std::chrono::steady_clock::now();
    server->stop();
    EXPECT_LT(TestSupport::msSince(t0), kPromptStopMs);

    // A short retry: once the other process lets go, the next attempt logs in.
    startServer(200);
    EXPECT_FALSE(server->start());
    holder.closeWriteChannel();
    ASSERT_TRUE(holder.waitForFinished(4 * kWaitMs));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return server->isListening(); }, kWaitMs));
    std::unique_ptr<LoopP2pClient> app = connectApp();
    ASSERT_TRUE(waitClients(1));
    t0 = std::chrono::steady_clock::now();
    server->stop();
    EXPECT_LT(TestSupport::msSince(t0), kPromptStopMs);
}

TEST_F(TUTKServerTest, SendQueueKeepsTheNewestAudioAndEveryMessageInOrder)
{
    // Items queue while no sender runs yet; the start then sends them all.
    LoopP2pClient app;
    const int session = openSession(app);
    ASSERT_GE(session, 0);
    auto client = std::make_shared<TUTKClient>(session);

    const size_t audioCount = TUTKClient::kSendAudioLimit + 20;
    for (size_t i = 0; i < audioCount; ++i) {
        VexaAudioPacket frame;
        frame.payloadType = 0;
        frame.channels = 1;
        frame.sampleRate = 8000;
        frame.duration = 20000;
        const std::string payload = std::to_string(i);
        frame.setPayload(payload.data(), static_cast<int>(payload.size()));
        ASSERT_EQ(client->sendAudio(frame), 0);
        client->send("{\"n\":" + std::to_string(i) + "}");
    }
    startAv(app, *client);
    ASSERT_TRUE(client->isRunning());

    for (size_t i = 0; i < audioCount; ++i) {
        uint32_t type;
        std::string text;
        ASSERT_GT(app.recvIoCtrl(kWaitMs, type, text), 0);
        EXPECT_EQ(text, "{\"n\":" + std::to_string(i) + "}");
    }
    for (size_t i = audioCount - TUTKClient::kSendAudioLimit; i < audioCount; ++i) {
        LoopP2pFrameInfo info;
        std::string frame;
        ASSERT_GT(app.recvAudio(kWaitMs, info, frame), 0);
        EXPECT_EQ(frame.substr(8), std::to_string(i));
    }
    client->stop();
    EXPECT_FALSE(client->isConnected());
    EXPECT_FALSE(client->isRunning());
}

TEST_F(TUTKServerTest, AppThatStopsReadingIsClosedOnceItsMessagesPassTheLimit)
{
    LoopP2pClient app;
    const int session = openSession(app);
    ASSERT_GE(session, 0);
    auto client = std::make_shared<TUTKClient>(session);
    for (size_t i = 0; i < TUTKClient::kSendMessageLimit + 1; ++i)
        client->send(std::string("{}"));
    startAv(app, *client);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !client->isConnected(); }, kWaitMs));
    uint32_t type;
    std::string text;
    int got;
    while ((got = app.recvIoCtrl(kWaitMs, type, text)) >= 0) {
    }
    EXPECT_EQ(got, LoopP2pPeerClosed);
    client->stop();
}

TEST_F(TUTKServerTest, SessionWithoutChannelOrAvStartEndsStoppedAndClosed)
{
    // An unknown session has no free channel: the client stops instead of using channel 255.
    TUTKClient unknown(12345);
    unknown.start();
    EXPECT_FALSE(unknown.isConnected());
    EXPECT_FALSE(unknown.isRunning());

    // An abort before the start: the start returns at once and closes the session.
    LoopP2pClient app;
    const int session = openSession(app);
    ASSERT_GE(session, 0);
    TUTKClient client(session);
    client.abortStart();
    const auto t0 = std::chrono::steady_clock::now();
    client.start();
    EXPECT_LT(TestSupport::msSince(t0), kPromptStopMs);
    EXPECT_FALSE(client.isConnected());
    uint32_t type;
    std::string text;
    EXPECT_EQ(app.recvIoCtrl(kWaitMs, type, text), LoopP2pPeerClosed);
}

} // namespace

// While authentication is on, an app that has not logged in within its time is closed, and one
// that logged in stays; with it off, an app that never logs in stays as well.
TEST_F(TUTKServerTest, AppThatDoesNotLogInInTimeIsClosedWhileAuthIsOn)
{
    const double loginWithin = 1.0;
    startServer(TUTKServer::kLoginRetryMs, loginWithin);
    server->setAuth(1, "admin", "digest");
    ASSERT_TRUE(server->start());
    const auto t0 = std::chrono::steady_clock::now();
    std::unique_ptr<LoopP2pClient> stranger = connectApp();
    std::unique_ptr<LoopP2pClient> member = connectApp();
    uint32_t type = 0;
    std::string reply;
    ASSERT_EQ(member->sendIoCtrl(TUTKIoCtrlMessage, R"({"id":1,"method":"Login"})"), 0);
    ASSERT_GT(member->recvIoCtrl(kWaitMs, type, reply), 0);

    EXPECT_EQ(stranger->recvIoCtrl(4 * kWaitMs, type, reply), LoopP2pPeerClosed);
    EXPECT_GE(TestSupport::msSince(t0), 900 * loginWithin);

    server->setAuth(0, "admin", "digest");
    std::unique_ptr<LoopP2pClient> guest = connectApp();
    // Well past its login time, nothing has ended it.
    EXPECT_EQ(guest->recvIoCtrl(static_cast<int>(2500 * loginWithin), type, reply), LoopP2pRecvTimeout);
    for (LoopP2pClient* app : {member.get(), guest.get()}) {
        ASSERT_EQ(app->sendIoCtrl(TUTKIoCtrlMessage, R"({"id":2,"method":"GetDeviceInfo"})"), 0);
        ASSERT_GT(app->recvIoCtrl(kWaitMs, type, reply), 0);
        EXPECT_EQ(reply, R"({"id":2,"method":"GetDeviceInfo","result":0})");
    }
}
