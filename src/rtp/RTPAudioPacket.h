#pragma once

// One encoded audio frame on its way from a source to the send loop. It carries no timestamp:
// the send loop paces by duration. Whoever receives a packet owns it (delete frees the data).
class RTPAudioPacket
{
public:
    // Payload type of MP3, whose payload starts with the 4-byte header of RFC 2250.
    static constexpr int kMp3PayloadType = 14;
    static constexpr int kMp3HeaderBytes = 4;

    RTPAudioPacket() = default;
    ~RTPAudioPacket();
    RTPAudioPacket(const RTPAudioPacket&) = delete;
    RTPAudioPacket& operator=(const RTPAudioPacket&) = delete;

    // Copies length bytes in, growing the buffer when it is too small. Null bytes or a length
    // below 1 leave an empty packet.
    void setData(const void* bytes, int length);
    // As setData, but for MP3 (payloadType 14, set before) the 4-byte header (all zero) goes in
    // front of the frame. Bytes that already start with a header (first two bytes zero, which no
    // MP3 frame does) are taken as they are, so a packet never carries two.
    void setPayload(const void* bytes, int length);
    // Frees the data.
    void release();

    // True when an MP3 payload of length bytes starts with the header.
    static bool hasMp3Header(const void* bytes, int length);

    unsigned char* data = nullptr;
    int capacity = 0;
    int length = 0;
    double duration = 0.0;
    int sampleRate = 0;
    int channels = 0;
    int payloadType = -1;

private:
    bool reserve(int bytes);
};
