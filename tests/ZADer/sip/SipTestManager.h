#pragma once

#include "SipChannel.h"
#include "SipManager.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

// A SIP manager for tests: records every registration callback and out-of-dialog message, lets
// the test wait for them, and gives its channels a clock of the test's choice.
class SipTestManager : public SipManager
{
public:
    struct Record
    {
        std::string what; // "registered", "register failed", "unregistered", "unregister failed", "message"
        int id = 0; // account id, or the answer status for "message"
        std::string detail; // method of a message
    };

    ~SipTestManager() override;

    void setClock(SipChannel::Clock clock);
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

protected:
    std::string adapterAddress() override;

private:
    void add(const std::string& what, int id, const std::string& detail = std::string());

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Record> m_records;
    SipChannel::Clock m_clock;
    bool m_haveAdapter = false;
    std::string m_adapter;
};
