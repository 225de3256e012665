#pragma once

#include "RtpCallSources.h"

#include <QString>
#include <QVector>

class RtpInfo;

// What the channel engine needs of the SIP agent: its life on one local port, one SIP account
// per channel, the accounts' registration state, and the calls whose audio plays on a channel
// (source kind 64). The SIP layer above the engine implements it; the channel manager owns the
// one instance, made by the factory the application sets at start-up, and hands it to its
// sessions as their call sources.
//
// Locks: the call source reports a call's start and end through the manager's queue, never by
// calling the manager. The operations below run without manager locks.
class RtpManagerSip : public RtpCallSources
{
public:
    virtual ~RtpManagerSip() = default;

    // Listens on port with transport (0 UDP): 0, or a negative error.
    virtual int init(int port, int transport) = 0;
    // Ends every call, stops listening and drops every account.
    virtual void uninit() = 0;
    // uninit, then init on port with UDP: init's result.
    virtual int restart(int port) = 0;
    // Unregisters every account.
    virtual void unregisterAll() = 0;
    // The port listened on; 0 or less when not listening.
    virtual int port() = 0;

    // Registers the record's SIP account when its SIP switch is on and its id is 1 or more
    // (an account of that id already there is unregistered first); whether one was made.
    virtual bool addChannel(const RtpInfo& info) = 0;
    virtual void addChannels(const QVector<RtpInfo>& infos);
    // Unregisters and drops the account of the record's id; false when there is none.
    virtual bool removeChannel(const RtpInfo& info) = 0;
    // The registration state of channel id's account (1 registering, 2 registered, 4 failed, ...);
    // 0 when it has none.
    virtual int channelState(int id) = 0;
    // "Registering", "Register Success" or "Register Failure", translated, for channel id's
    // account; empty in any other state or without an account.
    virtual QString statusText(int id) = 0;
};
