#include "SipTestDevice.h"

#include "SipSilence.h"

int SipTestDevice::setAudioSendPayload(const std::shared_ptr<SipPayload>& payload)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_sendPayloadType = payload ? payload->payloadType : -1;
    }
    return SipDevice::setAudioSendPayload(payload);
}

int SipTestDevice::setAudioRecvPayload(const std::shared_ptr<SipPayload>& payload)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_recvHistory.push_back(payload ? payload->payloadType : -2);
    }
    return SipDevice::setAudioRecvPayload(payload);
}

void SipTestDevice::resetAudioRecvPayload()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_recvHistory.push_back(-1);
    }
    SipDevice::resetAudioRecvPayload();
}

SipPacket* SipTestDevice::readAudio()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        ++m_reads;
    }
    // The call holds its device mutex around this: the payload slot is stable.
    const auto send = audioSendPayload();
    return send ? SipSilence::packet(*send) : nullptr;
}

int SipTestDevice::writeAudio(const uint8_t* data, int length, uint32_t)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_audio.append(reinterpret_cast<const char*>(data), length);
    ++m_writes;
    return 0;
}

int SipTestDevice::writeVideo(const uint8_t*, int, uint32_t, int)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    ++m_videoWrites;
    return 0;
}

QByteArray SipTestDevice::audio() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_audio;
}

int SipTestDevice::writes() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_writes;
}

int SipTestDevice::videoWrites() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_videoWrites;
}

int SipTestDevice::reads() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_reads;
}

std::vector<int> SipTestDevice::recvPayloadHistory() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_recvHistory;
}

int SipTestDevice::sendPayloadType() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_sendPayloadType;
}
