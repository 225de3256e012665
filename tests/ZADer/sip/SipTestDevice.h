#pragma once

#include "SipDevice.h"

#include <QByteArray>

#include <mutex>
#include <vector>

// A call's device for tests: keeps every received audio payload, answers with 20 ms of silence
// of the send codec, and counts what the call asked of it.
class SipTestDevice : public SipDevice
{
public:
    int setAudioSendPayload(const std::shared_ptr<SipPayload>& payload) override;
    int setAudioRecvPayload(const std::shared_ptr<SipPayload>& payload) override;
    void resetAudioRecvPayload() override;
    SipPacket* readAudio() override;
    int writeAudio(const uint8_t* data, int length, uint32_t timestamp) override;
    int writeVideo(const uint8_t* data, int length, uint32_t timestamp, int unitLength) override;

    // The received audio payloads one after the other.
    QByteArray audio() const;
    int writes() const;
    int videoWrites() const;
    int reads() const;
    // Payload types of every receive payload set, in order (-1 for each reset).
    std::vector<int> recvPayloadHistory() const;
    int sendPayloadType() const;

private:
    mutable std::mutex m_mutex;
    QByteArray m_audio;
    int m_writes = 0;
    int m_videoWrites = 0;
    int m_reads = 0;
    int m_sendPayloadType = -1;
    std::vector<int> m_recvHistory;
};
