#pragma once

#include "AudioFormat.h"
#include "RDAudioDevice.h"
#include "RTPAudioReader.h"

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

class AudioCaptureStream;
class RDThread;
class RTPAudioEncoder;

// The channel source of the sound card (RtpInfo::kSourceDevice): records an audio endpoint, a capture
// endpoint directly or a render endpoint as loopback, and encodes what it hears into the
// channel's payload type. It is live and never finishes by itself; only when its endpoint goes
// away does it end, and then it reports itself finished so the channel stops.
class CoreDeviceCapture : public RTPAudioReader
{
public:
    CoreDeviceCapture();
    ~CoreDeviceCapture() override;

    // The channel's device id, name and type (0 capture endpoint, 1 render endpoint as loopback).
    void setDevice(const QString& id, const QString& name, int kind);
    const RDAudioDevice& device() const { return m_device; }

    // Opens the endpoint and the encoder and starts capturing. False when the endpoint cannot be
    // opened or the payload type cannot be encoded.
    bool start() override;
    void stop() override;
    // True while the capture thread runs and has not lost its endpoint.
    bool isLive() override;
    // True once the capture ended by itself.
    bool isFinished() override;
    RTPAudioPacket* read() override;
    void reset() override;
    void setPayloadType(int payloadType) override;
    int payloadType() override;

    // Packets waiting to be read.
    int queuedCount();

    // Size of the fragments read from the endpoint.
    static constexpr int kFragmentMs = 20;

private:

    // Opens the endpoint for capturing, logging every failure; false when it cannot be opened.
    bool _open(AudioCaptureStream& stream);
    bool _openEncoder(const AudioFormat& input);
    // The capture thread's body.
    void _capture(RDThread* thread);

    RDAudioDevice m_device;
    int m_payloadType = 14;
    // Guards the encoder: the capture thread encodes while the send thread reads and resets.
    std::mutex m_encoderMutex;
    std::unique_ptr<RTPAudioEncoder> m_encoder;
    // Opened by start on the owner's thread, then used by the capture thread alone until it ends.
    std::unique_ptr<AudioCaptureStream> m_stream;
    std::unique_ptr<RDThread> m_thread;
    std::atomic<bool> m_capturing{false};
    std::atomic<bool> m_ended{false};
};
