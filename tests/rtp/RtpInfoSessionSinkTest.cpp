#include "RtpPortManager.h"
#include "RtpSessionFakeSources.h"
#include "RtpSessionReceiver.h"
#include "RtpSessionRecorder.h"
#include "VexaAudioPacket.h"
#include "../VexaSDK/FakeVexaClient.h"

#include <gtest/gtest.h>

#include <future>
#include <random>

namespace {

class RtpInfoSessionSinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RtpPortManager::createInstance();
        ASSERT_TRUE(receiver.start());
    }
    void TearDown() override { RtpPortManager::destroyInstance(); }

    RtpSessionReceiver receiver;
    RtpSessionFakeSources sources;
};

} // namespace

// The HTTP sink of a channel with HTTP output is opened with the loop's codec, gets every packet
// that goes out, and is closed and deleted with the loop; without HTTP output there is none.
TEST_F(RtpInfoSessionSinkTest, HttpSinkLivesWithTheLoop)
{
    auto log = std::make_shared<RtpSessionFakeWriter::Log>();
    {
        RtpSessionDouble session(sources.factory());
        session.httpSink = log;
        RtpInfo info = RtpSessionFakeSources::channel(receiver.port(), 3);
        info.httpOutput = 1;
        session.setRtpInfo(info);
        ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
        EXPECT_EQ(log->opened, 1);
        EXPECT_EQ(log->openPayloadType, 14);
        EXPECT_EQ(log->openRate, 44100);
        EXPECT_EQ(log->openChannels, 2);
        ASSERT_TRUE(receiver.waitFor(10, 3000));
        session.stopAll(RtpInfo::kTriggerApiStop);
        EXPECT_EQ(log->closed, 1);
        EXPECT_EQ(log->deleted, 1);
        // The last datagrams may still be on their way through loopback.
        receiver.waitFor(log->written.load(), 3000);
        EXPECT_EQ(log->written.load(), receiver.count());
        EXPECT_EQ(log->lastPayloadType, 14);

        // HTTP output off: no sink.
        info.httpOutput = 0;
        session.setRtpInfo(info);
        ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
        ASSERT_TRUE(receiver.waitFor(15, 3000));
        session.stopAll(RtpInfo::kTriggerApiStop);
        EXPECT_EQ(log->made, 1);
    }
    EXPECT_EQ(log->writtenWhileClosed, 0);
}

// A sink that fails to open is dropped; the channel plays on.
TEST_F(RtpInfoSessionSinkTest, HttpSinkThatFailsToOpenIsDropped)
{
    auto log = std::make_shared<RtpSessionFakeWriter::Log>();
    log->failOpen = true;
    RtpSessionDouble session(sources.factory());
    session.httpSink = log;
    RtpInfo info = RtpSessionFakeSources::channel(receiver.port());
    info.httpOutput = 1;
    session.setRtpInfo(info);
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    EXPECT_EQ(log->closed, 1);
    EXPECT_EQ(log->deleted, 1);
    ASSERT_TRUE(receiver.waitFor(5, 3000));
    session.stopAll(RtpInfo::kTriggerApiStop);
    EXPECT_EQ(log->written, 0);
}

// A channel whose address names no destination sends no RTP, and its sinks hear it all the same.
TEST_F(RtpInfoSessionSinkTest, SinksAreFedWithoutRtp)
{
    for (const char* address : {"host.invalid:8000", "0.0.0.0:8000", "127.0.0.1:0"}) {
        SCOPED_TRACE(address);
        auto log = std::make_shared<RtpSessionFakeWriter::Log>();
        RtpSessionDouble session(sources.factory());
        session.httpSink = log;
        RtpInfo info = RtpSessionFakeSources::channel(0);
        info.address = QString::fromLatin1(address);
        info.httpOutput = 1;
        session.setRtpInfo(info);
        ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
        EXPECT_TRUE(RtpSessionFakeSources::waitUntil([&] { return log->written.load() >= 5; }, 3000));
        session.stopAll(RtpInfo::kTriggerApiStop);
    }
}

// A remote app that listens gets the channel's packets as frames, until it stops listening; a
// second listener replaces the first.
TEST_F(RtpInfoSessionSinkTest, ListenerGetsFrames)
{
    RtpSessionDouble session(sources.factory());
    session.setRtpInfo(RtpSessionFakeSources::channel(receiver.port()));
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    auto first = std::make_shared<FakeVexaClient>();
    auto second = std::make_shared<FakeVexaClient>();
    session.lock();
    EXPECT_EQ(session.startListen(first), 0);
    session.unlock();
    ASSERT_TRUE(first->waitSent(5, 3000));
    const VexaAudioPacket frame = first->sent().front();
    EXPECT_EQ(frame.payloadType, 0);
    EXPECT_EQ(frame.channels, 1);
    EXPECT_EQ(frame.sampleRate, 8000);
    EXPECT_EQ(frame.duration, 20000);
    EXPECT_EQ(frame.length(), 160);

    session.lock();
    EXPECT_EQ(session.startListen(second), 0);
    session.unlock();
    const size_t firstCount = first->sentCount();
    ASSERT_TRUE(second->waitSent(5, 3000));
    EXPECT_EQ(first->sentCount(), firstCount) << "the first listener was replaced";

    session.lock();
    session.stopListen();
    session.unlock();
    const size_t secondCount = second->sentCount();
    RtpSessionFakeSources::sleepMs(60);
    EXPECT_EQ(second->sentCount(), secondCount);
    session.stopAll(RtpInfo::kTriggerApiStop);
}

// Listeners come and go from one thread while another starts and stops the channel: no sink is
// written after it was closed, and every sink made is deleted.
TEST_F(RtpInfoSessionSinkTest, SinksSwappedWhilePacketsFlow)
{
    auto http = std::make_shared<RtpSessionFakeWriter::Log>();
    auto listen = std::make_shared<RtpSessionFakeWriter::Log>();
    {
        RtpSessionDouble session(sources.factory());
        session.httpSink = http;
        session.listenSink = listen;
        RtpInfo info = RtpSessionFakeSources::channel(receiver.port());
        info.httpOutput = 1;
        session.setRtpInfo(info);
        std::mutex listMutex;
        auto channel = std::async(std::launch::async, [&] {
            std::mt19937 random(3);
            for (int i = 0; i < 150; ++i) {
                {
                    std::lock_guard<std::mutex> lock(listMutex);
                    session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual);
                }
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 8000));
                std::lock_guard<std::mutex> lock(listMutex);
                session.stopAll(RtpInfo::kTriggerApiStop);
            }
        });
        auto listener = std::async(std::launch::async, [&] {
            std::mt19937 random(4);
            auto client = std::make_shared<FakeVexaClient>();
            for (int i = 0; i < 300; ++i) {
                std::lock_guard<std::mutex> lock(listMutex);
                session.lock();
                if (random() % 2)
                    session.startListen(client);
                else
                    session.stopListen();
                session.unlock();
            }
        });
        ASSERT_EQ(channel.wait_for(std::chrono::seconds(120)), std::future_status::ready) << "deadlock";
        ASSERT_EQ(listener.wait_for(std::chrono::seconds(120)), std::future_status::ready) << "deadlock";
        session.stopAll(RtpInfo::kTriggerApiStop);
        EXPECT_GT(http->written.load(), 0);
    }
    EXPECT_EQ(http->writtenWhileClosed, 0);
    EXPECT_EQ(listen->writtenWhileClosed, 0);
    EXPECT_EQ(http->made.load(), http->deleted.load());
    EXPECT_EQ(listen->made.load(), listen->deleted.load());
    EXPECT_EQ(listen->opened.load(), listen->closed.load());
}
