// What a caller sends is network input: the description's codec, clock rate and channel count,
// and every RTP payload after it, go through the call source's conversion.
//   byte 0: the call's codec (opus, PCMU, PCMA, G.722 or an unknown one, by its value modulo 5)
//   byte 1: the channel's codec index (modulo 6)
//   bytes 2-5: the described clock rate (big-endian, signed); byte 6: the described channels
//   then payloads, each a 2-byte big-endian length followed by the bytes.
#include "RTPAudioPacket.h"
#include "RTPSipAudioReader.h"
#include "SipPayload.h"

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);
        // Refused payloads are logged; the log is not under test here.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    (void)quiet;
    if (size < 7)
        return 0;
    static const struct
    {
        const char* name;
        int payloadType;
    } codecs[] = {{"opus", 111}, {"PCMU", 0}, {"PCMA", 8}, {"G722", 9}, {"GSM", 3}};
    auto payload = std::make_shared<SipPayload>();
    payload->name = codecs[data[0] % 5].name;
    payload->payloadType = codecs[data[0] % 5].payloadType;
    payload->clockRate = int32_t(uint32_t(data[2]) << 24 | uint32_t(data[3]) << 16 | uint32_t(data[4]) << 8 | data[5]);
    payload->channels = int8_t(data[6]);
    payload->type = SipPayload::Audio;

    RTPSipAudioReader reader;
    RtpInfo info;
    info.id = 1;
    info.codec = data[1] % 6;
    reader.setRtpInfo(info);
    reader.setPayloadType(RTPSipAudioReader::payloadTypeForCodec(info.codec));
    reader.setAudioRecvPayload(payload);
    size_t offset = 7;
    uint32_t timestamp = 0;
    while (offset + 2 <= size) {
        const size_t length = size_t(data[offset]) << 8 | data[offset + 1];
        offset += 2;
        const size_t take = length < size - offset ? length : size - offset;
        reader.writeAudio(data + offset, int(take), timestamp);
        timestamp += 160;
        offset += take;
        while (RTPAudioPacket* packet = reader.read())
            delete packet;
    }
    reader.resetAudioRecvPayload();
    return 0;
}
