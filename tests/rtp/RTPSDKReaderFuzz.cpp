// Audio frames that remote apps talk into a channel are network input: every header, payload
// size and change of format goes through the frame checks and the conversion.
//   byte 0: the channel's payload type (0, 8, 9, 10, 11, 14 or none, by its value modulo 7)
//   then frames, each the 8-byte big-endian wire header (payload type, channels, sample rate,
//   duration in microseconds) and a 2-byte big-endian payload length, followed by the payload.
#include "RTPAudioPacket.h"
#include "RTPSDKReaderInput.h"
#include "VexaAudioPacket.h"

#include <QtGlobal>

#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);
        // Dropped frames are logged; the log is not under test here.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    (void)quiet;
    if (size < 1)
        return 0;
    static const int channelTypes[] = {0, 8, 9, 10, 11, 14, -1};
    RTPSDKReaderInput input;
    input.open(channelTypes[data[0] % 7]);
    size_t offset = 1;
    while (offset + 10 <= size) {
        const uint8_t* h = data + offset;
        VexaAudioPacket frame;
        frame.payloadType = h[0];
        frame.channels = h[1];
        frame.sampleRate = h[2] << 8 | h[3];
        frame.duration = int32_t(uint32_t(h[4]) << 24 | uint32_t(h[5]) << 16 | uint32_t(h[6]) << 8 | h[7]);
        const size_t length = size_t(h[8]) << 8 | h[9];
        offset += 10;
        const size_t take = length < size - offset ? length : size - offset;
        frame.setPayload(reinterpret_cast<const char*>(data + offset), int(take));
        offset += take;
        input.take(frame);
        while (RTPAudioPacket* packet = input.pop())
            delete packet;
    }
    input.close();
    return 0;
}
