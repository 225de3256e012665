#pragma once

#include <QVector>

#include <memory>

class RTPAudioReader;
class RtpInfo;

// What the channel engine needs of the SIP agent: its life on one local port, one SIP account
// per channel, the accounts' registration state, and the calls whose audio plays on a channel
// (source kind 64). The channel manager owns the one implementation; the sessions reach it
// through RtpManager::currentSip.
//
// Locks: findCallSource and endCalls run with the manager's session-list lock (and, for
// findCallSource, the session's lock) held, so they must not call back into the manager; the
// call source reports a call's start and end through the manager's queue instead. The other
// operations run without manager locks.
class RtpManagerSip
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

    // The audio of the channel's call: -1 when the channel has no call; 0 with *reader and
    // *device set, or left null while the call has no media yet. *device keeps the reader, which
    // belongs to the call, alive for as long as the session holds it.
    virtual int findCallSource(const RtpInfo& info, std::shared_ptr<void>* device, RTPAudioReader** reader) = 0;
    // Ends every call of the channel's account.
    virtual void endCalls(const RtpInfo& info) = 0;
};
