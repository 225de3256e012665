#pragma once

extern "C" {
#include <libavcodec/codec_par.h>
}

// What every decoding source converts its input to, by the channel's RTP payload type.
class RTPAudioTarget
{
public:
    // Clears target and fills it (media type audio) for payload type 0, 8, 9, 10, 11 or 14;
    // any other payload type leaves it empty and gives false: nothing can be converted to it.
    static bool fill(AVCodecParameters* target, int payloadType);
};
