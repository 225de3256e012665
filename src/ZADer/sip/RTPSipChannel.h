#pragma once

#include "RtpInfo.h"
#include "SipChannel.h"

#include <mutex>

// The SIP account of one channel: a SIP channel that knows the channel record it registers
// for, and whose calls carry that record to their audio source.
class RtpManagerQueue;

class RTPSipChannel : public SipChannel
{
public:
    RTPSipChannel();
    ~RTPSipChannel() override;

    std::shared_ptr<SipCall> createCall() override;

    void setRtpInfo(const RtpInfo& info);
    // A copy; a record with id 0 for the local-loop channel.
    RtpInfo rtpInfo() const;
    // Set once, before the channel is listed: the queue its calls' audio sources report to.
    void setQueue(RtpManagerQueue* queue) { m_queue = queue; }

private:
    mutable std::mutex m_infoMutex;
    RtpInfo m_info;
    RtpManagerQueue* m_queue = nullptr;
};
