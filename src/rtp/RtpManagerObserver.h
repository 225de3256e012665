#pragma once

class RtpInfo;

// What the channel manager reports. Every call comes from the manager's event thread, one at a
// time, with the observer list locked; for each run of a channel's send loop an observer hears
// onRtpStarted, then any number of onRtpInfoChanged, then onRtpStopped, in that order.
//
// An observer may call the manager's channel operations (getRtpInfos, start, stop, ...) from a
// callback. It must not wait for the thread that removes it (a blocking call into the GUI
// thread, say), because removal waits for the callback in progress. The record is valid only
// for the call: observers take what they need (its id, mostly) and keep no reference.
class RtpManagerObserver
{
public:
    virtual ~RtpManagerObserver() = default;

    // A channel's send loop has started. The record is the session's, with its live status.
    virtual void onRtpStarted(const RtpInfo&) {}
    // A channel's send loop has ended (whatever ended it); the session is gone or going. The
    // record is the one the session held at its end.
    virtual void onRtpStopped(const RtpInfo&) {}
    // The sending source or the playlist item of a running channel changed.
    virtual void onRtpInfoChanged(const RtpInfo&) {}
};
