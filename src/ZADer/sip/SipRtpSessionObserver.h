#pragma once

#include <cstdint>

class SipPacket;
class SipRtpSession;

// What a call's RTP session asks of and tells its owner. getPacket and onDurationLimit run on
// the session's send thread, onReadPacket and onDataTimeout on its receive thread: an observer
// must be safe against both at once.
class SipRtpSessionObserver
{
public:
    virtual ~SipRtpSessionObserver() = default;

    // The next frame to send (the caller owns it from then on), or null.
    virtual SipPacket* getPacket(SipRtpSession* session) = 0;
    // One received payload (for video a whole NAL unit) with the RTP packet that carried it (or
    // its last fragment) and that packet's timestamp.
    virtual void onReadPacket(SipRtpSession* session, const uint8_t* packet, int packetLength,
                              const uint8_t* payload, int payloadLength, uint32_t timestamp) = 0;
    // No RTP arrived for the data time-out; repeated every further time-out period.
    virtual void onDataTimeout(SipRtpSession* session) = 0;
    // The frames sent add up to the duration limit; repeated after every further frame.
    virtual void onDurationLimit(SipRtpSession* session) = 0;
};
