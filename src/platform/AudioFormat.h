#pragma once

#include <pulse/sample.h>

// The shape of the PCM a stream carries: what the sound server uses for an endpoint, in the terms
// the rest of the program works with (FFmpeg sample formats, wave-format tags, block align).
class AudioFormat
{
public:
    enum Tag { kTagUnknown = 0, kTagPcm = 1, kTagFloat = 3, kTagALaw = 6, kTagMuLaw = 7 };

    int sampleRate = 0;
    int channels = 0;
    // FFmpeg's AVSampleFormat; -1 (AV_SAMPLE_FMT_NONE) when the program cannot take the data.
    int sampleFormat = -1;
    int bitsPerSample = 0;
    int blockAlign = 0;
    int formatTag = kTagUnknown;

    bool isUsable() const { return sampleFormat >= 0 && sampleRate > 0 && channels > 0; }
    int bytesPerSecond() const { return blockAlign * sampleRate; }
    // Bytes of a whole number of frames covering about ms milliseconds (at least one frame).
    int bytesForMs(int ms) const;

    // The server's sample description as a format. Packed little-endian u8, s16, s32 and float
    // map to FFmpeg formats; big-endian, 24-bit, A-law and mu-law data keep sampleFormat -1.
    static AudioFormat fromPulse(const pa_sample_spec& pulseFormat);
    // The server's sample description of a usable format; false for sampleFormat -1.
    bool toPulse(pa_sample_spec* pulseFormat) const;
    // 16-bit mono at 16000 Hz: what is asked for when an endpoint's own format cannot be taken.
    static AudioFormat fallback();
    // The value of silence in every byte of this format (128 for unsigned 8-bit, else 0).
    int silenceByte() const;
};
