#pragma once

#include "SipAccountInfo.h"
#include "SipMessageInfo.h"
#include "SipTelephoneEvent.h"

#include <memory>

class SipCall;
class SipChannel;

// What channels report to their manager: registrations, calls and DTMF. Every callback has an
// empty default body. Callbacks are raised without the stack lock and without the channel's
// registration mutex held.
class SipChannelObserver
{
public:
    using Channel = std::shared_ptr<SipChannel>;
    using Call = std::shared_ptr<SipCall>;

    virtual ~SipChannelObserver() = default;

    virtual void onChannelRegistered(const Channel& /*channel*/, const SipAccountInfo& /*account*/) {}
    virtual void onChannelRegisterFailed(const Channel& /*channel*/, const SipAccountInfo& /*account*/) {}
    virtual void onChannelUnregistered(const Channel& /*channel*/, const SipAccountInfo& /*account*/) {}
    virtual void onChannelUnregisterFailed(const Channel& /*channel*/, const SipAccountInfo& /*account*/) {}

    // The media of a call started / stopped.
    virtual void onCallStarted(const Channel& /*channel*/, const Call& /*call*/) {}
    virtual void onCallStopped(const Channel& /*channel*/, const Call& /*call*/) {}
    // A new INVITE was accepted into the channel.
    virtual void onCallIncoming(const Channel& /*channel*/, const Call& /*call*/) {}
    virtual void onCallReinvite(const Channel& /*channel*/, const Call& /*call*/) {}
    virtual void onCallNoAnswer(const Channel& /*channel*/, const Call& /*call*/) {}
    virtual void onCallProceeding(const Channel& /*channel*/, const Call& /*call*/) {}
    virtual void onCallRinging(const Channel& /*channel*/, const Call& /*call*/) {}
    virtual void onCallAnswered(const Channel& /*channel*/, const Call& /*call*/) {}
    virtual void onCallClosed(const Channel& /*channel*/, const Call& /*call*/) {}
    virtual void onCallReleased(const Channel& /*channel*/, const Call& /*call*/) {}
    virtual void onCallRedirected(const Channel& /*channel*/, const Call& /*call*/) {}
    virtual void onCallFailure(const Channel& /*channel*/, const Call& /*call*/) {}
    virtual void onCallAck(const Channel& /*channel*/, const Call& /*call*/) {}
    virtual void onCallCancelled(const Channel& /*channel*/, const Call& /*call*/) {}
    // The call left the channel's list.
    virtual void onCallRemoved(const Channel& /*channel*/, const Call& /*call*/) {}
    virtual void onCallMessageNew(const Channel& /*channel*/, const Call& /*call*/, const SipMessageInfo& /*info*/) {}
    virtual void onCallMessageProceeding(const Channel& /*channel*/, const Call& /*call*/,
                                         const SipMessageInfo& /*info*/) {}
    virtual void onCallMessageAnswered(const Channel& /*channel*/, const Call& /*call*/,
                                       const SipMessageInfo& /*info*/) {}
    virtual void onCallMessageRedirected(const Channel& /*channel*/, const Call& /*call*/,
                                         const SipMessageInfo& /*info*/) {}
    virtual void onCallMessageFailure(const Channel& /*channel*/, const Call& /*call*/,
                                      const SipMessageInfo& /*info*/) {}
    // An RFC 4733 event arrived on the call's audio.
    virtual void onCallDtmf(const Channel& /*channel*/, const Call& /*call*/, const SipTelephoneEvent& /*event*/) {}
};
