#include "RTPSipCall.h"

#include "RTPSipAudioReader.h"

RTPSipCall::RTPSipCall() = default;

RTPSipCall::~RTPSipCall() = default;

std::shared_ptr<SipDevice> RTPSipCall::createDevice()
{
    auto reader = std::make_shared<RTPSipAudioReader>();
    reader->setRtpInfo(m_info);
    reader->setQueue(m_queue);
    reader->setPayloadType(RTPSipAudioReader::payloadTypeForCodec(m_info.codec));
    // A payload reset while this call goes on is a codec change, not the end of the source.
    std::weak_ptr<SipCall> call = self();
    reader->setCallEnded([call] {
        const std::shared_ptr<SipCall> alive = call.lock();
        return !alive || alive->isEnded();
    });
    return reader;
}
