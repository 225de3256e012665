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

AudioFormat AudioFormat::fromSpec(const pa_sample_spec& spec)
{
    AudioFormat format;
    format.sampleRate = int(spec.rate);
    format.channels = int(spec.channels);
    format.bitsPerSample = int(pa_sample_size(&spec)) * 8;
    format.blockAlign = int(pa_frame_size(&spec));
    switch (spec.format) {
    case PA_SAMPLE_U8:
        format.sampleFormat = AV_SAMPLE_FMT_U8;
        format.formatTag = kTagPcm;
        break;
    case PA_SAMPLE_S16LE:
        format.sampleFormat = AV_SAMPLE_FMT_S16;
        format.formatTag = kTagPcm;
        break;
    case PA_SAMPLE_S32LE:
        format.sampleFormat = AV_SAMPLE_FMT_S32;
        format.formatTag = kTagPcm;
        break;
    case PA_SAMPLE_FLOAT32LE:
        format.sampleFormat = AV_SAMPLE_FMT_FLT;
        format.formatTag = kTagFloat;
        break;
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

bool AudioFormat::toSpec(pa_sample_spec* spec) const
{
    if (!spec || !isUsable() || channels > int(PA_CHANNELS_MAX))
        return false;
    switch (sampleFormat) {
    case AV_SAMPLE_FMT_U8:
        spec->format = PA_SAMPLE_U8;
        break;
    case AV_SAMPLE_FMT_S16:
        spec->format = PA_SAMPLE_S16LE;
        break;
    case AV_SAMPLE_FMT_S32:
        spec->format = PA_SAMPLE_S32LE;
        break;
    case AV_SAMPLE_FMT_FLT:
        spec->format = PA_SAMPLE_FLOAT32LE;
        break;
    default:
        return false;
    }
    spec->rate = uint32_t(sampleRate);
    spec->channels = uint8_t(channels);
    return pa_sample_spec_valid(spec) != 0;
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
