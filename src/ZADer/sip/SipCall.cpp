#include "SipCall.h"

#include "SipChannel.h"

SipCall::SipCall() = default;

SipCall::~SipCall() = default;

void SipCall::setSelf(const std::shared_ptr<SipCall>& self)
{
    m_self = self;
}

std::shared_ptr<SipCall> SipCall::self() const
{
    return m_self.lock();
}

void SipCall::setChannel(const std::shared_ptr<SipChannel>& channel)
{
    m_channel = channel;
}

std::shared_ptr<SipChannel> SipCall::channel() const
{
    return m_channel.lock();
}
