#pragma once

// Scales blocks of PCM samples by a volume percentage in place, for every FFmpeg sample format.
class RDPcmVolume
{
public:
    // samples holds bytes of one plane or one interleaved buffer in format (an AVSampleFormat,
    // packed or planar). 100 percent or a null pointer leaves the block alone; a negative percent
    // counts as 0. Results are clipped to the format's range; unsigned 8-bit samples scale around
    // their silence value 128. A trailing part of a sample is left alone, and so are formats that
    // are not PCM. No allocation.
    static void adjustPcmVolume(void* samples, int bytes, int percent, int format);
};
