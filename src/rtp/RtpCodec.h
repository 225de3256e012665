#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/codec_id.h>
}

// The channel codecs: the index a channel record stores, the RTP payload type (RFC 3551) it is
// sent with, its RTP clock, the rate the codec itself samples at, and what FFmpeg calls it. This
// table is the one place that maps between these numbers; every function that needs one of
// them reads it here.
struct RtpCodec
{
    // The "codec" field of a channel record.
    enum Index
    {
        kIndexPcmu = 0,
        kIndexPcma = 1,
        kIndexG722 = 2,
        kIndexMp3 = 3,
        kIndexL16Mono = 4,
        kIndexL16Stereo = 5
    };
    // The payload types channels and sources deliver.
    enum PayloadType
    {
        kPayloadPcmu = 0,
        kPayloadPcma = 8,
        kPayloadG722 = 9,
        kPayloadL16Stereo = 10,
        kPayloadL16Mono = 11,
        kPayloadMpa = 14
    };

    int index;
    int payloadType;
    // The RTP timestamp clock. G.722 keeps the 8000 Hz of RFC 3551 although it samples at 16 kHz.
    int clockRate;
    // The rate the codec works at, and the rate of the PCM a decoder gives.
    int sampleRate;
    int channels;
    AVCodecID codecId;
    // The encoder's bit rate for the whole stream.
    int64_t bitRate;
    // Bytes a second of one channel for the sample-based codecs; 0 for MP3, whose frames say
    // for themselves how long they last.
    int bytesPerChannelSecond;
    // Samples an encoder frame holds when the codec leaves it open (L16); 0 otherwise.
    int frameSamples;

    // The row of a payload type or a record's codec index; null for one that is not listed.
    static const RtpCodec* byPayloadType(int payloadType);
    static const RtpCodec* byIndex(int index);
};
