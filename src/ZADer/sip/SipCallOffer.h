#pragma once

class SipMedia;

// The answer to a caller's offer (RFC 3264 6): whether it can be answered at all, and the local
// half of each medium, with its RTP sockets bound before the answer announces their port.
class SipCallOffer
{
public:
    // 488 for a transport other than RTP/AVP or no codec the calls can decode, 0 when the offer
    // can be answered.
    static int refusal(const SipMedia& audio, const SipMedia& video);
    // Fills the local half of the media answering an offer: the answer's payloads and
    // directions, and a bound port per medium (the running media of a re-INVITE keep theirs; a
    // refused medium gets port 0). 503 when no RTP port is free for the audio, else 0.
    static int prepareAnswer(SipMedia& audio, SipMedia& video, const SipMedia* runningAudio,
                             const SipMedia* runningVideo, int channelId);
};
