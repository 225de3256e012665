#pragma once

#include <memory>

class SipCall;
class SipChannel;
class SipMedia;
struct SipStackEvent;

// What one channel does with the events of its calls: a new INVITE is refused or becomes a call
// whose offer is answered, a re-INVITE changes its media, the ACK starts them, a CANCEL, BYE or
// release ends the call, and requests in its dialog are answered. Runs on the manager's event
// thread; works on the channel's calls under the channel's call mutex and stack guard, and
// raises the channel's observer with none of them held.
class SipChannelCallEvents
{
public:
    explicit SipChannelCallEvents(SipChannel& channel) : m_channel(channel) {}
    SipChannelCallEvents(const SipChannelCallEvents&) = delete;
    SipChannelCallEvents& operator=(const SipChannelCallEvents&) = delete;

    // A new INVITE for this channel (CallInvite).
    void onInvite(SipStackEvent* event);
    // Any other call event (CallReinvite to CallReleased) of one of its calls, by its type.
    void dispatch(SipStackEvent* event, const std::shared_ptr<SipCall>& call);

private:
    enum class Ending { Cancelled, Closed, Released };
    enum class MessageKind { New, Proceeding, Answered, Redirected, Failure };

    void onReinvite(SipStackEvent* event, const std::shared_ptr<SipCall>& call);
    void onAck(SipStackEvent* event, const std::shared_ptr<SipCall>& call);
    void onCancelled(SipStackEvent* event, const std::shared_ptr<SipCall>& call);
    void onClosed(SipStackEvent* event, const std::shared_ptr<SipCall>& call);
    void onReleased(SipStackEvent* event, const std::shared_ptr<SipCall>& call);
    // The progress and failure events answer calls this agent places; it places none.
    void onNoAnswer(SipStackEvent* event, const std::shared_ptr<SipCall>& call);
    void onProceeding(SipStackEvent* event, const std::shared_ptr<SipCall>& call);
    void onRinging(SipStackEvent* event, const std::shared_ptr<SipCall>& call);
    void onAnswered(SipStackEvent* event, const std::shared_ptr<SipCall>& call);
    void onRedirected(SipStackEvent* event, const std::shared_ptr<SipCall>& call);
    void onFailure(SipStackEvent* event, const std::shared_ptr<SipCall>& call);
    // A request in the call's dialog, or an answer to our BYE (CallMessageNew to
    // CallMessageGlobalFailure, told apart by their type).
    void onMessage(SipStackEvent* event, const std::shared_ptr<SipCall>& call);

    void endCall(const std::shared_ptr<SipCall>& call, Ending how);
    void unhandledCallEvent(const char* what, SipStackEvent* event);
    // The offer of a transaction's request, read into the remote halves; false without one.
    bool readOffer(int tid, SipMedia& audio, SipMedia& video);

    SipChannel& m_channel;
};
