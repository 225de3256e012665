#pragma once

#include <cstdint>

// One encoded frame a call sends: its RTP payload type, the bytes (allocated with the C
// allocator, owned) and its duration.
class SipPacket
{
public:
    virtual ~SipPacket();
    SipPacket(const SipPacket&) = delete;
    SipPacket& operator=(const SipPacket&) = delete;

    // Adopts data (from malloc) without copying.
    static SipPacket* create(int payloadType, uint8_t* data, int size, int tag, double duration);
    // Copies size bytes.
    static SipPacket* copy(int payloadType, const void* data, int size, double duration);

    int32_t payloadType = 0;
    uint8_t* data = nullptr;
    int32_t size = 0;
    int32_t capacity = 0;
    int32_t tag = 0; // given at creation; the transport does not read it
    double duration = 0.0; // seconds

protected:
    SipPacket() = default;
};
