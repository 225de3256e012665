#pragma once

#include "RtpInfo.h"
#include "SipCall.h"

// A call on a channel's SIP account: its device is the channel's call audio source, converting
// what the caller says to the channel's codec.
class RtpManagerQueue;

class RTPSipCall : public SipCall
{
public:
    RTPSipCall();
    ~RTPSipCall() override;

    std::shared_ptr<SipDevice> createDevice() override;

    // Set once, before the call is listed.
    void setRtpInfo(const RtpInfo& info) { m_info = info; }
    const RtpInfo& rtpInfo() const { return m_info; }
    // Set once, before the call is listed: where its audio source starts and stops the channel's
    // source.
    void setQueue(RtpManagerQueue* queue) { m_queue = queue; }

private:
    RtpInfo m_info;
    RtpManagerQueue* m_queue = nullptr;
};
