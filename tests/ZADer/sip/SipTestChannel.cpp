#include "SipTestChannel.h"

SipTestChannel::SipTestChannel(SipTestCall::DeviceSink sink, double audioTimeout, double videoTimeout)
    : m_sink(std::move(sink)), m_audioTimeout(audioTimeout), m_videoTimeout(videoTimeout)
{
}

std::shared_ptr<SipCall> SipTestChannel::createCall()
{
    auto call = std::make_shared<SipTestCall>(m_sink);
    call->setDataTimeouts(m_audioTimeout, m_videoTimeout);
    return call;
}
