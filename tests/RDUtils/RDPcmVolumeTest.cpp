#include "RDPcmVolume.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Bytes of the given samples, starting one byte into the buffer so no sample is aligned.
template <typename T>
std::vector<unsigned char> misaligned(const std::vector<T>& values, int trailing = 0)
{
    std::vector<unsigned char> bytes(1 + values.size() * sizeof(T) + size_t(trailing), 0xAB);
    std::memcpy(bytes.data() + 1, values.data(), values.size() * sizeof(T));
    return bytes;
}

template <typename T>
std::vector<T> read(const std::vector<unsigned char>& bytes, size_t count)
{
    std::vector<T> values(count);
    std::memcpy(values.data(), bytes.data() + 1, count * sizeof(T));
    return values;
}

template <typename T>
std::vector<T> scaled(const std::vector<T>& in, int percent, int format)
{
    std::vector<unsigned char> bytes = misaligned(in);
    RDPcmVolume::adjustPcmVolume(bytes.data() + 1, int(in.size() * sizeof(T)), percent, format);
    return read<T>(bytes, in.size());
}

struct Case
{
    int percent;
    std::vector<double> in;
    std::vector<double> out;
};

// One table for every format: values are given in the format's own units.
template <typename T>
void checkFormat(int packed, int planar, const std::vector<Case>& cases)
{
    for (int format : {packed, planar}) {
        for (const Case& c : cases) {
            std::vector<T> in;
            for (double v : c.in)
                in.push_back(T(v));
            const std::vector<T> out = scaled(in, c.percent, format);
            for (size_t i = 0; i < in.size(); ++i)
                EXPECT_EQ(double(out[i]), c.out[i])
                    << av_get_sample_fmt_name(AVSampleFormat(format)) << " at " << c.percent
                    << "% sample " << i;
        }
    }
}

} // namespace

TEST(RDPcmVolumeTest, FullVolumeOrNullPointerLeavesDataAlone)
{
    std::vector<int16_t> samples{1, -2, 32767, -32768};
    std::vector<int16_t> copy = samples;
    RDPcmVolume::adjustPcmVolume(samples.data(), 8, 100, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(samples, copy);
    RDPcmVolume::adjustPcmVolume(nullptr, 8, 50, AV_SAMPLE_FMT_S16);
    RDPcmVolume::adjustPcmVolume(samples.data(), 0, 50, AV_SAMPLE_FMT_S16);
    RDPcmVolume::adjustPcmVolume(samples.data(), -8, 50, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(samples, copy);
}

TEST(RDPcmVolumeTest, UnsignedEightBitScalesAroundSilence)
{
    checkFormat<uint8_t>(AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_U8P,
                         {{50, {128, 228, 28, 0, 255}, {128, 178, 78, 64, 191}},
                          {0, {0, 255, 128, 17}, {128, 128, 128, 128}},
                          {-20, {0, 255, 200}, {128, 128, 128}},
                          {150, {250, 5, 140}, {255, 0, 146}}});
}

TEST(RDPcmVolumeTest, SignedSixteenBitTruncatesTowardZeroAndClips)
{
    checkFormat<int16_t>(AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16P,
                         {{50, {1001, -1001, 1, -1}, {500, -500, 0, 0}},
                          {0, {32767, -32768, 5}, {0, 0, 0}},
                          {-1, {1000}, {0}},
                          {150, {30000, -30000, 100}, {32767, -32768, 150}}});
}

TEST(RDPcmVolumeTest, SignedThirtyTwoAndSixtyFourBitClip)
{
    checkFormat<int32_t>(AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P,
                         {{50, {1001, -1001}, {500, -500}},
                          {0, {2147483647.0, -2147483648.0}, {0, 0}},
                          {200, {2000000000.0, -2000000000.0}, {2147483647.0, -2147483648.0}}});
    checkFormat<int64_t>(AV_SAMPLE_FMT_S64, AV_SAMPLE_FMT_S64P,
                         {{50, {1001, -1001}, {500, -500}},
                          {0, {123456789.0}, {0}},
                          {300, {4e18, -4e18},
                           {double(std::numeric_limits<int64_t>::max()),
                            double(std::numeric_limits<int64_t>::min())}}});
}

TEST(RDPcmVolumeTest, FloatingPointScales)
{
    checkFormat<float>(AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP,
                       {{50, {1.0, -0.5, 0.25}, {0.5, -0.25, 0.125}},
                        {0, {0.9, -0.9}, {0.0, 0.0}},
                        {-5, {0.9}, {0.0}},
                        {200, {3e38, -3e38}, {double(std::numeric_limits<float>::max()),
                                              -double(std::numeric_limits<float>::max())}}});
    checkFormat<double>(AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_DBLP,
                        {{50, {1.0, -0.5}, {0.5, -0.25}}, {0, {0.9}, {0.0}}});
}

TEST(RDPcmVolumeTest, TrailingPartialSampleAndOtherFormatsStayAlone)
{
    std::vector<int16_t> values{1000, -1000};
    std::vector<unsigned char> bytes = misaligned(values, 1);
    // Five bytes: two whole samples and one stray byte.
    RDPcmVolume::adjustPcmVolume(bytes.data() + 1, 5, 50, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(read<int16_t>(bytes, 2), (std::vector<int16_t>{500, -500}));
    EXPECT_EQ(bytes[5], 0xAB);
    EXPECT_EQ(bytes[0], 0xAB);

    std::vector<int16_t> other{1000, -1000};
    RDPcmVolume::adjustPcmVolume(other.data(), 4, 50, AV_SAMPLE_FMT_NONE);
    RDPcmVolume::adjustPcmVolume(other.data(), 4, 50, 99);
    EXPECT_EQ(other, (std::vector<int16_t>{1000, -1000}));
}
