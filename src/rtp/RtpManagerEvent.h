#pragma once

#include "RtpInfo.h"

#include <cstdint>

// One request or report queued for the channel manager's event thread.
class RtpManagerEvent
{
public:
    enum Type
    {
        kStart = 1,      // start source on the channel (a SIP call's audio is up)
        kStop = 2,       // stop source on the channel; with a session: that session's loop ended
        kSipPort = 4,    // reload the SIP agent on local port source
        kStarted = 8,    // the session's send loop started
        kChanged = 16    // the session's sending source or playlist item changed
    };

    RtpManagerEvent() = default;
    RtpManagerEvent(int type, int source, int startedType, const RtpInfo& info = RtpInfo(), uint64_t session = 0)
        : type(type), source(source), startedType(startedType), info(info), session(session)
    {
    }

    int type = 0;
    // The source kind (RtpInfo::kSourceAll or -1: every kind) for kStart and kStop; the port for kSipPort.
    int source = 0;
    // The trigger for kStart and kStop.
    int startedType = 0;
    // The channel; empty for kSipPort. For the session reports, the session's record when it
    // reported.
    RtpInfo info;
    // The session that reported (kStop, kStarted, kChanged): the manager's number for it, which
    // no later session reuses. 0 for requests.
    uint64_t session = 0;
};
