#include "SipSilence.h"

#include "RDLog.h"
#include "RDString.h"
#include "SipPacket.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace {

constexpr uint8_t kMuLawSilence = 0xFF;
constexpr uint8_t kALawSilence = 0xD5;

std::mutex g_cacheMutex;
std::map<std::string, std::vector<uint8_t>> g_cache;

int channelCount(const SipPayload& payload)
{
    return std::max(1, static_cast<int>(payload.channels));
}

} // namespace

std::vector<uint8_t> SipSilence::frame(const SipPayload& payload)
{
    const int channels = channelCount(payload);
    if (compareIgnoreCase(payload.name, "PCMU") == 0)
        return std::vector<uint8_t>(static_cast<size_t>(160 * channels), kMuLawSilence);
    if (compareIgnoreCase(payload.name, "PCMA") == 0)
        return std::vector<uint8_t>(static_cast<size_t>(160 * channels), kALawSilence);

    int codec = AV_CODEC_ID_NONE;
    int rate = 0;
    if (compareIgnoreCase(payload.name, "G722") == 0) {
        codec = AV_CODEC_ID_ADPCM_G722;
        rate = 16000; // the RTP clock of G.722 says 8000; the audio is 16 kHz
    } else if (compareIgnoreCase(payload.name, "opus") == 0) {
        codec = AV_CODEC_ID_OPUS;
        rate = 48000;
    } else {
        return std::vector<uint8_t>();
    }
    const std::string key = std::to_string(codec) + "/" + std::to_string(channels);
    std::lock_guard<std::mutex> guard(g_cacheMutex);
    auto it = g_cache.find(key);
    if (it == g_cache.end())
        it = g_cache.emplace(key, encode(codec, rate, channels)).first;
    return it->second;
}

SipPacket* SipSilence::packet(const SipPayload& payload)
{
    const std::vector<uint8_t> bytes = frame(payload);
    if (bytes.empty())
        return nullptr;
    return SipPacket::copy(payload.payloadType, bytes.data(), static_cast<int>(bytes.size()), kDuration);
}

std::vector<uint8_t> SipSilence::encode(int codecId, int sampleRate, int channels)
{
    std::vector<uint8_t> result;
    const AVCodec* codec = avcodec_find_encoder(static_cast<AVCodecID>(codecId));
    AVCodecContext* context = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    const int samples = static_cast<int>(sampleRate * kDuration);
    bool ok = context && frame && packet;
    if (ok) {
        context->sample_rate = sampleRate;
        context->sample_fmt = AV_SAMPLE_FMT_S16;
        context->time_base = AVRational{1, sampleRate};
        av_channel_layout_default(&context->ch_layout, channels);
        context->frame_size = samples;
        ok = avcodec_open2(context, codec, nullptr) == 0;
    }
    if (ok) {
        frame->nb_samples = samples;
        frame->format = AV_SAMPLE_FMT_S16;
        frame->sample_rate = sampleRate;
        ok = av_channel_layout_copy(&frame->ch_layout, &context->ch_layout) == 0 && av_frame_get_buffer(frame, 0) == 0;
    }
    // An encoder with look-ahead may want a few frames before the first packet comes out.
    for (int round = 0; ok && result.empty() && round < 8; ++round) {
        if (av_frame_make_writable(frame) < 0) {
            ok = false;
            break;
        }
        std::memset(frame->data[0], 0, static_cast<size_t>(samples) * 2 * static_cast<size_t>(channels));
        frame->pts = static_cast<int64_t>(round) * samples;
        if (avcodec_send_frame(context, frame) < 0) {
            ok = false;
            break;
        }
        if (avcodec_receive_packet(context, packet) == 0) {
            result.assign(packet->data, packet->data + packet->size);
            av_packet_unref(packet);
        }
    }
    if (result.empty())
        RDLOG("no silence frame for codec %d at %d Hz, %d channels", codecId, sampleRate, channels);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    return result;
}
