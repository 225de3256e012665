#include "RTPAudioPacketQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace {

RTPAudioPacket* packetNumbered(int n)
{
    RTPAudioPacket* p = new RTPAudioPacket;
    p->payloadType = 0;
    p->setData(&n, sizeof(n));
    return p;
}

int numberOf(const RTPAudioPacket* p)
{
    int n = -1;
    std::memcpy(&n, p->data, sizeof(n));
    return n;
}

} // namespace

TEST(RTPAudioPacketQueueTest, PopsInOrderAndNullWhenEmpty)
{
    RTPAudioPacketQueue queue;
    EXPECT_EQ(queue.pop(), nullptr);
    EXPECT_EQ(queue.limit(), 0);
    for (int i = 0; i < 5; ++i)
        queue.push(packetNumbered(i));
    queue.push(nullptr);
    EXPECT_EQ(queue.count(), 5);
    for (int i = 0; i < 5; ++i) {
        RTPAudioPacket* p = queue.pop();
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(numberOf(p), i);
        delete p;
    }
    EXPECT_EQ(queue.pop(), nullptr);
}

TEST(RTPAudioPacketQueueTest, LiveLimitDropsTheOldest)
{
    RTPAudioPacketQueue queue;
    queue.setLimit(RTPAudioPacketQueue::kLiveLimit);
    int dropped = 0;
    for (int i = 0; i < 250; ++i)
        dropped += queue.push(packetNumbered(i));
    EXPECT_EQ(dropped, 150);
    EXPECT_EQ(queue.count(), 100);
    RTPAudioPacket* p = queue.pop();
    EXPECT_EQ(numberOf(p), 150);
    delete p;
}

TEST(RTPAudioPacketQueueTest, ClearAndDestructorFreeEverything)
{
    // Leaks here show under LeakSanitizer.
    RTPAudioPacketQueue queue;
    for (int i = 0; i < 10; ++i)
        queue.push(packetNumbered(i));
    queue.clear();
    EXPECT_EQ(queue.count(), 0);
    EXPECT_EQ(queue.pop(), nullptr);
    auto* owned = new RTPAudioPacketQueue;
    for (int i = 0; i < 10; ++i)
        owned->push(packetNumbered(i));
    delete owned;
}

TEST(RTPAudioPacketQueueTest, ProducerAndConsumerThreadsLoseNothing)
{
    RTPAudioPacketQueue queue;
    constexpr int kCount = 20000;
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i)
            queue.push(packetNumbered(i));
    });
    int expected = 0;
    while (expected < kCount) {
        if (RTPAudioPacket* p = queue.pop()) {
            ASSERT_EQ(numberOf(p), expected);
            ++expected;
            delete p;
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    EXPECT_EQ(queue.count(), 0);
}
