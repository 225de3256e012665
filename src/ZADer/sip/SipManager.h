#pragma once

#include "SipAccountInfo.h"
#include "SipChannelObserver.h"
#include "SipMessageInfo.h"
#include "SipStack.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SipCall;
class SipChannel;
class SipChannelEventThread;
class SipManagerEventThread;
struct SipStackEvent;

// The SIP user agent's root: it owns the stack, listens on one port, keeps the channels (one
// per SIP account) and turns every stack event into a call on the right channel or call. One
// extra channel, the local-loop channel (account 0), is never registered nor listed: it takes
// INVITEs addressed straight to the agent's own address and port.
//
// init and uninit are made by one owner thread at a time; channels may be added and removed
// from other threads meanwhile.
class SipManager : public SipChannelObserver
{
public:
    enum Transport : int { Udp = 0, Tcp = 1, Tls = 2 };

    static constexpr int kFirstSearchPort = 5060;
    static constexpr double kKeepaliveInterval = 10.0;
    // How long uninit lets channels that are unregistering wait for their answer.
    static constexpr double kUnregisterWait = 2.0;
    static constexpr const char* kUserAgent = "ZADER";

    SipManager();
    ~SipManager() override;
    SipManager(const SipManager&) = delete;
    SipManager& operator=(const SipManager&) = delete;

    // An out-of-dialog request arrived and has already been answered.
    virtual void onMessageNew(const SipMessageInfo& /*info*/) {}
    // A 1xx, 2xx, 3xx or 4xx-6xx answer to an out-of-dialog request of ours.
    virtual void onMessageProceeding(const SipMessageInfo& /*info*/) {}
    virtual void onMessageAnswered(const SipMessageInfo& /*info*/) {}
    virtual void onMessageRedirected(const SipMessageInfo& /*info*/) {}
    virtual void onMessageFailure(const SipMessageInfo& /*info*/) {}
    // A new channel for the account; the base makes a plain SipChannel.
    virtual std::shared_ptr<SipChannel> createChannel(const SipAccountInfo& account);

    // Listens on port (< 1: the first free port from 5060 up) with transport 0 UDP, 1 TCP, 2 TLS
    // and starts the event and command threads. 0 on success; -1 when the stack cannot be made,
    // no free port is found, the transport is unknown or the agent already listens; the stack's
    // (negative) error when listening fails, e.g. on a port already taken. A failed init leaves
    // no stack and no threads: channels added meanwhile report a register failure.
    int init(int port, int transport);
    // Ends every call, gives unregistering channels a moment for their answer, stops the
    // threads, empties the channel list, detaches every channel it ever wired from the stack and
    // releases the stack. A restart re-adds the channels.
    void uninit();

    // Creates the channel, wires it, lists it and asks it to register.
    std::shared_ptr<SipChannel> addChannel(const SipAccountInfo& account);
    void removeChannel(const std::shared_ptr<SipChannel>& channel);
    std::shared_ptr<SipChannel> channelById(int id);
    std::shared_ptr<SipChannel> channelByRegisterId(int registerId);
    std::shared_ptr<SipCall> callByCallId(int cid);
    // The channel a new INVITE belongs to; null when none claims it.
    std::shared_ptr<SipChannel> findInviteChannel(SipStackEvent* event);
    // Unregisters every listed channel (those left without registration leave the list at once,
    // the others when their answer arrives), then the local-loop channel.
    void unregisterAll();
    // The channel-list mutex, for subclasses that edit the list (channelList) themselves.
    void lock();
    void unlock();

    // Dispatches one stack event (on the event thread).
    void readEvent(SipStackEvent* event);
    // Answers the event's out-of-dialog request with that status.
    void sendMessageAnswer(SipStackEvent* event, int status);
    // One registration tick for every listed channel (the event thread's timer).
    void keepaliveAll();

    // A copy of the channel list.
    std::vector<std::shared_ptr<SipChannel>> channels();
    std::shared_ptr<SipChannel> localLoopChannel();
    bool isRunning() const { return m_running.load(); }
    bool isListening();
    int port();
    int transport();
    std::string localIp();

    // Fixes the agent's address (before init); otherwise init takes the address of the
    // interface holding the default route, else the chosen adapter's, else 127.0.0.1.
    void setLocalIp(const std::string& ip);
    // For tests: the stack's base retransmission interval and the registration tick.
    void setT1(int ms);
    void setKeepaliveInterval(double seconds);

    // The address init falls back on: the guessed one, else the adapter's, else 127.0.0.1.
    static std::string chooseLocalIp(const std::string& guessed, const std::string& adapter);

protected:
    // The address of the network adapter the application works on; the base takes the adapter
    // chosen as when no adapter is saved. The application's manager gives the saved one.
    virtual std::string adapterAddress();
    // Only between lock() and unlock().
    std::vector<std::shared_ptr<SipChannel>>& channelList() { return m_channels; }

private:
    // The stack of the moment, read under the lock; null when not listening.
    SipStack* currentStack();
    void wire(const std::shared_ptr<SipChannel>& channel, int id, bool withCommandThread);
    std::string resolveLocalIp();
    // The steps of init: a free port from kFirstSearchPort on (-1 when none), listening on it
    // (0 or the stack's error), the stack set up for this machine's address (returned), and the
    // stack and its threads taken into the manager.
    static int searchPort(int transport);
    static int listen(SipStack& stack, int port, int transport);
    std::string configureStack(SipStack& stack, int port);
    void adoptStack(SipStackPtr stack, int port, int transport, const std::string& localIp);
    // The steps of readEvent, by kind of event.
    void registrationOutcome(SipStackEvent* event);
    void incomingCall(SipStackEvent* event);
    void dispatchCallEvent(SipStackEvent* event);
    void dispatchMessageEvent(SipStackEvent* event);
    void answerOtherEvent(SipStackEvent* event);
    std::shared_ptr<SipChannel> findInviteChannelByUri(const std::string& host, int port, const std::string& user,
                                                       bool byAuthId);

    std::atomic<bool> m_running{true};
    std::mutex m_lifeMutex; // serialises init and uninit

    std::mutex m_mutex; // the channel list and what addChannel wires channels with
    std::string m_localIp;
    bool m_fixedLocalIp = false;
    int m_port = 0;
    int m_transport = Udp;
    SipStackPtr m_stack;
    std::vector<std::shared_ptr<SipChannel>> m_channels;
    std::vector<std::weak_ptr<SipChannel>> m_wired;
    std::shared_ptr<SipChannel> m_localLoopChannel;
    SipChannelEventThread* m_commandThread = nullptr;
    SipManagerEventThread* m_eventThread = nullptr;
    int m_t1 = 0;
    double m_keepaliveInterval = kKeepaliveInterval;
};
