#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

class SipChannel;

// One SIP dialog of a channel. This holds what the manager's event dispatch needs to find a
// call and its channel: the stack's ids, the state and the weak links to the owning channel and
// to the call itself. Always owned by a shared pointer.
class SipCall
{
public:
    enum State : int {
        Created = 0,
        New = 1, // an incoming INVITE accepted into the channel
        Ringing = 2, // 180 sent
        Answered = 3, // 200 sent
        Established = 5, // media started
        Terminated = 6,
    };

    SipCall();
    virtual ~SipCall();
    SipCall(const SipCall&) = delete;
    SipCall& operator=(const SipCall&) = delete;

    // The weak pointer to the call itself, set by its creator from the owning shared pointer.
    void setSelf(const std::shared_ptr<SipCall>& self);
    std::shared_ptr<SipCall> self() const;
    // Keeps a weak pointer to the owning channel.
    void setChannel(const std::shared_ptr<SipChannel>& channel);
    // The owning channel, null when it is gone.
    std::shared_ptr<SipChannel> channel() const;

    std::atomic<int32_t> state{Created};
    std::atomic<int32_t> cid{0};
    std::atomic<int32_t> tid{0};
    std::atomic<int32_t> did{0};

private:
    std::weak_ptr<SipCall> m_self;
    std::weak_ptr<SipChannel> m_channel;
};
