#pragma once

#include "SipChannel.h"
#include "SipTestCall.h"

// A channel whose calls have test devices and the data time-outs the test chose.
class SipTestChannel : public SipChannel
{
public:
    SipTestChannel(SipTestCall::DeviceSink sink, double audioTimeout, double videoTimeout);
    std::shared_ptr<SipCall> createCall() override;

private:
    SipTestCall::DeviceSink m_sink;
    double m_audioTimeout;
    double m_videoTimeout;
};
