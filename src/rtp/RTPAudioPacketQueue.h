#pragma once

#include "RDPointerQueue.h"
#include "RTPAudioPacket.h"

// The mutex-guarded FIFO that carries packets from a source thread to the send thread. It owns
// what it holds. Unbounded unless a limit is set; live sources set one (kLiveLimit) and lose
// the oldest packets rather than memory when the consumer falls behind.
class RTPAudioPacketQueue : public RDPointerQueue<RTPAudioPacket>
{
public:
    static constexpr int kLiveLimit = 100;
};
