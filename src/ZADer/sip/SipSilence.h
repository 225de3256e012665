#pragma once

#include "SipPayload.h"

#include <cstdint>
#include <vector>

class SipPacket;

// 20 ms of real silence in a call's send codec, for a device that has nothing to say: the G.711
// silence byte, or one frame of zero samples encoded once (G.722, Opus) and then reused.
class SipSilence
{
public:
    static constexpr double kDuration = 0.02;

    // The encoded frame; empty for a codec without one (or one that failed to encode).
    static std::vector<uint8_t> frame(const SipPayload& payload);
    // A new packet of the payload's type holding frame(), with duration 0.02 s; null when
    // frame() is empty.
    static SipPacket* packet(const SipPayload& payload);

private:
    static std::vector<uint8_t> encode(int codecId, int sampleRate, int channels);
};
