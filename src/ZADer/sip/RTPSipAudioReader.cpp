#include "RTPSipAudioReader.h"

#include "AVPacketConverter.h"
#include "RDLog.h"
#include "RDString.h"
#include "RTPAudioPacket.h"
#include "RTPAudioPacketQueue.h"
#include "RTPAudioTarget.h"
#include "RTPMediaInput.h"
#include "RtpInfoSession.h"
#include "RtpManagerQueue.h"
#include "SipPacket.h"
#include "SipPayload.h"
#include "SipSilence.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <cstring>

RTPSipAudioReader::RTPSipAudioReader() = default;

RTPSipAudioReader::~RTPSipAudioReader()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    releaseConverter();
    freeParameters();
}

void RTPSipAudioReader::setRtpInfo(const RtpInfo& info)
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    m_info = info;
}

RtpInfo RTPSipAudioReader::rtpInfo() const
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    return m_info;
}

void RTPSipAudioReader::setQueue(RtpManagerQueue* queue)
{
    m_queue.store(queue);
}

void RTPSipAudioReader::setCallEnded(std::function<bool()> ended)
{
    m_callEnded = std::move(ended);
}

int RTPSipAudioReader::payloadTypeForCodec(int codec)
{
    const int payloadType = RtpInfoSession::codecPayloadType(codec);
    return payloadType < 0 ? 8 : payloadType;
}

bool RTPSipAudioReader::fillInput(AVCodecParameters* parameters, const SipPayload& payload)
{
    if (!parameters)
        return false;
    AVCodecParameters* empty = avcodec_parameters_alloc();
    if (empty)
        avcodec_parameters_copy(parameters, empty);
    avcodec_parameters_free(&empty);
    parameters->codec_type = AVMEDIA_TYPE_AUDIO;
    if (compareIgnoreCase(payload.name, "opus") == 0) {
        parameters->codec_id = AV_CODEC_ID_OPUS;
        parameters->sample_rate = payload.clockRate > 0 ? payload.clockRate : 48000;
        parameters->format = AV_SAMPLE_FMT_FLTP;
    } else if (payload.payloadType == 9) {
        parameters->codec_id = AV_CODEC_ID_ADPCM_G722;
        parameters->sample_rate = 16000;
        parameters->format = AV_SAMPLE_FMT_S16;
    } else if (payload.payloadType == 0) {
        parameters->codec_id = AV_CODEC_ID_PCM_MULAW;
        parameters->sample_rate = 8000;
        parameters->format = AV_SAMPLE_FMT_S16;
    } else if (payload.payloadType == 8) {
        parameters->codec_id = AV_CODEC_ID_PCM_ALAW;
        parameters->sample_rate = 8000;
        parameters->format = AV_SAMPLE_FMT_S16;
    } else {
        return false;
    }
    // A description that names no channel count means one.
    av_channel_layout_uninit(&parameters->ch_layout);
    if (payload.channels < 2)
        av_channel_layout_from_mask(&parameters->ch_layout, AV_CH_LAYOUT_MONO);
    else
        av_channel_layout_from_mask(&parameters->ch_layout, AV_CH_LAYOUT_STEREO);
    return true;
}

bool RTPSipAudioReader::start()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // A second start (a re-INVITE) must not leak the blocks of the first.
    freeParameters();
    m_input = avcodec_parameters_alloc();
    m_target = avcodec_parameters_alloc();
    return m_input && m_target;
}

void RTPSipAudioReader::stop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    freeParameters();
}

void RTPSipAudioReader::freeParameters()
{
    avcodec_parameters_free(&m_input);
    avcodec_parameters_free(&m_target);
}

void RTPSipAudioReader::releaseConverter()
{
    if (m_converter) {
        m_converter->release();
        delete m_converter;
        m_converter = nullptr;
    }
    m_samplesPerByte = 0.0;
    m_inputRate = 0;
}

int RTPSipAudioReader::setAudioRecvPayload(const std::shared_ptr<SipPayload>& payload)
{
    SipDevice::setAudioRecvPayload(payload);
    m_finished = false;
    start();
    const RtpInfo info = rtpInfo();
    const int target = payloadType();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        releaseConverter();
        const bool input = payload && m_input && fillInput(m_input, *payload);
        const bool output = m_target && RTPAudioTarget::fill(m_target, target);
        if (input && output) {
            m_converter = new AVPacketConverter;
            m_converter->setQueueLimit(RTPAudioPacketQueue::kLiveLimit);
            if (m_converter->init(m_input, m_target)) {
                m_inputRate = m_input->sample_rate;
                m_inputChannels = m_input->ch_layout.nb_channels > 0 ? m_input->ch_layout.nb_channels : 1;
                // G.711 holds one sample a byte, G.722 two (at 16 kHz); Opus is always decoded,
                // and its packets say how long they are.
                switch (m_input->codec_id) {
                case AV_CODEC_ID_PCM_MULAW:
                case AV_CODEC_ID_PCM_ALAW:
                    m_samplesPerByte = 1.0 / m_inputChannels;
                    break;
                case AV_CODEC_ID_ADPCM_G722:
                    m_samplesPerByte = 2.0 / m_inputChannels;
                    break;
                default:
                    m_samplesPerByte = 0.0;
                    break;
                }
            } else {
                releaseConverter();
            }
        }
        if (!m_converter)
            RDLOG("call audio %s/%d (%d) on channel %d cannot be converted to payload type %d; the call is not heard",
                  payload ? payload->name.c_str() : "-", payload ? payload->clockRate : 0,
                  payload ? payload->payloadType : -1, info.id, target);
    }
    if (!m_startQueued) {
        RtpManagerQueue* manager = m_queue.load();
        if (manager && manager->queueStartRtpInfo(info, RtpInfo::kSourceSip, RtpInfo::kTriggerSip) == 0)
            m_startQueued = true;
        else
            RDLOG("start of the call source on channel %d not queued", info.id);
    }
    return 0;
}

void RTPSipAudioReader::resetAudioRecvPayload()
{
    // The call goes on (its caller switched codec, or a new description restarted the audio):
    // only the converter changes, the channel keeps its source.
    const bool ending = !m_callEnded || m_callEnded();
    if (ending && m_startQueued.exchange(false)) {
        const RtpInfo info = rtpInfo();
        RtpManagerQueue* manager = m_queue.load();
        if (!manager || manager->queueStopRtpInfo(info, RtpInfo::kSourceSip, RtpInfo::kTriggerSip) < 0)
            RDLOG("stop of the call source on channel %d not queued", info.id);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        releaseConverter();
    }
    stop();
    SipDevice::resetAudioRecvPayload();
    if (ending)
        m_finished = true;
}

int RTPSipAudioReader::writeAudio(const uint8_t* data, int length, uint32_t)
{
    if (!data || length <= 0)
        return 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_converter)
        return 0;
    // A padded copy: the network bytes end where FFmpeg's bitstream readers may read past.
    AVPacket* packet = av_packet_alloc();
    if (!packet || av_new_packet(packet, length) < 0) {
        av_packet_free(&packet);
        return 0;
    }
    std::memcpy(packet->data, data, size_t(length));
    packet->flags |= AV_PKT_FLAG_KEY;
    if (m_samplesPerByte > 0.0 && m_inputRate > 0) {
        packet->duration = int64_t(length * m_samplesPerByte + 0.5);
        packet->time_base = AVRational{1, m_inputRate};
    }
    m_converter->push(packet);
    av_packet_free(&packet);
    return 0;
}

RTPAudioPacket* RTPSipAudioReader::read()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_converter || !m_target)
        return nullptr;
    AVPacket* out = m_converter->pop();
    if (!out)
        return nullptr;
    return RTPMediaInput::packetFrom(out, *m_target, payloadType()).release();
}

SipPacket* RTPSipAudioReader::readAudio()
{
    // Nothing to say to the caller: real silence of the send codec.
    const std::shared_ptr<SipPayload> send = audioSendPayload();
    return send ? SipSilence::packet(*send) : nullptr;
}
