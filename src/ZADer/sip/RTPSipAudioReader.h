#pragma once

#include "RTPAudioReader.h"
#include "RtpInfo.h"
#include "SipDevice.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class AVPacketConverter;
class RtpManagerQueue;
class SipPayload;
struct AVCodecParameters;

// The audio of an answered SIP call as a channel source (RtpInfo::kSourceSip). It is the call's
// device, fed by the call's RTP threads with every received payload, and the reader the channel
// session polls for the payloads converted to the channel's codec. When the call's audio comes up
// it asks the channel manager to start this source on the channel, when the call ends to stop it,
// both through the manager's queue (RtpInfo::kTriggerSip), so no SIP thread waits for the
// manager's locks.
//
// Threads: the SIP side calls the SipDevice operations with the call's device mutex held; the
// session's send thread calls read and isFinished. The converter has a mutex of its own.
class RTPSipAudioReader : public RTPAudioReader, public SipDevice
{
public:
    RTPSipAudioReader();
    ~RTPSipAudioReader() override;

    void setRtpInfo(const RtpInfo& info);
    RtpInfo rtpInfo() const;
    // Where the starts and stops go (the channel manager's queue); without one they are logged
    // and dropped.
    void setQueue(RtpManagerQueue* queue);
    // Whether the call has ended. A receive payload reset while the call goes on (the caller
    // switched codec, a re-INVITE restarted the audio) is not the end of the source. Without it
    // every reset is the end.
    void setCallEnded(std::function<bool()> ended);
    // The channel stopped this source itself (and ends the call): the call's end then queues
    // no second stop.
    void forgetStart() { m_startQueued = false; }

    // The channel's payload type for a codec index (0 PCMU, 1 PCMA, 2 G722, 3 MP3, 4 L16 mono,
    // 5 L16 stereo; anything else PCMA).
    static int payloadTypeForCodec(int codec);
    // The decoder parameters of a received payload: Opus, G.722, PCMU or PCMA; false (and the
    // parameters left empty) for anything else.
    static bool fillInput(AVCodecParameters* parameters, const SipPayload& payload);

    // RTPAudioReader
    bool start() override;
    void stop() override;
    bool isLive() override { return true; }
    bool isFinished() override { return m_finished.load(); }
    RTPAudioPacket* read() override;
    void setPayloadType(int payloadType) override { m_payloadType.store(payloadType); }
    int payloadType() override { return m_payloadType.load(); }

    // SipDevice
    int setAudioRecvPayload(const std::shared_ptr<SipPayload>& payload) override;
    void resetAudioRecvPayload() override;
    int writeAudio(const uint8_t* data, int length, uint32_t timestamp) override;
    SipPacket* readAudio() override;

private:
    void freeParameters();
    void releaseConverter();

    mutable std::mutex m_infoMutex;
    RtpInfo m_info;
    std::atomic<bool> m_finished{false};
    std::atomic<int> m_payloadType{14};

    std::mutex m_mutex; // the converter and the parameter blocks
    AVPacketConverter* m_converter = nullptr;
    AVCodecParameters* m_input = nullptr;
    AVCodecParameters* m_target = nullptr;
    // What a received payload holds: samples per byte and channel, at the input rate.
    double m_samplesPerByte = 0.0;
    int m_inputRate = 0;
    int m_inputChannels = 1;

    std::atomic<bool> m_startQueued{false};
    // Set before the call's media start.
    std::function<bool()> m_callEnded;
    std::atomic<RtpManagerQueue*> m_queue{nullptr};
};
