#include "FakeVexaClient.h"
#include "VexaAudioPacket.h"

#include <gtest/gtest.h>

#include <thread>
#include <utility>

namespace {

VexaAudioPacket frame(int index)
{
    VexaAudioPacket packet;
    packet.payloadType = 8;
    packet.channels = 1;
    packet.sampleRate = 8000;
    packet.duration = 20000;
    const QByteArray bytes(160, static_cast<char>(index));
    packet.setPayload(bytes.constData(), bytes.size());
    return packet;
}

TEST(VexaAudioPacket, NewPacketIsEmptyAndPayloadsSurviveCopiesAndMoves)
{
    VexaAudioPacket empty;
    EXPECT_EQ(empty.payloadType, 0);
    EXPECT_EQ(empty.channels, 0);
    EXPECT_EQ(empty.sampleRate, 0);
    EXPECT_EQ(empty.duration, 0);
    EXPECT_EQ(empty.length(), 0);

    VexaAudioPacket a = frame(1);
    VexaAudioPacket b = a;            // copy
    VexaAudioPacket c = std::move(a); // move
    b.payload[0] = 9;                 // a copy changes alone
    EXPECT_EQ(c.payload[0], 1);
    EXPECT_EQ(b.payload[0], 9);
    c = b;
    c = std::move(b);
    EXPECT_EQ(c.length(), 160);
    EXPECT_EQ(c.duration, 20000);
    c.setPayload(nullptr, 5);
    EXPECT_EQ(c.length(), 0);
    c.setPayload("abc", -1);
    EXPECT_EQ(c.length(), 0);
    c.clear();
    EXPECT_EQ(c.sampleRate, 0);
}

TEST(VexaAudioPacket, ReadAudioRefillsOnePacketAndClearsItWhenNothingIsQueued)
{
    FakeVexaClient client;
    VexaAudioPacket packet = frame(3);
    client.readAudio(packet);
    EXPECT_EQ(packet.length(), 0);
    EXPECT_EQ(packet.sampleRate, 0);
    for (int i = 0; i < 150; ++i)
        client.receive(frame(i));
    EXPECT_EQ(client.receivedQueued(), static_cast<size_t>(VexaClient::kAudioQueueLimit));
    // The oldest gave way; the same packet object is refilled again and again.
    for (int i = 50; i < 150; ++i) {
        client.readAudio(packet);
        ASSERT_EQ(packet.length(), 160);
        EXPECT_EQ(static_cast<unsigned char>(packet.payload[0]), static_cast<unsigned char>(i));
    }
    client.readAudio(packet);
    EXPECT_EQ(packet.length(), 0);
}

TEST(VexaAudioPacket, ReadingOnOneThreadWhileAnotherSendsAndReceives)
{
    FakeVexaClient client(10);
    std::thread producer([&] {
        for (int i = 0; i < 5000; ++i) {
            client.receive(frame(i));
            client.sendAudio(frame(i));
        }
    });
    VexaAudioPacket packet;
    int got = 0;
    for (int i = 0; i < 20000 && got < 5000; ++i) {
        client.readAudio(packet);
        got += packet.length() > 0;
    }
    producer.join();
    EXPECT_EQ(client.sentCount(), 5000u);
    EXPECT_LE(client.receivedQueued(), static_cast<size_t>(VexaClient::kAudioQueueLimit));
}

} // namespace
