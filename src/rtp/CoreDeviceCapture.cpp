#include "CoreDeviceCapture.h"

#include "AudioCaptureStream.h"
#include "RDFunctionThread.h"
#include "RDLog.h"
#include "RTPAudioEncoder.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <QByteArray>

#include <vector>

namespace {

// Layout of the endpoint's channels: mono and stereo by name; other counts get the encoder's
// default for the count.
uint64_t inputLayout(int channels)
{
    return channels == 1 ? AV_CH_LAYOUT_MONO : channels == 2 ? AV_CH_LAYOUT_STEREO : 0;
}

} // namespace

CoreDeviceCapture::CoreDeviceCapture() = default;

CoreDeviceCapture::~CoreDeviceCapture()
{
    stop();
}

void CoreDeviceCapture::setDevice(const QString& id, const QString& name, int kind)
{
    m_device.id = id;
    m_device.name = name;
    m_device.kind = kind;
}

void CoreDeviceCapture::setPayloadType(int payloadType)
{
    m_payloadType = payloadType;
}

int CoreDeviceCapture::payloadType()
{
    return m_payloadType;
}

bool CoreDeviceCapture::_open(AudioCaptureStream& stream)
{
    const bool loopback = m_device.kind == RDAudioDevice::kRender;
    const int result = stream.open(m_device.id, loopback, kFragmentMs);
    const QByteArray id = m_device.id.toUtf8();
    const QByteArray error = stream.errorText().toUtf8();
    switch (result) {
    case AudioCaptureStream::kOk:
        break;
    case AudioCaptureStream::kNoServer:
        RDLOG("CoCreateInstance failure: no sound server (%s)", error.constData());
        return false;
    case AudioCaptureStream::kNotFound:
        RDLOG("GetDevice failure: %s (%s)", id.constData(), error.constData());
        return false;
    default:
        RDLOG("Initialize failure: %s (%s)", id.constData(), error.constData());
        return false;
    }
    const AudioFormat& mix = stream.deviceFormat();
    RDLOG("capture format samplerate = %d, channels = %d, bits = %d, blockAlign = %d, bytes = %d, "
          "format = %x",
          mix.sampleRate, mix.channels, mix.bitsPerSample, mix.blockAlign, mix.bytesPerSecond(),
          unsigned(mix.formatTag));
    return true;
}

bool CoreDeviceCapture::_openEncoder(const AudioFormat& input)
{
    auto encoder = std::make_unique<RTPAudioEncoder>();
    if (!encoder->open(input.sampleRate, inputLayout(input.channels), input.channels, input.sampleFormat,
                       m_payloadType)) {
        RDLOG("encoder open failure: payload type %d", m_payloadType);
        return false;
    }
    // The card's clock drifts against the send loop's; a reader that falls behind loses the
    // oldest audio instead of memory.
    encoder->queue()->setLimit(RTPAudioPacketQueue::kLiveLimit);
    std::lock_guard<std::mutex> lock(m_encoderMutex);
    if (m_encoder)
        m_encoder->close();
    m_encoder = std::move(encoder);
    return true;
}

bool CoreDeviceCapture::start()
{
    if (m_thread)
        return true;
    m_ended.store(false);
    auto stream = std::make_unique<AudioCaptureStream>();
    if (!_open(*stream) || !_openEncoder(stream->format()))
        return false;
    m_stream = std::move(stream);
    m_capturing.store(true);
    m_thread = std::make_unique<RDFunctionThread>("CoreDeviceCapture", [this](RDThread* thread) { _capture(thread); });
    if (!m_thread->start()) {
        m_thread.reset();
        m_stream.reset();
        m_capturing.store(false);
        std::lock_guard<std::mutex> lock(m_encoderMutex);
        m_encoder->close();
        m_encoder.reset();
        return false;
    }
    return true;
}

void CoreDeviceCapture::_capture(RDThread* thread)
{
    AudioCaptureStream& stream = *m_stream;
    const AudioFormat format = stream.format();
    std::vector<char> buffer(size_t(format.bytesForMs(4 * kFragmentMs)));
    while (!thread->isStop()) {
        // Blocks for the next fragment (at most 50 ms, so a stop is seen promptly).
        const int bytes = stream.read(buffer.data(), int(buffer.size()), 50);
        if (bytes < 0) {
            RDLOG("capture of %s ended: the endpoint went away (%s)", m_device.id.toUtf8().constData(),
                  stream.errorText().toUtf8().constData());
            m_ended.store(true);
            break;
        }
        if (bytes == 0)
            continue;
        std::lock_guard<std::mutex> lock(m_encoderMutex);
        if (m_encoder)
            m_encoder->encodePcm(buffer.data(), bytes / format.blockAlign, bytes);
    }
    m_capturing.store(false);
    stream.close();
}

void CoreDeviceCapture::stop()
{
    if (m_thread) {
        m_thread->stop();
        m_thread->wait();
        m_thread.reset();
    }
    m_stream.reset();
    m_capturing.store(false);
    std::lock_guard<std::mutex> lock(m_encoderMutex);
    if (m_encoder) {
        m_encoder->close();
        m_encoder.reset();
    }
}

bool CoreDeviceCapture::isLive()
{
    return m_thread && m_capturing.load();
}

bool CoreDeviceCapture::isFinished()
{
    return m_ended.load();
}

RTPAudioPacket* CoreDeviceCapture::read()
{
    std::lock_guard<std::mutex> lock(m_encoderMutex);
    return m_encoder ? m_encoder->queue()->pop() : nullptr;
}

void CoreDeviceCapture::reset()
{
    std::lock_guard<std::mutex> lock(m_encoderMutex);
    if (m_encoder)
        m_encoder->clear();
}

int CoreDeviceCapture::queuedCount()
{
    std::lock_guard<std::mutex> lock(m_encoderMutex);
    return m_encoder ? m_encoder->queue()->count() : 0;
}
