// Audio frames from a remote app (or RTP payloads of a call) are network input: decode whatever
// arrives, in any of the decodable payload types, into any channel payload type.
//   byte 0: input payload type (low 2 bits: 0, 8, 9, 14), output payload type (bits 2-4)
//   then frames, each a 2-byte big-endian length followed by that many bytes.
#include "AVPacketConverter.h"
#include "RTPAudioTarget.h"
#include "RTPAudioTranscoder.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)quiet;
    if (size < 1)
        return 0;
    static const int inputs[] = {0, 8, 9, 14};
    static const int outputs[] = {0, 8, 9, 10, 11, 14, 0, 8};
    const int input = inputs[data[0] & 3];
    const int output = outputs[(data[0] >> 2) & 7];

    RTPAudioTranscoder transcoder;
    if (transcoder.open(output, input, (data[0] & 0x20) ? 2 : 1, (data[0] & 0x40) ? 16000 : 8000) < 0)
        return 0;

    // The same frames through a converter, as the call audio source uses it.
    AVCodecParameters* in = avcodec_parameters_alloc();
    AVCodecParameters* out = avcodec_parameters_alloc();
    RTPAudioTarget::fill(in, input);
    RTPAudioTarget::fill(out, output);
    AVPacketConverter converter;
    converter.setQueueLimit(100);
    const bool converting = converter.init(in, out);
    AVPacket* packet = av_packet_alloc();

    size_t offset = 1;
    while (offset + 2 <= size) {
        const size_t length = size_t(data[offset]) << 8 | data[offset + 1];
        offset += 2;
        const size_t take = length < size - offset ? length : size - offset;
        transcoder.push(data + offset, int(take), 0.02);
        while (RTPAudioPacket* p = transcoder.pop())
            delete p;
        if (converting) {
            // Borrowed bytes, as the call source hands them over.
            packet->data = const_cast<uint8_t*>(data + offset);
            packet->size = int(take);
            converter.push(packet);
            packet->data = nullptr;
            packet->size = 0;
            while (AVPacket* p = converter.pop())
                av_packet_free(&p);
        }
        offset += take;
    }
    if (converting)
        converter.flush();
    av_packet_free(&packet);
    avcodec_parameters_free(&in);
    avcodec_parameters_free(&out);
    return 0;
}
