#pragma once

#include "RtpInfo.h"
#include "SipCall.h"

// A call on a channel's SIP account: its device is the channel's call audio source, converting
// what the caller says to the channel's codec.
class RTPSipCall : public SipCall
{
public:
    RTPSipCall();
    ~RTPSipCall() override;

    std::shared_ptr<SipDevice> createDevice() override;

    // Set once, before the call is listed.
    void setRtpInfo(const RtpInfo& info) { m_info = info; }
    const RtpInfo& rtpInfo() const { return m_info; }

private:
    RtpInfo m_info;
};
