#pragma once

#include "RTPAudioPacket.h"
#include "TestTone.h"

#include <QByteArray>
#include <QStringList>

#include <memory>
#include <vector>

// Decodes a run of RTP audio packets back with the ffmpeg command: their payloads (MP3 without
// the RFC 2250 header) in a file of the payload type's raw format.
class RTPPacketTone
{
public:
    using Packets = std::vector<std::unique_ptr<RTPAudioPacket>>;

    static QStringList decodeArguments(int payloadType)
    {
        switch (payloadType) {
        case 0:
            return {"-f", "mulaw", "-ar", "8000", "-ac", "1"};
        case 8:
            return {"-f", "alaw", "-ar", "8000", "-ac", "1"};
        case 9:
            return {"-f", "g722"};
        case 10:
            return {"-f", "s16be", "-ar", "44100", "-ac", "2"};
        case 11:
            return {"-f", "s16be", "-ar", "44100", "-ac", "1"};
        default:
            return {"-f", "mp3"};
        }
    }

    static int decodeRate(int payloadType)
    {
        return payloadType == 0 || payloadType == 8 ? 8000 : payloadType == 9 ? 16000 : 44100;
    }

    static QByteArray payload(const Packets& packets)
    {
        QByteArray bytes;
        for (const auto& p : packets) {
            const int skip = p->payloadType == RTPAudioPacket::kMp3PayloadType
                                     && RTPAudioPacket::hasMp3Header(p->data, p->length)
                                 ? RTPAudioPacket::kMp3HeaderBytes
                                 : 0;
            bytes.append(reinterpret_cast<const char*>(p->data) + skip, p->length - skip);
        }
        return bytes;
    }

    static TestTone::Result measure(const Packets& packets, int payloadType, double tone)
    {
        return TestTone::measure(payload(packets), decodeArguments(payloadType),
                                 decodeRate(payloadType), tone);
    }
};
