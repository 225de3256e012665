#pragma once

#include "SipPayload.h"

#include <cstdint>
#include <memory>

class SipPacket;

// What produces and consumes a call's media: the call hands it every received payload and takes
// from it the frames to send. The base keeps the four negotiated payloads and neither produces
// nor consumes anything; the channel engine's call audio source derives from it. The call
// guards every use of its device with its own mutex.
class SipDevice
{
public:
    SipDevice();
    virtual ~SipDevice();
    SipDevice(const SipDevice&) = delete;
    SipDevice& operator=(const SipDevice&) = delete;

    virtual int setAudioSendPayload(const std::shared_ptr<SipPayload>& payload);
    virtual void resetAudioSendPayload();
    virtual int setAudioRecvPayload(const std::shared_ptr<SipPayload>& payload);
    virtual void resetAudioRecvPayload();
    // The next audio frame to send (the caller owns it), or null.
    virtual SipPacket* readAudio();
    // One received audio payload.
    virtual int writeAudio(const uint8_t* data, int length, uint32_t timestamp);

    virtual int setVideoSendPayload(const std::shared_ptr<SipPayload>& payload);
    virtual void resetVideoSendPayload();
    virtual int setVideoRecvPayload(const std::shared_ptr<SipPayload>& payload);
    virtual void resetVideoRecvPayload();
    virtual SipPacket* readVideo();
    // One received video unit (a whole NAL unit).
    virtual int writeVideo(const uint8_t* data, int length, uint32_t timestamp, int unitLength);

    std::shared_ptr<SipPayload> audioSendPayload() const { return m_audioSendPayload; }
    std::shared_ptr<SipPayload> videoSendPayload() const { return m_videoSendPayload; }
    std::shared_ptr<SipPayload> audioRecvPayload() const { return m_audioRecvPayload; }
    std::shared_ptr<SipPayload> videoRecvPayload() const { return m_videoRecvPayload; }

private:
    std::shared_ptr<SipPayload> m_audioSendPayload;
    std::shared_ptr<SipPayload> m_videoSendPayload;
    std::shared_ptr<SipPayload> m_audioRecvPayload;
    std::shared_ptr<SipPayload> m_videoRecvPayload;
};
