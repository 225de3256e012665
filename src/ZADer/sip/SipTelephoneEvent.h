#pragma once

#include <cstdint>

// One RFC 4733 telephone event as it arrived on a call's audio.
struct SipTelephoneEvent
{
    uint8_t eventId = 0;
    uint8_t end = 0; // 0 or 1
    uint8_t volume = 0; // 0 to 63
    uint16_t duration = 0; // RTP timestamp units
    uint32_t timestamp = 0; // of the packet that carried it

    void clear() { *this = SipTelephoneEvent(); }
};
