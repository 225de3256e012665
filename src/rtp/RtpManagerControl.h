#pragma once

class RtpInfo;

// The channel operations that the scheduler drives: fetch a channel, start and stop one of its
// sources. The channel manager implements them; tests of a caller can record them instead.
class RtpManagerControl
{
public:
    virtual ~RtpManagerControl() = default;

    // The stored channel with its live status; a record with id 0 when there is none. The
    // database result (0, or -1 when the read failed).
    virtual int getRtpInfo(int id, RtpInfo& out) = 0;
    // Starts source kind source on the channel with trigger startedType: 0, or -1 on failure.
    virtual int startRtpInfo(const RtpInfo& info, int source, int startedType) = 0;
    // Stops one source kind (RtpInfo::kSourceAll or -1: every kind): 0, or -1 when the channel was not running.
    virtual int stopRtpInfo(const RtpInfo& info, int source, int startedType) = 0;
};
