#pragma once

#include "SipContentType.h"
#include "SipNameAddr.h"

#include <cstdint>
#include <string>

struct SipStackEvent;

// The summary of a SIP request (or of a response to one) handed to the message callbacks.
class SipMessageInfo
{
public:
    int32_t tid = 0;
    int32_t cid = 0;
    SipContentType contentType; // the request's Content-Type header
    std::string method;
    std::string body; // the request's first body, empty when it has none
    SipContentType bodyContentType; // the content type that body carries
    SipNameAddr from;
    SipNameAddr to;

    // tid and cid from the event, the rest from the event's request (empty when it has none).
    static SipMessageInfo fromEvent(const SipStackEvent* event);
};
