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

AudioFormat AudioFormat::fromPulse(const pa_sample_spec& pulseFormat)
{
    AudioFormat format;
    format.sampleRate = int(pulseFormat.rate);
    format.channels = int(pulseFormat.channels);
    format.bitsPerSample = int(pa_sample_size(&pulseFormat)) * 8;
    format.blockAlign = int(pa_frame_size(&pulseFormat));
    switch (pulseFormat.format) {
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

bool AudioFormat::toPulse(pa_sample_spec* pulseFormat) const
{
    if (!pulseFormat || !isUsable() || channels > int(PA_CHANNELS_MAX))
        return false;
    switch (sampleFormat) {
    case AV_SAMPLE_FMT_U8:
        pulseFormat->format = PA_SAMPLE_U8;
        break;
    case AV_SAMPLE_FMT_S16:
        pulseFormat->format = PA_SAMPLE_S16LE;
        break;
    case AV_SAMPLE_FMT_S32:
        pulseFormat->format = PA_SAMPLE_S32LE;
        break;
    case AV_SAMPLE_FMT_FLT:
        pulseFormat->format = PA_SAMPLE_FLOAT32LE;
        break;
    default:
        return false;
    }
    pulseFormat->rate = uint32_t(sampleRate);
    pulseFormat->channels = uint8_t(channels);
    return pa_sample_spec_valid(pulseFormat) != 0;
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
