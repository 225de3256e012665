#include "RTPAudioPacket.h"
#include "RTPSDKWriter.h"
#include "RtpInfo.h"
#include "TestSupport.h"

#include "../VexaSDK/FakeVexaClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

std::unique_ptr<RTPAudioPacket> packet(int payloadType, int length, double duration, int rate, int channels,
                                       int fill)
{
    auto p = std::make_unique<RTPAudioPacket>();
    p->payloadType = payloadType;
    const QByteArray bytes(length, static_cast<char>(fill));
    p->setPayload(bytes.constData(), bytes.size());
    p->duration = duration;
    p->sampleRate = rate;
    p->channels = channels;
    return p;
}

class RTPSDKWriterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        client = std::make_shared<FakeVexaClient>();
        writer.setClient(client);
        info.id = 7;
    }
    std::shared_ptr<FakeVexaClient> client;
    RTPSDKWriter writer;
    RtpInfo info;
};

TEST_F(RTPSDKWriterTest, PacketsReachTheClientAsFrames)
{
    struct Case
    {
        int payloadType, length;
        double duration;
        int rate, channels;
        int wantDuration, wantLength;
    } cases[] = {
        {0, 160, 0.020, 8000, 1, 20000, 160},
        {8, 160, 0.020, 8000, 1, 20000, 160},
        // MP3 keeps its RFC 2250 header: the remote app's source strips it.
        {14, 417, 1152.0 / 44100, 44100, 2, 26122, 421},
        {11, 440, 0.005, 44100, 1, 5000, 440},
        {9, 160, 0.0145, 16000, 1, 14500, 160},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payloadType);
        ASSERT_EQ(writer.open(&info, c.payloadType, c.rate, c.channels), 0);
        EXPECT_TRUE(writer.isOpen());
        EXPECT_EQ(writer.payloadType(), c.payloadType);
        const size_t before = client->sentCount();
        auto p = packet(c.payloadType, c.length, c.duration, c.rate, c.channels, 0x55);
        EXPECT_EQ(writer.write(p.get()), 0);
        ASSERT_TRUE(client->waitSent(before + 1, 2000));
        const VexaAudioPacket frame = client->sent().back();
        EXPECT_EQ(frame.payloadType, c.payloadType);
        EXPECT_EQ(frame.channels, c.channels);
        EXPECT_EQ(frame.sampleRate, c.rate);
        EXPECT_EQ(frame.duration, c.wantDuration);
        ASSERT_EQ(frame.length(), c.wantLength);
        const QByteArray payload(reinterpret_cast<const char*>(frame.payloadBytes()), frame.length());
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(p->data), p->length), payload);
        if (c.payloadType == 14) {
            EXPECT_EQ(payload.left(4), QByteArray(4, '\0'));
        }
        writer.close();
        EXPECT_FALSE(writer.isOpen());
        EXPECT_EQ(writer.payloadType(), -1);
    }
}

TEST_F(RTPSDKWriterTest, WritingToAClosedSinkFails)
{
    auto p = packet(0, 160, 0.02, 8000, 1, 1);
    EXPECT_EQ(writer.write(p.get()), -1);
    ASSERT_EQ(writer.open(&info, 0, 8000, 1), 0);
    EXPECT_EQ(writer.write(p.get()), 0);
    writer.close();
    EXPECT_EQ(writer.write(p.get()), -1);
    RTPSDKWriter withoutClient;
    EXPECT_EQ(withoutClient.open(&info, 0, 8000, 1), -1);
    EXPECT_FALSE(withoutClient.isOpen());
}

TEST_F(RTPSDKWriterTest, PacketsArriveInOrder)
{
    ASSERT_EQ(writer.open(&info, 8, 8000, 1), 0);
    for (int i = 0; i < 300; ++i) {
        auto p = packet(8, 160, 0.02, 8000, 1, i);
        ASSERT_EQ(writer.write(p.get()), 0);
        // Bursts of 20, far below the queue's limit: a sender that waited for a core meanwhile
        // still loses nothing, so every packet has to come out, in order.
        if (i % 20 == 19) {
            ASSERT_TRUE(TestSupport::waitUntil([&] { return writer.queued() == 0; }, 5000));
        }
    }
    ASSERT_TRUE(client->waitSent(300, 5000));
    const auto frames = client->sent();
    ASSERT_EQ(frames.size(), 300u);
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(frames[static_cast<size_t>(i)].payloadBytes()[0], static_cast<unsigned char>(i));
}

TEST_F(RTPSDKWriterTest, AClientThatFallsBehindKeepsOnlyTheNewestPackets)
{
    client->setGateOpen(false);
    ASSERT_EQ(writer.open(&info, 8, 8000, 1), 0);
    for (int i = 0; i < 1000; ++i) {
        auto p = packet(8, 160, 0.02, 8000, 1, i);
        ASSERT_EQ(writer.write(p.get()), 0);
        EXPECT_LE(writer.queued(), RTPSDKWriter::kQueueLimit);
    }
    client->setGateOpen(true);
    // The newest packet comes through; before it at most the queue and the one frame held at
    // the gate.
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] {
            const auto sent = client->sent();
            return writer.queued() == 0 && !sent.empty()
                   && sent.back().payloadBytes()[0] == static_cast<unsigned char>(999);
        },
        5000));
    const auto frames = client->sent();
    EXPECT_LE(frames.size(), static_cast<size_t>(RTPSDKWriter::kQueueLimit + 1));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().payloadBytes()[0], static_cast<unsigned char>(999));
}

TEST_F(RTPSDKWriterTest, ADisconnectedClientEndsTheSenderAndWritesFail)
{
    ASSERT_EQ(writer.open(&info, 0, 8000, 1), 0);
    auto p = packet(0, 160, 0.02, 8000, 1, 1);
    EXPECT_EQ(writer.write(p.get()), 0);
    client->setConnected(false);
    int result = 0;
    const auto t0 = std::chrono::steady_clock::now();
    while (result == 0 && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(2)) {
        result = writer.write(p.get());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(result, -1);
    // The sink stays open until the session closes it, and holds nothing meanwhile.
    EXPECT_TRUE(writer.isOpen());
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(writer.write(p.get()), -1);
    EXPECT_EQ(writer.queued(), 0);
    writer.close();
    EXPECT_FALSE(writer.isOpen());
}

} // namespace
