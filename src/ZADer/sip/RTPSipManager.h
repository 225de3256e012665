#pragma once

#include "RtpInfo.h"
#include "RtpManagerSip.h"
#include "SipManager.h"

#include <map>
#include <mutex>

class RTPSipChannel;
class RtpManagerQueue;

// The SIP agent of the channel engine: every channel record with its SIP switch on and an id of
// 1 or more becomes a SIP account, every accepted incoming call on such an account is rung and
// answered, and the call's audio plays on the channel (RtpInfo::kSourceSip) through the call's
// audio source. The channel manager owns the one instance, made by the factory the application
// hands it, and reaches it as its RtpManagerSip.
// A record added again while its old account is still listed waits until that account's
// unregistration is answered or given up, so that the registrar sees the Expires 0 first.
//
// Locks: findCallSource and endCalls run under the channel manager's locks; they take only the
// agent's own (channel list, then a channel's, then a call's) and never call the manager.
class RTPSipManager : public SipManager, public RtpManagerSip
{
public:
    // What a record's SIP texts become when they hold no usable value.
    static constexpr int kDefaultExpire = 180;
    static constexpr int kDefaultServerPort = 5060;

    // queue: where the calls' audio sources start and stop their channel's source (the channel
    // manager's queue); null drops those requests.
    explicit RTPSipManager(RtpManagerQueue* queue = nullptr);
    ~RTPSipManager() override;

    // The account a channel record registers; false when the record has none (SIP off, id 0).
    static bool accountFromRecord(const RtpInfo& info, SipAccountInfo* account);

    // RtpManagerSip
    int init(int port, int transport) override;
    void uninit() override;
    int restart(int port) override;
    void unregisterAll() override;
    int port() override;
    using SipManager::addChannel;
    using SipManager::removeChannel;
    bool addChannel(const RtpInfo& info) override;
    bool removeChannel(const RtpInfo& info) override;
    int channelState(int id) override;
    QString statusText(int id) override;
    int findCallSource(const RtpInfo& info, std::shared_ptr<RTPAudioReader>* source) override;
    void endCalls(const RtpInfo& info) override;

    // SipManager
    std::shared_ptr<SipChannel> createChannel(const SipAccountInfo& account) override;
    void onCallIncoming(const Channel& channel, const Call& call) override;
    // An old account of a record added again has left: the record registers now.
    void onChannelUnregistered(const Channel& channel, const SipAccountInfo& account) override;
    void onChannelUnregisterFailed(const Channel& channel, const SipAccountInfo& account) override;

protected:
    // Registers the record waiting for id when no account of that id is still unregistering;
    // whether it did.
    bool registerWaiting(int id);
    void dropWaiting();

    // The adapter the application works on (setting "network name").
    std::string adapterAddress() override;

private:
    // Records added while an account of their id still unregisters, by id (the latest wins).
    // Taken before the channel list.
    std::mutex m_waitingMutex;
    std::map<int, RtpInfo> m_waiting;
    RtpManagerQueue* const m_queue;
};
