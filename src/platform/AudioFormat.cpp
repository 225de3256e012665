#include "AudioFormat.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

int AudioFormat::bytesForMs(int ms) const
{
    if (blockAlign <= 0 || sampleRate <= 0)
        return 0;
    long long frames = (long long)sampleRate * ms / 1000;
    if (frames < 1)
        frames = 1;
    return int(frames * blockAlign);
}

namespace {

// The packed little-endian formats that both sides know: the only ones read and written.
struct Packed
{
    pa_sample_format_t pulse;
    AVSampleFormat av;
    AudioFormat::Tag tag;
};

const Packed kPacked[] = {
    {PA_SAMPLE_U8, AV_SAMPLE_FMT_U8, AudioFormat::kTagPcm},
    {PA_SAMPLE_S16LE, AV_SAMPLE_FMT_S16, AudioFormat::kTagPcm},
    {PA_SAMPLE_S32LE, AV_SAMPLE_FMT_S32, AudioFormat::kTagPcm},
    {PA_SAMPLE_FLOAT32LE, AV_SAMPLE_FMT_FLT, AudioFormat::kTagFloat},
};

} // namespace

AudioFormat AudioFormat::fromPulse(const pa_sample_spec& pulseFormat)
{
    AudioFormat format;
    format.sampleRate = int(pulseFormat.rate);
    format.channels = int(pulseFormat.channels);
    format.bitsPerSample = int(pa_sample_size(&pulseFormat)) * 8;
    format.blockAlign = int(pa_frame_size(&pulseFormat));
    for (const Packed& packed : kPacked) {
        if (packed.pulse == pulseFormat.format) {
            format.sampleFormat = packed.av;
            format.formatTag = packed.tag;
            return format;
        }
    }
    switch (pulseFormat.format) {
    case PA_SAMPLE_FLOAT32BE:
        format.formatTag = kTagFloat;
        break;
    case PA_SAMPLE_ALAW:
        format.formatTag = kTagALaw;
        break;
    case PA_SAMPLE_ULAW:
        format.formatTag = kTagMuLaw;
        break;
    case PA_SAMPLE_S24_32LE:
    case PA_SAMPLE_S24_32BE:
        // 24 significant bits in 32: not a depth the program reads.
        format.bitsPerSample = 24;
        format.formatTag = kTagPcm;
        break;
    default:
        format.formatTag = kTagPcm;
        break;
    }
    return format;
}

bool AudioFormat::toPulse(pa_sample_spec* pulseFormat) const
{
    if (!pulseFormat || !isUsable() || channels > int(PA_CHANNELS_MAX))
        return false;
    for (const Packed& packed : kPacked) {
        if (packed.av == sampleFormat) {
            pulseFormat->format = packed.pulse;
            pulseFormat->rate = uint32_t(sampleRate);
            pulseFormat->channels = uint8_t(channels);
            return pa_sample_spec_valid(pulseFormat) != 0;
        }
    }
    return false;
}

AudioFormat AudioFormat::fallback()
{
    AudioFormat format;
    format.sampleRate = 16000;
    format.channels = 1;
    format.sampleFormat = AV_SAMPLE_FMT_S16;
    format.bitsPerSample = 16;
    format.blockAlign = format.bitsPerSample * format.channels / 8;
    format.formatTag = kTagPcm;
    return format;
}

int AudioFormat::silenceByte() const
{
    return sampleFormat == AV_SAMPLE_FMT_U8 ? 0x80 : 0;
}
