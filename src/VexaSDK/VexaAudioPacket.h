#pragma once

#include "VexaBuffer.h"

#include <cstdint>
#include <vector>

// One audio frame exchanged with a remote app, in both directions: the app's microphone audio
// that a channel plays as its remote-app source, and a running channel's audio sent to an app
// that listens. A plain value, copied freely; a new packet has every field 0 and no payload.
//
// Wire form, big-endian, with no length field (the payload runs to the end of the enclosing
// WebSocket message or P2P frame):
//   0  1 byte   payload type      4  4 bytes  duration in microseconds
//   1  1 byte   channel count     8  n bytes  payload
//   2  2 bytes  sample rate
class VexaAudioPacket
{
public:
    static constexpr int kHeaderSize = 8;
    // The RTP payload types of the channel codecs: the only ones a remote app may send.
    enum PayloadType
    {
        kPayloadPcmu = 0,
        kPayloadPcma = 8,
        kPayloadG722 = 9,
        kPayloadL16Stereo = 10,
        kPayloadL16Mono = 11,
        kPayloadMpa = 14
    };
    // A frame longer than this is no frame of a live stream; 0 plays nothing.
    static constexpr int kMaxDurationUs = 1000000;

    // Why a received header is refused (checkHeader).
    enum HeaderStatus
    {
        kHeaderOk = 0,
        kHeaderShort,       // fewer than 8 bytes
        kHeaderPayloadType, // not a payload type of the channel codecs
        kHeaderChannels,    // not 1 or 2
        kHeaderDuration     // not 1 us to 1 s
    };
    static const char* headerStatusText(HeaderStatus status);

    VexaAudioPacket() = default;

    // The four numbers 0, the payload emptied (its capacity kept).
    void clear();
    // Copies length bytes as the payload, at offset 0; null bytes or a length below 1 leave no
    // payload.
    void setPayload(const void* bytes, int length);
    // The payload's first byte (null when there is none) and its byte count (0: no frame).
    const uint8_t* payloadBytes() const { return payload.bytes(); }
    int length() const { return payload.size(); }

    // Writes the header at position and the payload 8 bytes later, but only when the whole
    // frame fits: position + size <= capacity (and, for the vector, capacity <= its size).
    // Either way the size the frame needs (payload + 8) is returned, so a caller may ask with
    // capacity 0, allocate, and call again.
    int writeTo(std::vector<uint8_t>& buffer, int position, int capacity) const;
    int writeTo(uint8_t* buffer, int position, int capacity) const;

    // Reads a frame of count bytes at position: the header, then the rest as the payload. The
    // vector form keeps a copy of the whole vector and points into it (offset position + 8);
    // the raw form copies the payload alone. Nothing changes, and false is returned, when count
    // is below 8 or the bytes are not all there. Bytes 0 and 1 read as signed values (0xFF is
    // -1), the rate as unsigned 16 bits, the duration as 32 bits.
    bool readFrom(const std::vector<uint8_t>& bytes, int position, int count);
    bool readFrom(const uint8_t* bytes, int position, int count);

    // The check every receiver applies to a remote app's frame before queueing it: a payload
    // type of the channel codecs, 1 or 2 channels, a duration of 1 us to 1 s.
    HeaderStatus checkHeader() const;
    // readFrom (raw bytes) and checkHeader in one: the packet is filled only when the frame is
    // acceptable, and keeps its contents otherwise.
    HeaderStatus parse(const uint8_t* bytes, int count);

    int payloadType = 0;
    int channels = 0;
    int sampleRate = 0;
    // The playing time of the payload in microseconds.
    int duration = 0;
    VexaBuffer payload;

private:
    void writeHeader(uint8_t* at) const;
    void readHeader(const uint8_t* at);
};
