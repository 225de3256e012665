#pragma once

class RtpInfo;

// Starts and stops handed to the channel manager's event thread instead of being run on the
// caller's thread: what a SIP call's audio source uses, from threads that must not wait for the
// manager's locks. The channel manager implements them; tests can record them instead.
class RtpManagerQueue
{
public:
    virtual ~RtpManagerQueue() = default;

    // 0 when queued; -1 when the manager takes no events (before it runs, after shutdown).
    virtual int queueStartRtpInfo(const RtpInfo& info, int source, int startedType) = 0;
    virtual int queueStopRtpInfo(const RtpInfo& info, int source, int startedType) = 0;
};
