#include "SipTestCall.h"

SipTestCall::SipTestCall(DeviceSink sink) : m_sink(std::move(sink))
{
}

std::shared_ptr<SipDevice> SipTestCall::createDevice()
{
    auto device = std::make_shared<SipTestDevice>();
    if (m_sink)
        m_sink(device);
    return device;
}
