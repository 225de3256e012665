#pragma once

#include <cstddef>
#include <deque>
#include <mutex>

class SipPacket;

// A first-in first-out queue of owned packets between two threads.
class SipPacketMutexQueue
{
public:
    SipPacketMutexQueue() = default;
    // Deletes every packet still queued.
    virtual ~SipPacketMutexQueue();
    SipPacketMutexQueue(const SipPacketMutexQueue&) = delete;
    SipPacketMutexQueue& operator=(const SipPacketMutexQueue&) = delete;

    // Takes ownership.
    void push(SipPacket* packet);
    // The first packet (the caller owns it), or null when empty.
    SipPacket* pop();
    size_t size() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::deque<SipPacket*> m_packets;
};
