#include "SipDevice.h"

SipDevice::SipDevice() = default;

SipDevice::~SipDevice() = default;

int SipDevice::setAudioSendPayload(const std::shared_ptr<SipPayload>& payload)
{
    m_audioSendPayload = payload;
    return 0;
}

void SipDevice::resetAudioSendPayload()
{
    m_audioSendPayload.reset();
}

int SipDevice::setAudioRecvPayload(const std::shared_ptr<SipPayload>& payload)
{
    m_audioRecvPayload = payload;
    return 0;
}

void SipDevice::resetAudioRecvPayload()
{
    m_audioRecvPayload.reset();
}

SipPacket* SipDevice::readAudio()
{
    return nullptr;
}

int SipDevice::writeAudio(const uint8_t*, int, uint32_t)
{
    return 0;
}

int SipDevice::setVideoSendPayload(const std::shared_ptr<SipPayload>& payload)
{
    m_videoSendPayload = payload;
    return 0;
}

void SipDevice::resetVideoSendPayload()
{
    m_videoSendPayload.reset();
}

int SipDevice::setVideoRecvPayload(const std::shared_ptr<SipPayload>& payload)
{
    m_videoRecvPayload = payload;
    return 0;
}

void SipDevice::resetVideoRecvPayload()
{
    m_videoRecvPayload.reset();
}

SipPacket* SipDevice::readVideo()
{
    return nullptr;
}

int SipDevice::writeVideo(const uint8_t*, int, uint32_t, int)
{
    return 0;
}
