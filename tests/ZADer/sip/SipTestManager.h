#pragma once

#include "SipCall.h"
#include "SipChannel.h"
#include "SipManager.h"
#include "SipTestDevice.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

// A SIP manager for tests: records every registration, call and message callback, lets the
// test wait for them, gives its channels a clock of the test's choice, and handles incoming
// calls as the test says (their devices are SipTestDevices).
class SipTestManager : public SipManager
{
public:
    struct Record
    {
        // "registered", "register failed", "unregistered", "unregister failed", "message";
        // calls: "incoming", "started", "ack", "stopped", "closed", "cancelled", "released",
        // "removed", "reinvite", "call message", "dtmf"
        std::string what;
        int id = 0; // account id; the call id for call records
        std::string detail; // method of a message; "<event>/<end>" of a DTMF event
    };

    enum class CallMode {
        Answer, // ring and answer with the channel's answer payloads
        RingOnly,
        Ignore,
    };

    ~SipTestManager() override;

    void setClock(SipChannel::Clock clock);
    void setCallMode(CallMode mode);
    // Data time-outs of the calls of channels made afterwards.
    void setDataTimeouts(double audio, double video);
    // The devices of all calls whose media started, in order.
    std::vector<std::shared_ptr<SipTestDevice>> devices() const;
    // The calls that reached onCallIncoming, in order.
    std::vector<std::shared_ptr<SipCall>> incomingCalls() const;
    // Every record of that call id, "what" texts in order.
    std::vector<std::string> callHistory(int cid) const;
    void setAdapterAddress(const std::string& address);

    std::vector<Record> records() const;
    int count(const std::string& what, int id = -1) const;
    // Waits until count(what, id) >= n; false on time-out.
    bool waitFor(const std::string& what, int n, int timeoutMs, int id = -1) const;

    // An account with a registrar, a user name and a password; expire 60.
    static SipAccountInfo account(int id, const std::string& server, int port, const std::string& username = "alice",
                                  const std::string& password = "s3cret");

    // Polls the channel's state; false when it is not reached in time.
    static bool waitState(const std::shared_ptr<SipChannel>& channel, int state, int timeoutMs);

    std::shared_ptr<SipChannel> createChannel(const SipAccountInfo& account) override;
    void onChannelRegistered(const Channel& channel, const SipAccountInfo& account) override;
    void onChannelRegisterFailed(const Channel& channel, const SipAccountInfo& account) override;
    void onChannelUnregistered(const Channel& channel, const SipAccountInfo& account) override;
    void onChannelUnregisterFailed(const Channel& channel, const SipAccountInfo& account) override;
    void onMessageNew(const SipMessageInfo& info) override;

    void onCallIncoming(const Channel& channel, const Call& call) override;
    void onCallStarted(const Channel& channel, const Call& call) override;
    void onCallAck(const Channel& channel, const Call& call) override;
    void onCallStopped(const Channel& channel, const Call& call) override;
    void onCallClosed(const Channel& channel, const Call& call) override;
    void onCallCancelled(const Channel& channel, const Call& call) override;
    void onCallReleased(const Channel& channel, const Call& call) override;
    void onCallRemoved(const Channel& channel, const Call& call) override;
    void onCallReinvite(const Channel& channel, const Call& call) override;
    void onCallMessageNew(const Channel& channel, const Call& call, const SipMessageInfo& info) override;
    void onCallDtmf(const Channel& channel, const Call& call, const SipTelephoneEvent& event) override;

protected:
    std::string adapterAddress() override;

private:
    void add(const std::string& what, int id, const std::string& detail = std::string());

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Record> m_records;
    SipChannel::Clock m_clock;
    CallMode m_callMode = CallMode::Answer;
    double m_audioTimeout = SipCall::kAudioDataTimeout;
    double m_videoTimeout = SipCall::kVideoDataTimeout;
    std::vector<std::shared_ptr<SipTestDevice>> m_devices;
    std::vector<std::shared_ptr<SipCall>> m_incoming;
    bool m_haveAdapter = false;
    std::string m_adapter;
};
