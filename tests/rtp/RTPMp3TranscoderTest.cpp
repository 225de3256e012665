#include "RTPAudioEncoder.h"
#include "RTPMp3Transcoder.h"
#include "RTPPacketTone.h"

#include "TestSupport.h"
#include "TestTone.h"

#include <gtest/gtest.h>

#include <QTemporaryFile>

extern "C" {
#include <libavutil/samplefmt.h>
}

namespace {

constexpr double kTone = 1000.0;
constexpr double kAmplitude = 0.5;

struct Mp3Case
{
    const char* name;
    int codec;          // channel codec index
    int payloadType;    // of the channel's packets
    int rate;
    int channels;
    double level;       // of each MP3 channel: a mono tone spread over two is at -3 dB
};

void PrintTo(const Mp3Case& c, std::ostream* os)
{
    *os << c.name;
}

class RTPMp3TranscoderTableTest : public ::testing::TestWithParam<Mp3Case>
{
};

TEST_P(RTPMp3TranscoderTableTest, ChannelPacketsBecomeStereoMp3At44100)
{
    const Mp3Case& c = GetParam();
    SONARIS_REQUIRE_COMMANDS("ffprobe");
    RTPAudioEncoder encoder;
    ASSERT_TRUE(encoder.open(c.rate, 0, c.channels, AV_SAMPLE_FMT_S16, c.payloadType));
    const QByteArray pcm = TestTone::sine(c.rate, c.channels, false, 2.0, kTone, kAmplitude);
    ASSERT_EQ(encoder.encodePcm(pcm.constData(), pcm.size() / (2 * c.channels), pcm.size()), 0);

    RTPMp3Transcoder transcoder;
    ASSERT_EQ(transcoder.open(c.codec), 0);
    EXPECT_TRUE(transcoder.isOpen());
    QByteArray mp3;
    int frames = 0;
    while (RTPAudioPacket* p = encoder.queue()->pop()) {
        EXPECT_EQ(transcoder.push(p), 0);
        delete p;
        while (AVPacket* out = transcoder.pop()) {
            ASSERT_GE(out->size, 4);
            EXPECT_EQ(out->data[0], 0xFF);
            EXPECT_EQ(out->data[1] & 0xE0, 0xE0);
            mp3.append(reinterpret_cast<const char*>(out->data), out->size);
            ++frames;
            av_packet_free(&out);
        }
    }
    EXPECT_GT(frames, 60);

    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    file.write(mp3);
    file.flush();
    const TestSupport::Result probe = TestSupport::run(
        QStringLiteral("ffprobe"), {"-v", "error", "-f", "mp3", "-show_entries",
                                    "stream=codec_name,sample_rate,channels", "-of",
                                    "default=noprint_wrappers=1", file.fileName()});
    EXPECT_TRUE(probe.out.contains("codec_name=mp3")) << probe.out.constData();
    EXPECT_TRUE(probe.out.contains("sample_rate=44100")) << probe.out.constData();
    EXPECT_TRUE(probe.out.contains("channels=2")) << probe.out.constData();

    const TestTone::Result tone = TestTone::measure(mp3, {"-f", "mp3"}, 44100, kTone);
    ASSERT_TRUE(tone.decoded);
    EXPECT_NEAR(tone.frequency, kTone, 5);
    EXPECT_NEAR(tone.amplitude, c.level * kAmplitude, 0.1 * kAmplitude);
    EXPECT_LT(tone.residual, 0.06 * kAmplitude);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, RTPMp3TranscoderTableTest,
    ::testing::Values(Mp3Case{"pcmu", 0, 0, 8000, 1, M_SQRT1_2}, Mp3Case{"pcma", 1, 8, 8000, 1, M_SQRT1_2},
                      Mp3Case{"g722", 2, 9, 16000, 1, M_SQRT1_2},
                      Mp3Case{"l16_mono", 4, 11, 44100, 1, M_SQRT1_2},
                      Mp3Case{"l16_stereo", 5, 10, 44100, 2, 1.0}),
    [](const ::testing::TestParamInfo<Mp3Case>& info) { return std::string(info.param.name); });

TEST(RTPMp3TranscoderTest, OtherCodecsDoNotOpen)
{
    RTPMp3Transcoder transcoder;
    for (int codec : {3, 6, -1, 100}) {
        EXPECT_EQ(transcoder.open(codec), -1) << codec;
        EXPECT_FALSE(transcoder.isOpen());
        EXPECT_EQ(transcoder.pop(), nullptr);
    }
    RTPAudioPacket packet;
    packet.payloadType = 0;
    const unsigned char bytes[160] = {0};
    packet.setData(bytes, 160);
    EXPECT_LT(transcoder.push(&packet), 0);
    transcoder.close();
}

} // namespace
