#pragma once

#include "VexaAudioPacket.h"

#include <cstdint>
#include <deque>
#include <mutex>

// Received audio frames waiting for the channel engine, as every client keeps them: in order,
// at most `limit` of them, the oldest giving way (a talker that is not played, or played too
// slowly, must not grow memory). Thread-safe: the transport pushes on its read thread, the
// channel's source pops on its own.
class VexaAudioQueue
{
public:
    explicit VexaAudioQueue(int limit);

    // Queues the frame: the number of old frames dropped to make room (0 or 1).
    int push(VexaAudioPacket packet);
    // Moves the oldest frame into packet and returns its payload length; clears packet and
    // returns 0 when none is queued.
    int pop(VexaAudioPacket& packet);
    void clear();
    int count() const;
    // Frames dropped since construction.
    uint64_t dropped() const;

private:
    const size_t m_limit;
    mutable std::mutex m_mutex;
    std::deque<VexaAudioPacket> m_packets;
    uint64_t m_dropped = 0;
};
