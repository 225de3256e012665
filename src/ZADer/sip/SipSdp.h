#pragma once

#include "SipMedia.h"
#include "SipPayload.h"

#include <osipparser2/sdp_message.h>

#include <cstddef>
#include <memory>
#include <string>

// Session descriptions of calls: the description the agent sends in an INVITE or a 200, the
// reading of a received one into a SipMedia, the payloads the agent answers an offer with and
// the matching that picks what a medium sends and receives. The SDP grammar is libosip2's.
class SipSdp
{
public:
    // Formats read from one m-line; a longer list is cut there.
    static constexpr int kMaxFormats = 64;
    static constexpr size_t kMaxNameLength = 127;
    static constexpr size_t kMaxFmtpLength = 255;
    static constexpr const char* kTelephoneEvent = "telephone-event";

    static std::shared_ptr<SipPayload> makePayload(const std::string& name, int payloadType, int clockRate,
                                                   int channels, int type);
    // The first payload of the list with that payload type, or null.
    static std::shared_ptr<SipPayload> findPayload(const SipPayloadList& list, int payloadType);
    // The first payload of b, in b's order, whose name (ignoring case) some payload of a has.
    static std::shared_ptr<SipPayload> matchPayload(const SipPayloadList& a, const SipPayloadList& b);
    // As matchPayload, but only payloads that carry the medium itself: telephone events and
    // comfort noise are never chosen to send or to receive.
    static std::shared_ptr<SipPayload> matchMediaPayload(const SipPayloadList& a, const SipPayloadList& b);
    // telephone-event or CN.
    static bool isSignallingPayload(const SipPayload& payload);
    static bool hasMediaPayload(const SipPayloadList& list);

    // The direction to declare in answer to the remote one: sendonly <-> recvonly, inactive
    // stays inactive, anything else is sendrecv.
    static int reverseDirection(int direction);

    // The payloads the agent answers an audio offer with, in the offer's order: opus, G722,
    // PCMU, PCMA (the codecs calls can decode) and telephone-event; one entry per payload type.
    static SipPayloadList answerPayloads(const SipPayloadList& remote);

    // The description of the local halves of the two media (either may be null). A medium the
    // remote side described but that has no local payloads is refused with port 0.
    static std::string buildSdp(const std::string& localIp, const SipMedia* audio, const SipMedia* video);

    // Fill the remote half of the medium from the first audio (video) m-line and its
    // connection; nothing changes when either is missing.
    static void parseAudioMedia(sdp_message_t* sdp, SipMedia& media);
    static void parseVideoMedia(sdp_message_t* sdp, SipMedia& media);

    // Parses a description (the caller frees it with sdp_message_free); null when it does not
    // parse.
    static sdp_message_t* parse(const char* text, size_t length);
    static sdp_message_t* parse(const std::string& text) { return parse(text.data(), text.size()); }

private:
    static void parseMedia(sdp_message_t* sdp, SipMedia& media, bool video);
};
