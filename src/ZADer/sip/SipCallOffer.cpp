#include "SipCallOffer.h"

#include "RDLog.h"
#include "RDString.h"
#include "RtpLayerSession.h"
#include "RtpPortManager.h"
#include "SipMedia.h"
#include "SipSdp.h"

#include <memory>

namespace {

// The sockets of an answer are bound before the codec is chosen; the medium's session sets the
// codec's clock when it starts.
constexpr int kAnswerClockRate = 8000;

} // namespace

int SipCallOffer::refusal(const SipMedia& audio, const SipMedia& video)
{
    const auto plainRtp = [](const SipMedia& media) {
        return media.protocol.empty() || compareIgnoreCase(media.protocol, "RTP/AVP") == 0;
    };
    if (!plainRtp(audio) || !plainRtp(video))
        return 488;
    // No description, no audio, or nothing but events: there would be nothing to play.
    if (!audio.isDescribed() || audio.remotePort < 1 || !SipSdp::hasMediaPayload(SipSdp::answerPayloads(audio.remotePayloads)))
        return 488;
    return 0;
}

int SipCallOffer::prepareAnswer(SipMedia& audio, SipMedia& video, const SipMedia* runningAudio,
                                const SipMedia* runningVideo, int channelId)
{
    audio.localPayloads = SipSdp::answerPayloads(audio.remotePayloads);
    if (runningVideo)
        video.localPayloads = runningVideo->localPayloads;
    const struct
    {
        SipMedia* media;
        const SipMedia* running;
    } pairs[] = {{&audio, runningAudio}, {&video, runningVideo}};
    for (const auto& pair : pairs) {
        SipMedia& media = *pair.media;
        if (!media.hasRemotePayloads())
            continue;
        media.localDirection = SipSdp::reverseDirection(media.remoteDirection);
        // The running medium keeps its port: its RTP session stays bound to it.
        if (pair.running && pair.running->localPort > 0) {
            media.localPort = pair.running->localPort;
            continue;
        }
        // A refused medium is answered with port 0 and binds nothing.
        if (!media.hasLocalPayloads())
            continue;
        // Bound now, not at the ACK: the answer announces the port, and a port only probed free
        // could be taken by another program before the media start.
        RtpPortManager* ports = RtpPortManager::instance();
        auto rtp = std::make_unique<RtpLayerSession>();
        media.localPort = ports ? ports->openSession(*rtp, kAnswerClockRate, 0) : 0;
        if (media.localPort <= 0) {
            if (&media == &audio) {
                RDLOG("no free RTP port for a call of channel %d", channelId);
                return 503;
            }
            continue;
        }
        media.boundRtp = std::move(rtp);
    }
    return 0;
}
