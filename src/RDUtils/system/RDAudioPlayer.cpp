#include "RDAudioPlayer.h"

#include "AVPacketConverter.h"
#include "AudioRenderStream.h"
#include "RDLog.h"
#include "RDPcmVolume.h"
#include "RDRingBuffer.h"
#include "RDThread.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

#include <QByteArray>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

// The PCM codec that carries a sample format as it is.
AVCodecID pcmCodec(int format)
{
    switch (format) {
    case AV_SAMPLE_FMT_U8:
        return AV_CODEC_ID_PCM_U8;
    case AV_SAMPLE_FMT_S16:
        return AV_CODEC_ID_PCM_S16LE;
    case AV_SAMPLE_FMT_S32:
        return AV_CODEC_ID_PCM_S32LE;
    case AV_SAMPLE_FMT_S64:
        return AV_CODEC_ID_PCM_S64LE;
    case AV_SAMPLE_FMT_FLT:
        return AV_CODEC_ID_PCM_F32LE;
    case AV_SAMPLE_FMT_DBL:
        return AV_CODEC_ID_PCM_F64LE;
    default:
        return AV_CODEC_ID_NONE;
    }
}

QByteArray errorText(int error)
{
    char text[1024] = {};
    av_strerror(error, text, sizeof text);
    return QByteArray(text);
}

} // namespace

RDAudioPlayer::RDAudioPlayer() = default;

RDAudioPlayer::~RDAudioPlayer()
{
    stop();
}

void RDAudioPlayer::setObserver(RDAudioPlayerObserver* observer)
{
    std::lock_guard<std::mutex> lock(m_settingsMutex);
    m_observer = observer;
}

RDAudioPlayerObserver* RDAudioPlayer::observer() const
{
    std::lock_guard<std::mutex> lock(m_settingsMutex);
    return m_observer;
}

void RDAudioPlayer::setUrl(const QString& url)
{
    std::lock_guard<std::mutex> lock(m_settingsMutex);
    m_url = url;
}

QString RDAudioPlayer::url() const
{
    std::lock_guard<std::mutex> lock(m_settingsMutex);
    return m_url;
}

void RDAudioPlayer::setVolume(int percent)
{
    m_volume.store(percent);
}

int RDAudioPlayer::volume() const
{
    return m_volume.load();
}

bool RDAudioPlayer::isPlaying() const
{
    return m_playing.load();
}

bool RDAudioPlayer::onPlayerThread() const
{
    const std::thread::id self = std::this_thread::get_id();
    return self == m_readerId.load() || self == m_renderId.load();
}

void RDAudioPlayer::play()
{
    if (onPlayerThread()) {
        RDLOG("play from the player's own thread is ignored");
        return;
    }
    std::lock_guard<std::mutex> control(m_controlMutex);
    {
        std::lock_guard<std::mutex> lock(m_waitMutex);
        m_run.store(false);
        m_waitCondition.notify_all();
    }
    if (m_readerThread.joinable())
        m_readerThread.join();
    m_endOfInput.store(false);
    m_renderFailed.store(false);
    m_run.store(true);
    m_playing.store(true);
    m_readerThread = std::thread([this] { doReadDecoder(); });
}

void RDAudioPlayer::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_waitMutex);
        m_run.store(false);
        m_waitCondition.notify_all();
    }
    // The reader joins the render thread and closes everything; a callback cannot wait for the
    // thread it runs on.
    if (onPlayerThread()) {
        m_playing.store(false);
        return;
    }
    std::lock_guard<std::mutex> control(m_controlMutex);
    if (m_readerThread.joinable())
        m_readerThread.join();
    m_playing.store(false);
}

void RDAudioPlayer::waitForStop(int ms)
{
    std::unique_lock<std::mutex> lock(m_waitMutex);
    m_waitCondition.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !m_run.load(); });
}

void RDAudioPlayer::waitForRenderEnd(int ms)
{
    std::unique_lock<std::mutex> lock(m_waitMutex);
    m_waitCondition.wait_for(lock, std::chrono::milliseconds(ms),
                             [this] { return !m_renderRunning.load(); });
}

int RDAudioPlayer::interruptCallback(void* opaque)
{
    auto* player = static_cast<RDAudioPlayer*>(opaque);
    return player ? (player->m_run.load() ? 0 : 1) : -1;
}

bool RDAudioPlayer::_openFile()
{
    const QByteArray path = url().toUtf8();
    m_input = avformat_alloc_context();
    bool ok = m_input != nullptr;
    if (ok) {
        m_input->interrupt_callback.callback = interruptCallback;
        m_input->interrupt_callback.opaque = this;
        AVDictionary* options = nullptr;
        av_dict_set(&options, "timeout", kNetworkTimeout, 0);
        // On failure avformat_open_input frees the context.
        ok = avformat_open_input(&m_input, path.constData(), nullptr, &options) == 0;
        av_dict_free(&options);
    }
    if (ok)
        ok = avformat_find_stream_info(m_input, nullptr) >= 0;
    if (ok) {
        m_stream = nullptr;
        for (unsigned i = 0; i < m_input->nb_streams && !m_stream; ++i) {
            if (m_input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
                m_stream = m_input->streams[i];
        }
        ok = m_stream != nullptr;
    }
    RDLOG("open file %s %s", path.constData(), ok ? "success" : "failure");
    m_startTime = -1;
    if (!ok) {
        avformat_close_input(&m_input);
        m_stream = nullptr;
    }
    return ok;
}

bool RDAudioPlayer::_startPlay()
{
    m_output = new AudioRenderStream;
    const int result = m_output->open(QString(), kDeviceBufferMs, kChunkMs);
    const QByteArray error = m_output->errorText().toUtf8();
    switch (result) {
    case AudioRenderStream::kOk: {
        const AudioFormat& format = m_output->format();
        RDLOG("render format samplerate = %d, channels = %d, bits = %d, blockAlign = %d, "
              "bytes = %d, format = %x",
              format.sampleRate, format.channels, format.bitsPerSample, format.blockAlign,
              format.bytesPerSecond(), unsigned(format.formatTag));
        return true;
    }
    case AudioRenderStream::kNoServer:
        RDLOG("CoCreateInstance failure: no sound server (%s)", error.constData());
        break;
    case AudioRenderStream::kNotFound:
        RDLOG("GetDefaultAudioEndpoint failure (%s)", error.constData());
        break;
    default:
        RDLOG("Initialize failure (%s)", error.constData());
        break;
    }
    delete m_output;
    m_output = nullptr;
    return false;
}

bool RDAudioPlayer::_openConverter()
{
    const AudioFormat& format = m_output->format();
    const AVCodecID codec = pcmCodec(format.sampleFormat);
    if (codec == AV_CODEC_ID_NONE) {
        RDLOG("no converter to the output format %x", unsigned(format.formatTag));
        return false;
    }
    AVCodecParameters* target = avcodec_parameters_alloc();
    if (!target)
        return false;
    target->codec_type = AVMEDIA_TYPE_AUDIO;
    target->codec_id = codec;
    target->format = format.sampleFormat;
    target->sample_rate = format.sampleRate;
    // FFmpeg's order for the count, which the output stream uses too (also beyond stereo).
    av_channel_layout_default(&target->ch_layout, format.channels);
    // Small blocks, so the ring is filled evenly.
    target->frame_size = std::max(1, format.sampleRate * kChunkMs / 1000);
    m_framesPerPacket = target->frame_size;
    m_outputRate = format.sampleRate;

    m_converter = new AVPacketConverter;
    const bool ok = m_converter->init(m_stream->codecpar, target);
    avcodec_parameters_free(&target);
    if (!ok) {
        RDLOG("converter init failure");
        m_converter->release();
        delete m_converter;
        m_converter = nullptr;
    }
    return ok;
}

double RDAudioPlayer::bufferedSeconds() const
{
    if (m_outputRate <= 0)
        return 0;
    const int64_t queued = int64_t(m_converter->count()) * m_framesPerPacket;
    return double(queued + m_ringFrames.load()) / m_outputRate;
}

double RDAudioPlayer::decodedSeconds() const
{
    if (m_outputRate <= 0)
        return 0;
    const int64_t queued = int64_t(m_converter->count()) * m_framesPerPacket;
    return double(queued + m_poppedFrames.load()) / m_outputRate;
}

void RDAudioPlayer::doReadDecoder()
{
    m_readerId.store(std::this_thread::get_id());
    if (!_openFile() || !_startPlay() || !_openConverter()) {
        m_playing.store(false);
        if (RDAudioPlayerObserver* o = observer())
            o->onPlayFailed(this);
        _close();
        m_readerId.store(std::thread::id());
        return;
    }

    m_endReported.store(false);
    m_poppedFrames.store(0);
    m_ringFrames.store(0);
    m_renderRunning.store(true);
    m_renderThread = std::thread([this] { doPlay(); });
    if (RDAudioPlayerObserver* o = observer())
        o->onPlayStarted(this, url());

    AVPacket* packet = av_packet_alloc();
    bool failed = packet == nullptr;
    while (m_run.load() && !failed) {
        if (m_renderFailed.load()) {
            failed = true;
            break;
        }
        if (m_endOfInput.load()) {
            waitForStop(20);
            continue;
        }
        const double now = RDThread::tickTime();
        if (m_startTime < 0)
            m_startTime = now;
        // Ahead of the clock, or enough waiting for the output: wait for it to take some.
        if (decodedSeconds() >= now - m_startTime + 2 * kReadAhead
            || bufferedSeconds() >= kReadAhead) {
            waitForStop(kChunkMs);
            continue;
        }
        const int result = av_read_frame(m_input, packet);
        if (result == AVERROR(EAGAIN)) {
            waitForStop(5);
            continue;
        }
        if (result < 0) {
            RDLOG("%s", errorText(result).constData());
            // What the codecs still hold is played too.
            m_converter->flush();
            m_endOfInput.store(true);
            continue;
        }
        if (packet->stream_index == m_stream->index) {
            packet->time_base = m_stream->time_base;
            m_converter->push(packet);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);

    // Not playing any more before anyone hears so: an observer asks isPlaying() right after.
    m_playing.store(false);
    if (failed) {
        if (RDAudioPlayerObserver* o = observer())
            o->onPlayFailed(this);
    } else if (RDAudioPlayerObserver* o = observer()) {
        o->onPlayStopped(this);
    }
    _close();
    m_readerId.store(std::thread::id());
}

void RDAudioPlayer::_close()
{
    {
        std::lock_guard<std::mutex> lock(m_waitMutex);
        m_renderRunning.store(false);
        m_waitCondition.notify_all();
    }
    if (m_renderThread.joinable())
        m_renderThread.join();
    if (m_converter) {
        m_converter->release();
        delete m_converter;
        m_converter = nullptr;
    }
    if (m_output) {
        m_output->close();
        delete m_output;
        m_output = nullptr;
    }
    if (m_input)
        avformat_close_input(&m_input);
    m_stream = nullptr;
    m_outputRate = 0;
}

void RDAudioPlayer::doPlay()
{
    m_renderId.store(std::this_thread::get_id());
    const AudioFormat& format = m_output->format();
    const int blockAlign = std::max(format.blockAlign, 1);
    RDLOG("render buffer size = %d", m_output->bufferBytes() / blockAlign);

    int rate = 0;
    int channels = 0;
    int sampleFormat = -1;
    m_converter->outputFormat(&rate, &channels, &sampleFormat);
    const int bytesPerSample = av_get_bytes_per_sample(AVSampleFormat(sampleFormat));
    RDRingBuffer ring(std::max(bytesPerSample * channels * rate, 4 * m_output->bufferBytes()));
    std::vector<char> block(size_t(m_output->bufferBytes()));
    AVPacket* pending = nullptr;

    while (m_renderRunning.load()) {
        // Converted audio into the ring, as far as it fits.
        for (;;) {
            if (!pending)
                pending = m_converter->pop();
            if (!pending || pending->size > ring.capacity() - ring.size())
                break;
            ring.write(pending->data, pending->size);
            m_poppedFrames.fetch_add(pending->size / blockAlign);
            av_packet_free(&pending);
        }
        m_ringFrames.store(ring.size() / blockAlign);

        // Blocks until the output wants more (or 20 ms pass), so this loop never spins.
        const int room = m_output->waitWritable(20);
        if (room < 0) {
            RDLOG("render device lost: %s", m_output->errorText().toUtf8().constData());
            m_renderFailed.store(true);
            break;
        }
        const int audio = std::min(std::min(room, ring.size()), int(block.size()));
        const int bytes = audio - audio % blockAlign;
        if (bytes > 0) {
            ring.read(block.data(), bytes);
            m_ringFrames.store(ring.size() / blockAlign);
            RDPcmVolume::adjustPcmVolume(block.data(), bytes, m_volume.load(), format.sampleFormat);
            if (RDAudioPlayerObserver* o = observer())
                o->onAudioData(this, block.data(), bytes);
            m_output->write(block.data(), bytes);
            continue;
        }
        if (m_endOfInput.load() && !pending && ring.size() < blockAlign
            && m_converter->count() == 0 && !m_endReported.load()) {
            // Everything is written: let the output play it out (even a file shorter than its
            // buffer), so that a stop on the end loses nothing.
            m_output->drain(4 * kDeviceBufferMs + 1000,
                            [this] { return m_renderRunning.load(); });
            m_endReported.store(true);
            if (RDAudioPlayerObserver* o = observer())
                o->onPlayEnded(this);
        }
        // Nothing to hand over (the decoder is behind, or the input has ended): the output does
        // not wait for us then, so wait here.
        waitForRenderEnd(5);
    }
    av_packet_free(&pending);
    m_renderId.store(std::thread::id());
}
