#include "FakeVexaClient.h"
#include "VexaAudioPacket.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

VexaAudioPacket frame(int payloadType, int channels, int sampleRate, int duration, const Bytes& payload)
{
    VexaAudioPacket packet;
    packet.payloadType = payloadType;
    packet.channels = channels;
    packet.sampleRate = sampleRate;
    packet.duration = duration;
    packet.setPayload(payload.data(), static_cast<int>(payload.size()));
    return packet;
}

Bytes payloadOf(const VexaAudioPacket& packet)
{
    const uint8_t* bytes = packet.payloadBytes();
    return bytes ? Bytes(bytes, bytes + packet.length()) : Bytes();
}

// The wire form, byte for byte, and back through both read forms.
TEST(VexaAudioPacket, WireFormRoundTrips)
{
    const struct
    {
        int payloadType, channels, sampleRate, duration;
        Bytes payload;
        Bytes wire;
    } rows[] = {
        {8, 1, 48000, 20000, {1, 2, 3}, {0x08, 0x01, 0xBB, 0x80, 0x00, 0x00, 0x4E, 0x20, 1, 2, 3}},
        {0, 2, 8000, 1, {}, {0x00, 0x02, 0x1F, 0x40, 0x00, 0x00, 0x00, 0x01}},
        {14, 2, 44100, 26122, {0xFF}, {0x0E, 0x02, 0xAC, 0x44, 0x00, 0x00, 0x66, 0x0A, 0xFF}},
        {11, 1, 65535, 1000000, {0, 0}, {0x0B, 0x01, 0xFF, 0xFF, 0x00, 0x0F, 0x42, 0x40, 0, 0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.payloadType);
        const VexaAudioPacket packet = frame(row.payloadType, row.channels, row.sampleRate, row.duration, row.payload);
        EXPECT_EQ(packet.writeTo(nullptr, 0, 0), int(row.wire.size()));
        Bytes out(row.wire.size() + 4, 0xAA);
        // At a position: the bytes around it stay as they were.
        EXPECT_EQ(packet.writeTo(out, 2, int(out.size())), int(row.wire.size()));
        EXPECT_EQ(Bytes(out.begin() + 2, out.end() - 2), row.wire);
        EXPECT_EQ(out[1], 0xAA);
        EXPECT_EQ(out.back(), 0xAA);

        VexaAudioPacket raw;
        ASSERT_TRUE(raw.readFrom(out.data(), 2, int(row.wire.size())));
        VexaAudioPacket inside;
        ASSERT_TRUE(inside.readFrom(out, 2, int(row.wire.size())));
        for (const VexaAudioPacket* read : {&raw, &inside}) {
            EXPECT_EQ(read->payloadType, row.payloadType);
            EXPECT_EQ(read->channels, row.channels);
            EXPECT_EQ(read->sampleRate, row.sampleRate);
            EXPECT_EQ(read->duration, row.duration);
            EXPECT_EQ(payloadOf(*read), row.payload);
            EXPECT_EQ(read->checkHeader(), VexaAudioPacket::kHeaderOk);
        }
        // The vector form refers to its bytes inside the message.
        EXPECT_EQ(inside.payload.data, out);
        EXPECT_EQ(inside.payload.offset, 2 + 8);
        EXPECT_EQ(inside.payload.length, int(row.payload.size()));
        EXPECT_EQ(raw.payload.offset, 0);
    }
}

// Too little room writes nothing but still tells the size needed.
TEST(VexaAudioPacket, WritesOnlyWhatFits)
{
    const VexaAudioPacket packet = frame(0, 1, 8000, 20000, Bytes(160, 0x55));
    const struct
    {
        int bufferSize, position, capacity;
        bool written;
    } rows[] = {
        {168, 0, 168, true},    {168, 0, 167, false},  {168, 0, 0, false},
        {200, 32, 200, true},   {200, 33, 200, false}, {200, -1, 200, false},
        {168, 0, 169, false},   // a capacity beyond the vector
        {168, 0x7FFFFFF0, 0x7FFFFFFF, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.position << "/" << row.capacity);
        Bytes out(size_t(row.bufferSize), 0xAA);
        EXPECT_EQ(packet.writeTo(out, row.position, row.capacity), 168);
        EXPECT_EQ(out != Bytes(size_t(row.bufferSize), 0xAA), row.written);
        // The raw form trusts the capacity, but never writes past it.
        if (row.capacity <= row.bufferSize) {
            Bytes raw(size_t(row.bufferSize), 0xAA);
            EXPECT_EQ(packet.writeTo(raw.data(), row.position, row.capacity), 168);
            EXPECT_EQ(raw != Bytes(size_t(row.bufferSize), 0xAA), row.written);
        }
    }
}

// Fewer than 8 bytes, or bytes that are not all there, leave the packet as it was.
TEST(VexaAudioPacket, ShortOrMissingBytesChangeNothing)
{
    const Bytes message = {0x08, 0x01, 0x1F, 0x40, 0x00, 0x00, 0x4E, 0x20, 9, 9};
    for (int count = 0; count < 8; ++count) {
        VexaAudioPacket raw = frame(0, 2, 16000, 5, {7});
        VexaAudioPacket inside = raw;
        EXPECT_FALSE(raw.readFrom(message.data(), 0, count));
        EXPECT_FALSE(inside.readFrom(message, 0, count));
        for (const VexaAudioPacket* read : {&raw, &inside}) {
            EXPECT_EQ(read->payloadType, 0);
            EXPECT_EQ(read->channels, 2);
            EXPECT_EQ(read->sampleRate, 16000);
            EXPECT_EQ(payloadOf(*read), Bytes{7});
        }
        EXPECT_EQ(raw.parse(message.data(), count), VexaAudioPacket::kHeaderShort);
    }
    // Exactly 8 bytes: the header, with an empty payload.
    VexaAudioPacket eight;
    ASSERT_TRUE(eight.readFrom(message, 0, 8));
    EXPECT_EQ(eight.payloadType, 8);
    EXPECT_EQ(eight.duration, 20000);
    EXPECT_EQ(eight.length(), 0);
    EXPECT_EQ(eight.payloadBytes(), nullptr);
    // The vector form checks position and count against the vector.
    VexaAudioPacket outside;
    EXPECT_FALSE(outside.readFrom(message, 3, 8));
    EXPECT_FALSE(outside.readFrom(message, -1, 8));
    EXPECT_FALSE(outside.readFrom(message, 0, 11));
    EXPECT_EQ(outside.sampleRate, 0);
}

// The header every receiver checks: codec payload types, 1 or 2 channels, 1 us to 1 s.
TEST(VexaAudioPacket, HeaderCheck)
{
    const struct
    {
        Bytes header;
        VexaAudioPacket::HeaderStatus status;
        int payloadType, channels;
    } rows[] = {
        {{0x00, 0x01, 0x1F, 0x40, 0x00, 0x00, 0x4E, 0x20}, VexaAudioPacket::kHeaderOk, 0, 1},
        {{0x0E, 0x02, 0xAC, 0x44, 0x00, 0x0F, 0x42, 0x40}, VexaAudioPacket::kHeaderOk, 14, 2},
        {{0xFF, 0x01, 0x1F, 0x40, 0x00, 0x00, 0x4E, 0x20}, VexaAudioPacket::kHeaderPayloadType, -1, 1},
        {{0x0D, 0x01, 0x1F, 0x40, 0x00, 0x00, 0x4E, 0x20}, VexaAudioPacket::kHeaderPayloadType, 13, 1},
        {{0x08, 0x03, 0x1F, 0x40, 0x00, 0x00, 0x4E, 0x20}, VexaAudioPacket::kHeaderChannels, 8, 3},
        {{0x08, 0xFF, 0x1F, 0x40, 0x00, 0x00, 0x4E, 0x20}, VexaAudioPacket::kHeaderChannels, 8, -1},
        {{0x08, 0x00, 0x1F, 0x40, 0x00, 0x00, 0x4E, 0x20}, VexaAudioPacket::kHeaderChannels, 8, 0},
        {{0x08, 0x01, 0x1F, 0x40, 0x00, 0x00, 0x00, 0x00}, VexaAudioPacket::kHeaderDuration, 8, 1},
        {{0x08, 0x01, 0x1F, 0x40, 0x00, 0x1E, 0x84, 0x80}, VexaAudioPacket::kHeaderDuration, 8, 1}, // 2 s
        {{0x08, 0x01, 0x1F, 0x40, 0x00, 0x0F, 0x42, 0x41}, VexaAudioPacket::kHeaderDuration, 8, 1}, // 1 s + 1 us
        {{0x08, 0x01, 0x1F, 0x40, 0xFF, 0xFF, 0xFF, 0xFF}, VexaAudioPacket::kHeaderDuration, 8, 1}, // -1
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << int(row.header[0]) << "," << int(row.header[1]));
        VexaAudioPacket read;
        ASSERT_TRUE(read.readFrom(row.header, 0, 8));
        EXPECT_EQ(read.payloadType, row.payloadType);
        EXPECT_EQ(read.channels, row.channels);
        EXPECT_EQ(read.checkHeader(), row.status);
        EXPECT_STRNE(VexaAudioPacket::headerStatusText(row.status), "unknown");
        // parse fills the packet only with an acceptable frame.
        Bytes message = row.header;
        message.push_back(0x42);
        VexaAudioPacket parsed = frame(9, 2, 16000, 7, {1});
        EXPECT_EQ(parsed.parse(message.data(), int(message.size())), row.status);
        if (row.status == VexaAudioPacket::kHeaderOk) {
            EXPECT_EQ(parsed.payloadType, row.payloadType);
            EXPECT_EQ(payloadOf(parsed), Bytes{0x42});
        } else {
            EXPECT_EQ(parsed.payloadType, 9);
            EXPECT_EQ(payloadOf(parsed), Bytes{1});
        }
    }
}

// A buffer whose fields disagree reads as empty rather than past its bytes.
TEST(VexaAudioPacket, BufferFieldsThatDisagreeReadAsEmpty)
{
    VexaBuffer buffer("abcd", 4);
    EXPECT_EQ(buffer.size(), 4);
    for (const auto& fields : {std::pair<int, int>{2, 3}, {-1, 2}, {0, -1}, {5, 0}}) {
        buffer.offset = fields.first;
        buffer.length = fields.second;
        EXPECT_EQ(buffer.size(), 0);
        EXPECT_EQ(buffer.bytes(), nullptr);
    }
    VexaAudioPacket packet;
    packet.payload = buffer;
    EXPECT_EQ(packet.writeTo(nullptr, 0, 0), 8);
    packet.payload.clear();
    EXPECT_EQ(packet.payload.data.size(), 0u);
    EXPECT_EQ(VexaBuffer(nullptr, 3).size(), 0);
    EXPECT_EQ(VexaBuffer("x", 0).size(), 0);
}

TEST(VexaAudioPacket, CopiesAreIndependentAndClearKeepsCapacity)
{
    VexaAudioPacket a = frame(8, 1, 8000, 20000, Bytes(160, 1));
    VexaAudioPacket b = a;
    b.payload.data[0] = 9;
    EXPECT_EQ(a.payloadBytes()[0], 1);
    EXPECT_EQ(b.payloadBytes()[0], 9);
    const size_t capacity = a.payload.data.capacity();
    a.clear();
    EXPECT_EQ(a.payloadType, 0);
    EXPECT_EQ(a.channels, 0);
    EXPECT_EQ(a.sampleRate, 0);
    EXPECT_EQ(a.duration, 0);
    EXPECT_EQ(a.length(), 0);
    EXPECT_EQ(a.payload.data.capacity(), capacity);
}

// The client's receive queue: the oldest of more than 100 frames give way; an empty queue
// clears the packet.
TEST(VexaAudioPacket, ReceiveQueueKeepsTheNewestHundred)
{
    FakeVexaClient client;
    VexaAudioPacket packet = frame(8, 1, 8000, 20000, {3});
    EXPECT_EQ(client.readAudio(packet), 0);
    EXPECT_EQ(packet.length(), 0);
    EXPECT_EQ(packet.sampleRate, 0);
    for (int i = 0; i < 150; ++i)
        client.receive(frame(8, 1, 8000, 20000, Bytes(160, uint8_t(i))));
    EXPECT_EQ(client.receivedQueued(), size_t(VexaClient::kAudioQueueLimit));
    for (int i = 50; i < 150; ++i) {
        ASSERT_EQ(client.readAudio(packet), 160);
        EXPECT_EQ(packet.payloadBytes()[0], uint8_t(i));
    }
    EXPECT_EQ(client.readAudio(packet), 0);
}

TEST(VexaAudioPacket, ReadingOnOneThreadWhileAnotherSendsAndReceives)
{
    FakeVexaClient client(10);
    std::thread producer([&] {
        for (int i = 0; i < 5000; ++i) {
            client.receive(frame(8, 1, 8000, 20000, Bytes(160, uint8_t(i))));
            client.sendAudio(frame(8, 1, 8000, 20000, Bytes(160, uint8_t(i))));
        }
    });
    VexaAudioPacket packet;
    int got = 0;
    for (int i = 0; i < 20000 && got < 5000; ++i)
        got += client.readAudio(packet) > 0;
    producer.join();
    EXPECT_EQ(client.sentCount(), 5000u);
    EXPECT_LE(client.receivedQueued(), size_t(VexaClient::kAudioQueueLimit));
}

} // namespace
