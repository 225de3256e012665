#pragma once

#include <osipparser2/sdp_message.h>

#include <cstddef>

// Session descriptions through libosip2's SDP parser, for the stack and its callers.
class SipStackSdp
{
public:
    // A description given as text (caller frees with sdp_message_free); null when it does not
    // parse.
    static sdp_message_t* parse(const char* text, size_t length);
    // The first m-line of that kind ("audio", "video"); null when there is none.
    static sdp_media_t* firstMedia(sdp_message_t* sdp, const char* kind);
    // The media's c= line, else the session's (RFC 4566 5.7).
    static sdp_connection_t* connectionOf(sdp_message_t* sdp, sdp_media_t* media);
};
