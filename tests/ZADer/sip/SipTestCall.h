#pragma once

#include "SipCall.h"
#include "SipTestDevice.h"

#include <functional>
#include <memory>

// A call whose device is a SipTestDevice, handed to whoever wants to see it.
class SipTestCall : public SipCall
{
public:
    using DeviceSink = std::function<void(const std::shared_ptr<SipTestDevice>&)>;

    explicit SipTestCall(DeviceSink sink = DeviceSink());
    std::shared_ptr<SipDevice> createDevice() override;

private:
    DeviceSink m_sink;
};
