// An SDP offer as it arrives in an INVITE: parsed by libosip2, read into the audio and video
// media, answered, and the answer written and parsed back; the payload choice of a call is made
// on the result.
#include "SipMedia.h"
#include "SipSdp.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    sdp_message_t* sdp = SipSdp::parse(reinterpret_cast<const char*>(data), size);
    if (!sdp)
        return 0;
    auto audio = std::make_shared<SipMedia>();
    auto video = std::make_shared<SipMedia>();
    SipSdp::parseAudioMedia(sdp, *audio);
    SipSdp::parseVideoMedia(sdp, *video);
    sdp_message_free(sdp);

    audio->localPayloads = SipSdp::answerPayloads(audio->remotePayloads);
    audio->localPort = 40000;
    audio->localDirection = SipSdp::reverseDirection(audio->remoteDirection);
    video->localDirection = SipSdp::reverseDirection(video->remoteDirection);
    const auto send = SipSdp::matchMediaPayload(audio->remotePayloads, audio->localPayloads);
    const auto recv = SipSdp::matchMediaPayload(audio->localPayloads, audio->remotePayloads);
    if (static_cast<bool>(send) != static_cast<bool>(recv))
        std::abort();
    for (const auto& payload : audio->localPayloads) {
        if (!SipSdp::findPayload(audio->remotePayloads, payload->payloadType) && payload->name != "G722" &&
            payload->name != "PCMU" && payload->name != "PCMA")
            std::abort(); // a dynamic type answered that was never offered
    }

    const std::string answer = SipSdp::buildSdp("192.0.2.1", audio.get(), video.get());
    sdp_message_t* back = SipSdp::parse(answer);
    if (!back)
        std::abort(); // what we write must parse
    SipMedia echoed;
    SipSdp::parseAudioMedia(back, echoed);
    sdp_message_free(back);
    if (audio->hasLocalPayloads() && echoed.remotePayloads.size() != audio->localPayloads.size())
        std::abort();
    return 0;
}
