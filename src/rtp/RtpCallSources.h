#pragma once

#include <memory>

class RTPAudioReader;
class RtpInfo;

// What a channel session needs of the SIP side: the audio of a channel's call (source kind 64)
// and the end of that call when the channel stops the source. The channel manager hands each
// session its SIP side when it makes the session; the SIP side outlives every session.
//
// Locks: both run with the manager's session-list lock (and, for findCallSource, the session's
// lock) held, so they must not call back into the manager.
class RtpCallSources
{
public:
    virtual ~RtpCallSources() = default;

    // The audio of the channel's call: -1 when the channel has no call; 0 with *source set, or
    // left null while the call has no media yet. *source shares ownership of the call's media,
    // so the reader stays alive for as long as the session holds it.
    virtual int findCallSource(const RtpInfo& info, std::shared_ptr<RTPAudioReader>* source) = 0;
    // Ends every call of the channel's account.
    virtual void endCalls(const RtpInfo& info) = 0;
};
