#include "RTPSipChannel.h"

#include "RTPSipCall.h"

RTPSipChannel::RTPSipChannel() = default;

RTPSipChannel::~RTPSipChannel() = default;

std::shared_ptr<SipCall> RTPSipChannel::createCall()
{
    auto call = std::make_shared<RTPSipCall>();
    call->setRtpInfo(rtpInfo());
    call->setQueue(m_queue);
    return call;
}

void RTPSipChannel::setRtpInfo(const RtpInfo& info)
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    m_info = info;
}

RtpInfo RTPSipChannel::rtpInfo() const
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    return m_info;
}
