#pragma once

class RTPAudioPacket;
class RtpInfo;

// A sink of a running channel session: opened when the session starts it, handed every packet
// the session sends (on the send thread), closed when the session stops it.
class RTPAudioWriter
{
public:
    virtual ~RTPAudioWriter() = default;

    virtual bool isOpen() { return false; }
    // The channel record, the payload type, RTP clock rate and channel count of its packets.
    // 0 or more on success.
    virtual int open(const RtpInfo* info, int payloadType, int sampleRate, int channels)
    {
        (void)info;
        (void)payloadType;
        (void)sampleRate;
        (void)channels;
        return 0;
    }
    virtual void close() {}
    // Reads the packet; the caller keeps it.
    virtual int write(const RTPAudioPacket* packet)
    {
        (void)packet;
        return 0;
    }
};
