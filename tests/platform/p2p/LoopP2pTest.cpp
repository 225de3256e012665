#include "LoopP2p.h"
#include "LoopP2pClient.h"
#include "LoopP2pSocket.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <csignal>
#include <future>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned int kIoCtrlJson = 0x800;
constexpr int kBuffer = 131068;

std::string uniqueUid()
{
    static std::atomic<int> counter{0};
    return "T" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

LoopP2pLoginInput loginInput()
{
    LoopP2pLoginInput input{};
    input.size = sizeof(input);
    std::memcpy(input.authKey, "73915264", 8);
    return input;
}

int acceptAll(const char*, const char*)
{
    return 0;
}

int refuseAll(const char*, const char*)
{
    return -1;
}

struct AvStart
{
    explicit AvStart(int session, uint32_t timeoutSeconds = 10,
                     LoopP2pAuthCheck check = acceptAll)
    {
        input.size = sizeof(input);
        input.session = session;
        input.timeoutSeconds = timeoutSeconds;
        input.value16 = 1;
        input.value20 = 1;
        input.authCheck = check;
        output.size = sizeof(output);
    }
    int run() { return avServStartEx(&input, &output); }

    LoopP2pAvStartInput input{};
    LoopP2pAvStartOutput output{};
};

class LoopP2pTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(IOTC_Initialize2(0), 0);
        ASSERT_EQ(IOTC_Set_Max_Session_Number(3), 0);
        ASSERT_EQ(avInitialize(32), 32);
        uid = uniqueUid();
        const LoopP2pLoginInput input = loginInput();
        ASSERT_EQ(IOTC_Device_LoginEx(uid.c_str(), &input), 0);
    }

    void TearDown() override
    {
        avDeInitialize();
        IOTC_DeInitialize();
    }

    // A session as the device's listen sees it, with the client connected to it.
    int openSession(LoopP2pClient& client)
    {
        auto listen = std::async(std::launch::async, [] { return IOTC_Listen(5000); });
        const int connected = client.connect(uid, 5000);
        const int session = listen.get();
        EXPECT_EQ(connected, 0);
        EXPECT_GE(session, 0);
        return session;
    }

    // A session with its AV server started; returns the AV index.
    int openAv(LoopP2pClient& client, int* sessionOut = nullptr)
    {
        const int session = openSession(client);
        if (sessionOut)
            *sessionOut = session;
        AvStart start(session);
        auto av = std::async(std::launch::async, [&] { return start.run(); });
        EXPECT_EQ(client.startAv("admin", "secret", 5000), 0);
        return av.get();
    }

    std::string uid;
};

TEST_F(LoopP2pTest, FourthSessionIsRefusedUntilOneCloses)
{
    LoopP2pClient clients[4];
    int sessions[3];
    for (int i = 0; i < 3; ++i)
        sessions[i] = openSession(clients[i]);
    EXPECT_LT(sessions[0], sessions[1]);
    EXPECT_LT(sessions[1], sessions[2]);

    auto listen = std::async(std::launch::async, [] { return IOTC_Listen(5000); });
    EXPECT_EQ(clients[3].connect(uid, 5000), LoopP2pListenRefused);
    EXPECT_EQ(listen.get(), LoopP2pListenRefused);

    // A session the app left still counts until the device closes it.
    clients[1].close();
    auto again = std::async(std::launch::async, [] { return IOTC_Listen(5000); });
    EXPECT_EQ(clients[3].connect(uid, 5000), LoopP2pListenRefused);
    EXPECT_EQ(again.get(), LoopP2pListenRefused);

    EXPECT_EQ(IOTC_Session_Close(sessions[1]), 0);
    EXPECT_EQ(IOTC_Session_Close(sessions[1]), LoopP2pNoSession);
    const int next = openSession(clients[3]);
    EXPECT_GT(next, sessions[2]) << "session ids are never reused";
}

TEST_F(LoopP2pTest, ListenWithoutSessionTimesOut)
{
    const auto t0 = Clock::now();
    EXPECT_EQ(IOTC_Listen(50), LoopP2pListenTimeout);
    EXPECT_GE(TestSupport::msSince(t0), 45);
}

TEST_F(LoopP2pTest, IoCtrlKeepsTypeAndOrderAndDropsWhatDoesNotFit)
{
    LoopP2pClient client;
    const int av = openAv(client);
    ASSERT_GE(av, 0);
    const std::vector<std::pair<unsigned int, size_t>> messages = {
        {0x800, 0}, {0x801, 1}, {0x800, kBuffer}, {0x802, kBuffer + 1}, {0x800, 5}};
    for (const auto& m : messages)
        ASSERT_EQ(client.sendIoCtrl(m.first, std::string(m.second, char('a' + m.second % 26))), 0);

    std::vector<char> buffer(kBuffer);
    for (const auto& m : messages) {
        unsigned int type = 0;
        const int got = avRecvIOCtrl(av, &type, buffer.data(), kBuffer, 2000);
        if (m.second > static_cast<size_t>(kBuffer)) {
            EXPECT_EQ(got, LoopP2pRecvTooLarge);
            continue;
        }
        ASSERT_EQ(got, static_cast<int>(m.second));
        EXPECT_EQ(type, m.first);
        EXPECT_EQ(std::string(buffer.data(), got), std::string(m.second, char('a' + m.second % 26)));
    }
    unsigned int type = 0;
    EXPECT_EQ(avRecvIOCtrl(av, &type, buffer.data(), kBuffer, 20), LoopP2pRecvTimeout);

    // And back to the app.
    ASSERT_EQ(avSendIOCtrl(av, kIoCtrlJson, "{\"method\":\"x\"}", 14), 0);
    uint32_t appType = 0;
    std::string data;
    ASSERT_EQ(client.recvIoCtrl(2000, appType, data), 14);
    EXPECT_EQ(appType, kIoCtrlJson);
    EXPECT_EQ(data, "{\"method\":\"x\"}");
}

TEST_F(LoopP2pTest, PeerEofDeliversQueuedFirstThenClosed)
{
    LoopP2pClient client;
    int session = -1;
    const int av = openAv(client, &session);
    ASSERT_GE(av, 0);
    char buffer[64];
    unsigned int type = 0;
    auto waiting = std::async(std::launch::async, [&] {
        return avRecvIOCtrl(av, &type, buffer, sizeof(buffer), 5000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // let the receive wait first
    ASSERT_EQ(client.sendIoCtrl(kIoCtrlJson, "one"), 0);
    ASSERT_EQ(client.sendIoCtrl(kIoCtrlJson, "two"), 0);
    EXPECT_EQ(waiting.get(), 3);
    client.close();

    EXPECT_EQ(avRecvIOCtrl(av, &type, buffer, sizeof(buffer), 5000), 3);
    EXPECT_EQ(std::string(buffer, 3), "two");
    const auto t0 = Clock::now();
    EXPECT_EQ(avRecvIOCtrl(av, &type, buffer, sizeof(buffer), 5000), LoopP2pPeerClosed);
    EXPECT_LT(TestSupport::msSince(t0), 1000);

    EXPECT_EQ(avServStop(av), 0);
    EXPECT_EQ(avServStop(av), LoopP2pNoAv);
    EXPECT_EQ(avRecvIOCtrl(av, &type, buffer, sizeof(buffer), 10), LoopP2pNoAv);
    EXPECT_EQ(IOTC_Session_Close(session), 0);
    EXPECT_EQ(IOTC_Session_Close(session), LoopP2pNoSession);

    LoopP2pClient next;
    const int nextAv = openAv(next);
    EXPECT_GT(nextAv, av) << "AV indexes are never reused";
}

TEST_F(LoopP2pTest, CloseAndStopWakeWaitingReceives)
{
    LoopP2pClient client;
    int session = -1;
    const int av = openAv(client, &session);
    char buffer[16];
    unsigned int type = 0;
    auto waiting = std::async(std::launch::async, [&] {
        return avRecvIOCtrl(av, &type, buffer, sizeof(buffer), 10000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto t0 = Clock::now();
    EXPECT_EQ(avServStop(av), 0);
    EXPECT_EQ(waiting.get(), LoopP2pNoAv);
    EXPECT_LT(TestSupport::msSince(t0), 1000);
    EXPECT_EQ(IOTC_Session_Close(session), 0);
    uint32_t appType;
    std::string data;
    EXPECT_EQ(client.recvIoCtrl(2000, appType, data), LoopP2pPeerClosed);
}

TEST_F(LoopP2pTest, AvStartTimesOutAbortsAndRefuses)
{
    LoopP2pClient client;
    const int session = openSession(client);

    AvStart timed(session, 1);
    auto t0 = Clock::now();
    EXPECT_EQ(timed.run(), LoopP2pAvTimeout);
    EXPECT_GE(TestSupport::msSince(t0), 950);
    EXPECT_LT(TestSupport::msSince(t0), 5000);

    AvStart pending(session, 10);
    auto start = std::async(std::launch::async, [&] { return pending.run(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    t0 = Clock::now();
    EXPECT_EQ(avServExit(session, 0), 0);
    EXPECT_EQ(start.get(), LoopP2pAvAborted);
    EXPECT_LT(TestSupport::msSince(t0), 500);

    // An exit that comes before the start still aborts it.
    EXPECT_EQ(avServExit(session, 0), 0);
    AvStart late(session, 10);
    t0 = Clock::now();
    EXPECT_EQ(late.run(), LoopP2pAvAborted);
    EXPECT_LT(TestSupport::msSince(t0), 500);

    AvStart refusing(session, 10, refuseAll);
    auto refused = std::async(std::launch::async, [&] { return refusing.run(); });
    EXPECT_EQ(client.startAv("admin", "wrong", 5000), LoopP2pAvDenied);
    EXPECT_EQ(refused.get(), LoopP2pAvDenied);

    // A request sent before the start is kept and used at once.
    ASSERT_EQ(client.sendRaw(static_cast<uint8_t>(LoopP2pFrameKind::AvStart), std::string("a\0b\0", 4)), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    AvStart early(session, 10);
    EXPECT_GE(early.run(), 0);
}

TEST_F(LoopP2pTest, BadArgumentsAreRefusedAtOnce)
{
    LoopP2pClient client;
    const int session = openSession(client);
    AvStart wrongSize(session);
    wrongSize.input.size = 100;
    EXPECT_EQ(wrongSize.run(), LoopP2pBadArgument);
    AvStart wrongOutput(session);
    wrongOutput.output.size = 0;
    EXPECT_EQ(wrongOutput.run(), LoopP2pBadArgument);
    AvStart unknown(session + 1000);
    EXPECT_EQ(unknown.run(), LoopP2pNoSession);
    EXPECT_EQ(avServStartEx(nullptr, nullptr), LoopP2pBadArgument);
    EXPECT_EQ(IOTC_Session_Get_Free_Channel(session), 0);
    EXPECT_EQ(IOTC_Session_Get_Free_Channel(session + 1000), LoopP2pNoSession);

    const LoopP2pLoginInput good = loginInput();
    LoopP2pLoginInput bad = good;
    bad.size = 15;
    EXPECT_EQ(IOTC_Device_LoginEx(uid.c_str(), &good), LoopP2pNotLoggedIn) << "already logged in";
    EXPECT_EQ(IOTC_Device_LoginEx("other", &bad), LoopP2pBadArgument);
    for (const char* uidText : {"", "a b", "../x", "\xc3\xa9"})
        EXPECT_EQ(IOTC_Device_LoginEx(uidText, &good), LoopP2pBadArgument) << uidText;
    EXPECT_EQ(IOTC_Device_LoginEx(std::string(65, 'a').c_str(), &good), LoopP2pBadArgument);
    EXPECT_EQ(avSendIOCtrl(12345, 0x800, "x", 1), LoopP2pNoAv);
    EXPECT_EQ(avSendIOCtrl(12345, 0x800, nullptr, 1), LoopP2pBadArgument);

    EXPECT_EQ(client.connect("nobody-here", 500), LoopP2pNoDevice);
}

TEST_F(LoopP2pTest, UidHeldElsewhereIsRefusedAndFreedAtDeinit)
{
    const std::string held = uniqueUid();
    const int other = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address;
    const socklen_t length = LoopP2pSocket::address(held, address);
    ASSERT_EQ(::bind(other, reinterpret_cast<sockaddr*>(&address), length), 0);

    IOTC_DeInitialize();
    ASSERT_EQ(IOTC_Initialize2(0), 0);
    const LoopP2pLoginInput input = loginInput();
    EXPECT_EQ(IOTC_Device_LoginEx(held.c_str(), &input), LoopP2pUidInUse);
    ::close(other);
    EXPECT_EQ(IOTC_Device_LoginEx(held.c_str(), &input), 0);

    // De-initialising frees the name at once, even with a listen waiting on it.
    auto listen = std::async(std::launch::async, [] { return IOTC_Listen(10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto t0 = Clock::now();
    IOTC_DeInitialize();
    EXPECT_EQ(listen.get(), LoopP2pNotInitialized);
    EXPECT_LT(TestSupport::msSince(t0), 1000);
    EXPECT_EQ(IOTC_Device_LoginEx(held.c_str(), &input), LoopP2pNotInitialized);
    ASSERT_EQ(IOTC_Initialize2(0), 0);
    EXPECT_EQ(IOTC_Device_LoginEx(held.c_str(), &input), 0);
}

TEST_F(LoopP2pTest, DeinitClosesSessionsAndWakesStarts)
{
    LoopP2pClient client;
    const int session = openSession(client);
    AvStart pending(session, 10);
    auto start = std::async(std::launch::async, [&] { return pending.run(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto t0 = Clock::now();
    IOTC_DeInitialize();
    EXPECT_EQ(start.get(), LoopP2pAvAborted);
    EXPECT_LT(TestSupport::msSince(t0), 1000);
    uint32_t type;
    std::string data;
    EXPECT_EQ(client.recvIoCtrl(2000, type, data), LoopP2pPeerClosed);
}

TEST_F(LoopP2pTest, AudioBothWaysWholeWithInfoVerbatim)
{
    LoopP2pClient client;
    const int av = openAv(client);
    ASSERT_GE(av, 0);
    LoopP2pFrameInfo info{};
    info.codec = 137;
    info.flags = 2;
    info.reserved[12] = 7;
    std::string frame(1928, '\0');
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<char>(i * 7);
    ASSERT_EQ(client.sendAudio(info, frame), 0);

    std::vector<char> buffer(64 * 1024);
    char gotInfo[16] = {};
    unsigned int number = 99;
    int got = LoopP2pRecvTimeout;
    const auto t0 = Clock::now();
    while (got == LoopP2pRecvTimeout && TestSupport::msSince(t0) < 5000)
        got = avRecvAudioData(av, buffer.data(), int(buffer.size()), gotInfo, 16, &number);
    ASSERT_EQ(got, 1928);
    EXPECT_EQ(std::string(buffer.data(), got), frame);
    EXPECT_EQ(std::memcmp(gotInfo, &info, 16), 0);
    EXPECT_EQ(number, 0u);
    EXPECT_EQ(avRecvAudioData(av, buffer.data(), 1000, gotInfo, 16, &number), LoopP2pRecvTimeout);

    ASSERT_EQ(avSendAudioData(av, frame.data(), int(frame.size()), &info, 16), 0);
    LoopP2pFrameInfo appInfo{};
    std::string appFrame;
    ASSERT_EQ(client.recvAudio(2000, appInfo, appFrame), 1928);
    EXPECT_EQ(appFrame, frame);
    EXPECT_EQ(appInfo.codec, 137);
    EXPECT_EQ(appInfo.flags, 2);
}

TEST_F(LoopP2pTest, AudioQueueKeepsTheNewestHundred)
{
    LoopP2pClient client;
    const int av = openAv(client);
    LoopP2pFrameInfo info{};
    for (int i = 0; i < 150; ++i)
        ASSERT_EQ(client.sendAudio(info, std::to_string(i)), 0);
    // A marker behind the audio: once it is read, every frame before it was queued.
    ASSERT_EQ(client.sendIoCtrl(kIoCtrlJson, "end"), 0);
    char buffer[64];
    unsigned int type;
    ASSERT_EQ(avRecvIOCtrl(av, &type, buffer, sizeof(buffer), 5000), 3);
    char gotInfo[16];
    unsigned int number;
    std::vector<std::string> frames;
    int got;
    while ((got = avRecvAudioData(av, buffer, sizeof(buffer), gotInfo, 16, &number)) > 0)
        frames.emplace_back(buffer, got);
    ASSERT_EQ(frames.size(), 100u);
    EXPECT_EQ(frames.front(), "50");
    EXPECT_EQ(frames.back(), "149");
}

TEST_F(LoopP2pTest, MalformedFramesAreDroppedOrEndTheSession)
{
    LoopP2pClient client;
    const int av = openAv(client);
    ASSERT_EQ(client.sendRaw(99, "unknown kind"), 0);
    ASSERT_EQ(client.sendRaw(static_cast<uint8_t>(LoopP2pFrameKind::IoCtrl), "ab"), 0);
    ASSERT_EQ(client.sendRaw(static_cast<uint8_t>(LoopP2pFrameKind::Audio), "short"), 0);
    ASSERT_EQ(client.sendIoCtrl(kIoCtrlJson, "ok"), 0);
    char buffer[64];
    unsigned int type;
    EXPECT_EQ(avRecvIOCtrl(av, &type, buffer, sizeof(buffer), 5000), 2);
    char info[16];
    unsigned int number;
    EXPECT_EQ(avRecvAudioData(av, buffer, sizeof(buffer), info, 16, &number), LoopP2pRecvTimeout);

    // A length over the bound ends the session without allocating it.
    ASSERT_EQ(client.sendRawHeader(static_cast<uint8_t>(LoopP2pFrameKind::IoCtrl),
                                   LoopP2pFrameReader::kMaxBody + 1), 0);
    EXPECT_EQ(avRecvIOCtrl(av, &type, buffer, sizeof(buffer), 5000), LoopP2pPeerClosed);
    uint32_t appType;
    std::string data;
    EXPECT_EQ(client.recvIoCtrl(2000, appType, data), LoopP2pPeerClosed);
}

TEST_F(LoopP2pTest, AppThatNeverReadsFailsTheSendWithoutSignal)
{
    auto* previous = std::signal(SIGPIPE, [](int) { std::abort(); });
    LoopP2pClient client;
    const int av = openAv(client);
    const std::string chunk(60000, 'x');
    LoopP2pFrameInfo info{};
    int result = 0;
    const auto t0 = Clock::now();
    while (result == 0 && TestSupport::msSince(t0) < 20000)
        result = avSendAudioData(av, chunk.data(), int(chunk.size()), &info, 16);
    EXPECT_EQ(result, LoopP2pSendFailed);
    EXPECT_LT(TestSupport::msSince(t0), 10000);
    // The session is shut down: the next send fails at once, also after the app left.
    client.close();
    EXPECT_EQ(avSendIOCtrl(av, kIoCtrlJson, "x", 1), LoopP2pSendFailed);
    std::signal(SIGPIPE, previous);
}

TEST_F(LoopP2pTest, CloseBreaksOffASendStalledByTheApp)
{
    LoopP2pClient client;
    int session = -1;
    const int av = openAv(client, &session);
    std::atomic<bool> stalled{false};
    std::thread sender([&] {
        const std::string chunk(60000, 'x');
        LoopP2pFrameInfo info{};
        while (avSendAudioData(av, chunk.data(), int(chunk.size()), &info, 16) == 0)
            stalled = true;
    });
    // Once a few frames went the buffers are full and the next send waits for room.
    const auto t0 = Clock::now();
    while (!stalled && TestSupport::msSince(t0) < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto t1 = Clock::now();
    EXPECT_EQ(IOTC_Session_Close(session), 0);
    EXPECT_LT(TestSupport::msSince(t1), 1000) << "not the 2-s stall limit";
    sender.join();
}

TEST_F(LoopP2pTest, IoCtrlQueueHoldsBackTheAppInsteadOfDropping)
{
    LoopP2pClient client;
    const int av = openAv(client);
    // Far more than the queue holds; the app's writes wait while the device does not read.
    constexpr int kCount = 1000;
    std::thread sender([&] {
        for (int i = 0; i < kCount; ++i)
            client.sendIoCtrl(kIoCtrlJson, std::to_string(i) + std::string(1000, ' '));
    });
    char buffer[2048];
    unsigned int type;
    for (int i = 0; i < kCount; ++i) {
        const int got = avRecvIOCtrl(av, &type, buffer, sizeof(buffer), 5000);
        ASSERT_GT(got, 0) << i;
        EXPECT_EQ(std::stoi(std::string(buffer, got)), i);
    }
    sender.join();
}

} // namespace
