#include "AVPacketConverter.h"
#include "RTPAudioPacket.h"
#include "RTPAudioTarget.h"
#include "RTPPacketTone.h"

#include "TestMedia.h"
#include "TestSupport.h"
#include "TestTone.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace {

constexpr double kTone = 1000.0;
constexpr double kSeconds = 2.0;
// ffmpeg's sine source plays at 1/8 of full scale; spreading a mono source over two channels
// puts each at -3 dB, and folding two equal channels into one keeps their level.
constexpr double kAmplitude = 0.125;

double expectedLevel(int inputChannels, int outputChannels)
{
    const double input = inputChannels == 1 ? kAmplitude : kAmplitude * M_SQRT1_2;
    return inputChannels == 1 && outputChannels == 2 ? input * M_SQRT1_2 : input;
}

struct Input
{
    const char* name;
    const char* file;
    QStringList arguments;   // ffmpeg output arguments that make it
    int channels;            // 6: a surround file whose downmix changes the level
};

const std::vector<Input>& inputs()
{
    static const std::vector<Input> list = {
        {"wav_s16_44k_stereo", "s16-44k-stereo.wav", {"-ar", "44100", "-ac", "2"}, 2},
        {"wav_s16_16k_mono", "s16-16k-mono.wav", {"-ar", "16000", "-ac", "1"}, 1},
        {"wav_mulaw_8k_mono", "mulaw-8k-mono.wav", {"-ar", "8000", "-ac", "1", "-c:a", "pcm_mulaw"}, 1},
        {"wav_flt_48k_6ch", "flt-48k-6ch.wav", {"-ar", "48000", "-ac", "6", "-c:a", "pcm_f32le"}, 6},
        {"mp3_44k_stereo", "44k-stereo.mp3", {"-ar", "44100", "-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k"}, 2},
        {"mp3_22k_mono", "22k-mono.mp3", {"-ar", "22050", "-ac", "1", "-c:a", "libmp3lame"}, 1},
        {"mp3_48k_stereo", "48k-stereo.mp3", {"-ar", "48000", "-ac", "2", "-c:a", "libmp3lame"}, 2},
    };
    return list;
}

struct Target
{
    const char* name;
    int payloadType;
    int rate;
    int channels;
    int bytes;          // per packet; 0 for MP3
    double duration;    // per packet, seconds
};

const std::vector<Target>& targets()
{
    static const std::vector<Target> list = {
        {"pcmu", 0, 8000, 1, 160, 0.02},
        {"pcma", 8, 8000, 1, 160, 0.02},
        {"g722", 9, 16000, 1, 160, 0.02},
        {"l16_stereo", 10, 44100, 2, 880, 220.0 / 44100},
        {"l16_mono", 11, 44100, 1, 440, 220.0 / 44100},
        {"mp3", 14, 44100, 2, 0, 1152.0 / 44100},
    };
    return list;
}

struct Case
{
    size_t input;
    size_t target;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << inputs()[c.input].name << "_to_" << targets()[c.target].name;
}

std::vector<Case> allCases()
{
    std::vector<Case> cases;
    for (size_t i = 0; i < inputs().size(); ++i)
        for (size_t t = 0; t < targets().size(); ++t)
            cases.push_back({i, t});
    return cases;
}

struct ParamsFree
{
    void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};

class RTPAudioTargetTest : public ::testing::TestWithParam<Case>
{
protected:
    static void SetUpTestSuite()
    {
        if (!TestSupport::haveCommand(QStringLiteral("ffmpeg")))
            return;
        s_dir = new QTemporaryDir;
        s_ok = true;
        for (const Input& in : inputs())
            s_ok = s_ok && TestSupport::makeTone(s_dir->path() + "/" + in.file, kTone, kSeconds, in.arguments);
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override
    {
        SONARIS_REQUIRE_COMMANDS("ffmpeg");
        ASSERT_TRUE(s_ok) << "fixtures could not be made";
    }

    static QTemporaryDir* s_dir;
    static bool s_ok;
};

QTemporaryDir* RTPAudioTargetTest::s_dir = nullptr;
bool RTPAudioTargetTest::s_ok = false;

// Reads the file as the channel's file reader does: every packet through a converter to the
// target of the payload type, every converted packet into an RTP audio packet.
RTPPacketTone::Packets convert(const QString& path, int payloadType,
                                                      int* errors)
{
    RTPPacketTone::Packets out;
    TestMedia media;
    if (!media.open(path))
        return out;
    std::unique_ptr<AVCodecParameters, ParamsFree> target(avcodec_parameters_alloc());
    if (!RTPAudioTarget::fill(target.get(), payloadType))
        return out;
    AVPacketConverter converter;
    if (!converter.init(media.parameters(), target.get()))
        return out;
    auto take = [&]() {
        while (AVPacket* p = converter.pop()) {
            auto packet = std::make_unique<RTPAudioPacket>();
            packet->payloadType = payloadType;
            packet->sampleRate = target->sample_rate;
            packet->channels = target->ch_layout.nb_channels;
            packet->duration = double(p->duration) * av_q2d(p->time_base);
            packet->setPayload(p->data, p->size);
            av_packet_free(&p);
            out.push_back(std::move(packet));
        }
    };
    while (AVPacket* p = media.next()) {
        if (converter.push(p) < 0)
            ++*errors;
        av_packet_free(&p);
        take();
    }
    converter.flush();
    take();
    return out;
}

TEST_P(RTPAudioTargetTest, ToneSurvivesTheConversion)
{
    const Input& in = inputs()[GetParam().input];
    const Target& t = targets()[GetParam().target];
    int errors = 0;
    const auto packets = convert(s_dir->path() + "/" + in.file, t.payloadType, &errors);
    EXPECT_EQ(errors, 0);
    ASSERT_GT(packets.size(), 20u);

    double total = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        const RTPAudioPacket& p = *packets[i];
        const bool last = i + 1 == packets.size();
        EXPECT_EQ(p.payloadType, t.payloadType);
        EXPECT_EQ(p.sampleRate, t.rate);
        EXPECT_EQ(p.channels, t.channels);
        total += p.duration;
        if (t.payloadType == RTPAudioPacket::kMp3PayloadType) {
            ASSERT_GT(p.length, 8);
            EXPECT_EQ(p.data[0] | p.data[1] | p.data[2] | p.data[3], 0) << "packet " << i;
            EXPECT_EQ(p.data[4], 0xFF) << "packet " << i;
            EXPECT_EQ(p.data[5] & 0xE0, 0xE0) << "packet " << i;
        }
        // The last packet may be short where packets pass through unchanged, or where the
        // MP3 encoder ends the stream.
        if (last)
            continue;
        if (t.bytes > 0) {
            EXPECT_EQ(p.length, t.bytes) << "packet " << i;
        }
        EXPECT_NEAR(p.duration, t.duration, 1e-9) << "packet " << i;
    }
    // Nothing lost, nothing invented beyond the padding of the last frame (and MP3's priming).
    EXPECT_NEAR(total, kSeconds, 2 * t.duration + 0.03);

    const TestTone::Result tone = RTPPacketTone::measure(packets, t.payloadType, kTone);
    ASSERT_TRUE(tone.decoded);
    EXPECT_GT(tone.samples, int(1.5 * t.rate));
    EXPECT_NEAR(tone.frequency, kTone, kTone * 0.005);
    double level = tone.rms * M_SQRT2;
    if (in.channels <= 2) {
        level = expectedLevel(in.channels, t.channels);
        EXPECT_NEAR(tone.rms, level * M_SQRT1_2, 0.1 * level);
    } else {
        EXPECT_GT(tone.rms, 0.01);
    }
    // A gap, a repeated or a dropped frame, or a resampler flushed at every packet shows as
    // a step far larger than the sine's own.
    EXPECT_LT(tone.maxStep, 1.25 * TestTone::sineStep(kTone, level, t.rate) + 0.01);
    EXPECT_LT(tone.residual, 0.05 * level);
}

INSTANTIATE_TEST_SUITE_P(Table, RTPAudioTargetTest, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(inputs()[info.param.input].name) + "_to_"
                                    + targets()[info.param.target].name;
                         });

TEST(RTPAudioTargetFillTest, EachPayloadTypeHasItsTarget)
{
    std::unique_ptr<AVCodecParameters, ParamsFree> p(avcodec_parameters_alloc());
    struct Row
    {
        int pt;
        AVCodecID id;
        int rate, channels;
        AVSampleFormat format;
        int64_t bitRate;
        int frameSize;
    };
    const Row rows[] = {
        {0, AV_CODEC_ID_PCM_MULAW, 8000, 1, AV_SAMPLE_FMT_S16, 64000, 0},
        {8, AV_CODEC_ID_PCM_ALAW, 8000, 1, AV_SAMPLE_FMT_S16, 64000, 0},
        {9, AV_CODEC_ID_ADPCM_G722, 16000, 1, AV_SAMPLE_FMT_S16, 64000, 0},
        {10, AV_CODEC_ID_PCM_S16BE, 44100, 2, AV_SAMPLE_FMT_S16, 1411200, 220},
        {11, AV_CODEC_ID_PCM_S16BE, 44100, 1, AV_SAMPLE_FMT_S16, 705600, 220},
        {14, AV_CODEC_ID_MP3, 44100, 2, AV_SAMPLE_FMT_FLTP, 128000, 0},
    };
    for (const Row& r : rows) {
        ASSERT_TRUE(RTPAudioTarget::fill(p.get(), r.pt)) << r.pt;
        EXPECT_EQ(p->codec_type, AVMEDIA_TYPE_AUDIO);
        EXPECT_EQ(p->codec_id, r.id) << r.pt;
        EXPECT_EQ(p->sample_rate, r.rate) << r.pt;
        EXPECT_EQ(p->ch_layout.nb_channels, r.channels) << r.pt;
        EXPECT_EQ(p->ch_layout.u.mask, r.channels == 1 ? AV_CH_LAYOUT_MONO : AV_CH_LAYOUT_STEREO);
        EXPECT_EQ(p->format, r.format) << r.pt;
        EXPECT_EQ(p->bit_rate, r.bitRate) << r.pt;
        EXPECT_EQ(p->frame_size, r.frameSize) << r.pt;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        EXPECT_EQ(p->channels, r.channels);
        EXPECT_EQ(p->channel_layout, p->ch_layout.u.mask);
#pragma GCC diagnostic pop
    }
    for (int pt : {-1, 3, 12, 96}) {
        EXPECT_FALSE(RTPAudioTarget::fill(p.get(), pt)) << pt;
        EXPECT_EQ(p->codec_id, AV_CODEC_ID_NONE);
        EXPECT_EQ(p->sample_rate, 0);
    }
}

} // namespace
