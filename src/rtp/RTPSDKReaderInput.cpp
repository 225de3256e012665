#include "RTPSDKReaderInput.h"

#include "RDLog.h"
#include "RDThread.h"
#include "RTPAudioPacket.h"
#include "RtpCodec.h"
#include "VexaAudioPacket.h"

namespace {

bool isMpegRate(int rate)
{
    for (int r : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}) {
        if (rate == r)
            return true;
    }
    return false;
}

bool fail(QString* why, const QString& text)
{
    if (why)
        *why = text;
    return false;
}

} // namespace

RTPSDKReaderInput::RTPSDKReaderInput()
{
    m_ready.setLimit(RTPAudioPacketQueue::kLiveLimit);
}

void RTPSDKReaderInput::open(int payloadType)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_transcoder.close();
    m_ready.clear();
    m_payloadType = payloadType;
    m_accepting = true;
    m_converting = Format();
    m_failed = Format();
    m_dropped = 0;
    m_unlogged = 0;
    m_lastDropLog = -1.0;
}

void RTPSDKReaderInput::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_transcoder.close();
    m_ready.clear();
    m_accepting = false;
    m_converting = Format();
    m_failed = Format();
}

bool RTPSDKReaderInput::check(const VexaAudioPacket& frame, Format* format, double* duration, QString* why)
{
    const int bytes = frame.length();
    if (bytes <= 0)
        return fail(why, QStringLiteral("no payload"));
    Format f;
    f.payloadType = frame.payloadType;
    f.channels = frame.channels;
    const RtpCodec* codec = RtpCodec::byPayloadType(frame.payloadType);
    if (!codec)
        return fail(why, QStringLiteral("unknown payload type %1").arg(frame.payloadType));
    f.sampleRate = codec->sampleRate;
    if (codec->payloadType == RtpCodec::kPayloadL16Stereo || codec->payloadType == RtpCodec::kPayloadL16Mono)
        f.channels = codec->channels; // the payload type says it
    else if (codec->payloadType == RtpCodec::kPayloadMpa && isMpegRate(frame.sampleRate))
        f.sampleRate = frame.sampleRate;
    if (frame.channels != 1 && frame.channels != 2)
        return fail(why, QStringLiteral("%1 channels").arg(frame.channels));
    if (frame.duration <= 0 || frame.duration > int(kMaxFrameSeconds * 1000000))
        return fail(why, QStringLiteral("duration of %1 microseconds").arg(frame.duration));
    double seconds = frame.duration / 1000000.0;
    const int rate = codec->bytesPerChannelSecond;
    if (rate > 0) {
        // The header's duration is only a claim; the samples are what will be played.
        const int sampleBytes = codec->codecId == AV_CODEC_ID_PCM_S16BE ? 2 * f.channels : f.channels;
        if (bytes % sampleBytes != 0)
            return fail(why, QStringLiteral("%1 bytes are not whole samples").arg(bytes));
        seconds = double(bytes) / (double(rate) * f.channels);
        if (seconds > kMaxFrameSeconds)
            return fail(why, QStringLiteral("%1 bytes last %2 s").arg(bytes).arg(seconds));
    }
    if (format)
        *format = f;
    if (duration)
        *duration = seconds;
    return true;
}

int RTPSDKReaderInput::take(const VexaAudioPacket& frame)
{
    Format format;
    double seconds = 0.0;
    QString why;
    const bool good = check(frame, &format, &seconds, &why);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_accepting)
        return kNotConverted;
    if (!good) {
        noteDrop(why);
        return kBadFrame;
    }
    if (m_transcoder.isOpen() && format != m_converting)
        m_transcoder.close();
    if (!m_transcoder.isOpen()) {
        if (format == m_failed) {
            ++m_dropped;
            return kNotConverted;
        }
        // Passed through, a stereo G.711 or G.722 frame would play as noise on a mono channel.
        const bool mismatch = format.payloadType == m_payloadType && format.channels != 1
                              && RtpCodec::byPayloadType(m_payloadType)
                              && RtpCodec::byPayloadType(m_payloadType)->channels == 1
                              && m_payloadType != RtpCodec::kPayloadL16Mono;
        if (mismatch
            || m_transcoder.open(m_payloadType, format.payloadType, format.channels, format.sampleRate) < 0) {
            m_transcoder.close();
            m_failed = format;
            ++m_dropped;
            RDLOG("remote audio of payload type %d, %d channels, %d Hz cannot be converted to payload type %d; "
                  "its frames are dropped",
                  format.payloadType, format.channels, format.sampleRate, m_payloadType);
            return kNotConverted;
        }
        m_converting = format;
        m_failed = Format();
    }
    const int ret = m_transcoder.push(frame.payloadBytes(), frame.length(), seconds);
    while (RTPAudioPacket* packet = m_transcoder.pop())
        m_ready.push(packet);
    if (ret < 0) {
        noteDrop(QStringLiteral("payload type %1 data that does not decode").arg(format.payloadType));
        return kNotConverted;
    }
    return kTaken;
}

RTPAudioPacket* RTPSDKReaderInput::pop()
{
    return m_ready.pop();
}

void RTPSDKReaderInput::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_transcoder.clear();
    m_ready.clear();
}

int RTPSDKReaderInput::dropped() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}

void RTPSDKReaderInput::noteDrop(const QString& why)
{
    ++m_dropped;
    ++m_unlogged;
    // A flood of bad frames must not flood the log as well.
    const double now = RDThread::tickTime();
    if (m_lastDropLog >= 0.0 && now - m_lastDropLog < kDropLogInterval)
        return;
    RDLOG("remote audio frame dropped: %s (%d dropped since the last report)", why.toUtf8().constData(), m_unlogged);
    m_unlogged = 0;
    m_lastDropLog = now;
}
