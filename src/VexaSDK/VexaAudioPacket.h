#pragma once

#include <QByteArray>

// One audio frame exchanged with a remote app. A plain value: copies share the payload bytes
// until one of them changes (QByteArray), so queueing and moving packets can neither free a
// payload twice nor leak it. A new packet has every field 0 and no payload.
class VexaAudioPacket
{
public:
    VexaAudioPacket() = default;

    // Empties the payload and zeroes every field.
    void clear() { *this = VexaAudioPacket(); }
    // Copies length bytes; null bytes or a length below 1 leave no payload.
    void setPayload(const char* bytes, int length);
    // Bytes of payload; 0 means no frame.
    int length() const { return payload.size(); }

    // RTP payload type of the frame (0, 8, 9, 10, 11 or 14).
    int payloadType = 0;
    int channels = 0;
    int sampleRate = 0;
    // The frame's duration in microseconds.
    int duration = 0;
    QByteArray payload;
};
