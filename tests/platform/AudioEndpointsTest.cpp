#include "AudioCaptureStream.h"
#include "AudioEndpoints.h"
#include "AudioRenderStream.h"
#include "RDAudioDevice.h"
#include "TestAudio.h"
#include "TestLogFile.h"
#include "TestPulseServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

QStringList micAndSpeaker()
{
    return QStringList{QStringLiteral("module-null-sink sink_name=spk "
                                      "sink_properties=device.description=Speaker"),
                       QStringLiteral("module-null-source source_name=mic "
                                      "description=Microphone")};
}

// Mono float samples of s16 or float interleaved PCM, first channel only.
QVector<float> firstChannel(const QByteArray& pcm, const AudioFormat& format)
{
    QVector<float> samples;
    const int frames = pcm.size() / format.blockAlign;
    samples.reserve(frames);
    for (int i = 0; i < frames; ++i) {
        const char* frame = pcm.constData() + i * format.blockAlign;
        if (format.sampleFormat == AV_SAMPLE_FMT_S16) {
            int16_t v;
            std::memcpy(&v, frame, 2);
            samples.append(v / 32768.0f);
        } else if (format.sampleFormat == AV_SAMPLE_FMT_FLT) {
            float v;
            std::memcpy(&v, frame, 4);
            samples.append(v);
        }
    }
    return samples;
}

// Reads until the stream reports its end or 3 s pass; the milliseconds that took.
qint64 msUntilEnded(AudioCaptureStream& stream)
{
    char buffer[4096];
    QElapsedTimer timer;
    timer.start();
    int n = 0;
    while ((n = stream.read(buffer, sizeof buffer, 50)) >= 0 && timer.elapsed() < 3000) {
    }
    EXPECT_EQ(n, AudioCaptureStream::kEnded);
    return timer.elapsed();
}

} // namespace

TEST(AudioEndpointsTest, ListsSourcesAsCaptureThenSinksAsRenderWithoutMonitors)
{
    TestPulseServer pulse;
    TEST_START_PULSE(pulse, micAndSpeaker());

    const QList<RDAudioDevice> all = RDAudioDevice::getAllDevices();
    ASSERT_EQ(all.size(), 2) << "the monitor of spk must not be listed as a capture endpoint";
    EXPECT_EQ(all[0].id, QStringLiteral("mic"));
    EXPECT_EQ(all[0].name, QStringLiteral("Microphone"));
    EXPECT_EQ(all[0].kind, 0);
    EXPECT_EQ(all[1].id, QStringLiteral("spk"));
    EXPECT_EQ(all[1].name, QStringLiteral("Speaker"));
    EXPECT_EQ(all[1].kind, 1);

    // getDevices leaves the kind to the caller.
    const QList<RDAudioDevice> render =
        RDAudioDevice::getDevices(RDAudioDevice::eRender, RDAudioDevice::DEVICE_STATE_ACTIVE);
    ASSERT_EQ(render.size(), 1);
    EXPECT_EQ(render[0].id, QStringLiteral("spk"));
    EXPECT_EQ(render[0].kind, 0);
    EXPECT_TRUE(RDAudioDevice::getDevices(RDAudioDevice::eCapture, 0).isEmpty());

    // A copy carries all three fields.
    RDAudioDevice copy(all[1]);
    RDAudioDevice assigned;
    assigned = copy;
    EXPECT_EQ(assigned.id, all[1].id);
    EXPECT_EQ(assigned.name, all[1].name);
    EXPECT_EQ(assigned.kind, 1);
}

TEST(AudioEndpointsTest, NoServerGivesEmptyListAndOneLogLinePromptly)
{
    TestLogFile log;
    const QByteArray previous = qgetenv("PULSE_SERVER");
    QTemporaryDir dir;
    qputenv("PULSE_SERVER", QStringLiteral("unix:%1/missing.sock").arg(dir.path()).toUtf8());
    QElapsedTimer timer;
    timer.start();
    const QList<RDAudioDevice> all = RDAudioDevice::getAllDevices();
    const qint64 elapsed = timer.elapsed();
    qputenv("PULSE_SERVER", previous);
    if (previous.isEmpty())
        qunsetenv("PULSE_SERVER");
    EXPECT_TRUE(all.isEmpty());
    EXPECT_LT(elapsed, 2000);
    EXPECT_EQ(log.count(QStringLiteral("EnumAudioEndpoints failure")), 1) << log.text().toStdString();
}

TEST(AudioCaptureStreamTest, UnknownEndpointIsNotFound)
{
    TestPulseServer pulse;
    TEST_START_PULSE(pulse);
    AudioCaptureStream stream;
    EXPECT_EQ(stream.open(QStringLiteral("nothing-here"), false, 20),
              AudioCaptureStream::kNotFound);
    EXPECT_EQ(stream.open(QStringLiteral("nothing-here"), true, 20),
              AudioCaptureStream::kNotFound);
    // A sink is not a capture endpoint by its own name; its monitor is its loopback.
    EXPECT_EQ(stream.open(QStringLiteral("spk"), false, 20), AudioCaptureStream::kNotFound);
    EXPECT_FALSE(stream.isOpen());
}

// Direct capture of a source fed from a FIFO with known PCM gives back those samples.
TEST(AudioCaptureStreamTest, CapturesASourceDirectly)
{
    TestPulseServer pulse;
    TEST_START_PULSE(pulse);
    const QString fifo = pulse.dir() + QStringLiteral("/in.fifo");
    ASSERT_GE(pulse.loadModule(QStringLiteral("module-pipe-source"),
                               QStringLiteral("source_name=line file=%1 format=s16le rate=16000 "
                                              "channels=1")
                                   .arg(fifo)),
              0);

    AudioFormat format;
    ASSERT_EQ(AudioCaptureStream::probe(QStringLiteral("line"), false, &format),
              AudioCaptureStream::kOk);
    EXPECT_EQ(format.sampleRate, 16000);
    EXPECT_EQ(format.channels, 1);
    EXPECT_EQ(format.sampleFormat, AV_SAMPLE_FMT_S16);

    AudioCaptureStream stream;
    ASSERT_EQ(stream.open(QStringLiteral("line"), false, 20), AudioCaptureStream::kOk)
        << stream.errorText().toStdString();
    EXPECT_EQ(stream.format().blockAlign, 2);

    // One second of a ramp pattern the capture must hand back unchanged.
    std::vector<int16_t> pcm(16000);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = int16_t((i * 37) % 20000 - 10000);
    QFile pipe(fifo);
    ASSERT_TRUE(pipe.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    ASSERT_EQ(pipe.write(reinterpret_cast<const char*>(pcm.data()), qint64(pcm.size() * 2)),
              qint64(pcm.size() * 2));

    QByteArray captured;
    char buffer[4096];
    QElapsedTimer timer;
    timer.start();
    while (captured.size() < int(pcm.size() * 2) && timer.elapsed() < 5000) {
        const int n = stream.read(buffer, sizeof buffer, 50);
        ASSERT_GE(n, 0) << stream.errorText().toStdString();
        EXPECT_EQ(n % 2, 0);
        captured.append(buffer, n);
    }
    pipe.close();
    const QByteArray expected(reinterpret_cast<const char*>(pcm.data()), int(pcm.size() * 2));
    ASSERT_GE(captured.size(), 4000);
    // The source may hand out silence before the first bytes arrive; find where the data starts.
    const int at = captured.indexOf(expected.left(64));
    ASSERT_GE(at, 0) << "captured bytes do not contain the data written";
    const int n = std::min(captured.size() - at, expected.size());
    EXPECT_EQ(captured.mid(at, n), expected.left(n));
}

// A tone played into the null sink comes back through its monitor (loopback).
TEST(AudioCaptureStreamTest, LoopbackOfSinkRecordsWhatPlays)
{
    TestPulseServer pulse;
    TEST_START_PULSE(pulse, {QStringLiteral("module-null-sink sink_name=spk rate=48000 "
                                       "format=float32le channels=2")});
    SONARIS_REQUIRE_COMMANDS("paplay");
    const QString tone = pulse.dir() + QStringLiteral("/tone.wav");
    ASSERT_TRUE(TestSupport::makeTone(tone, 440, 2.0));

    AudioCaptureStream stream;
    ASSERT_EQ(stream.open(QStringLiteral("spk"), true, 20), AudioCaptureStream::kOk)
        << stream.errorText().toStdString();
    EXPECT_EQ(stream.deviceFormat().sampleRate, 48000);
    EXPECT_EQ(stream.deviceFormat().channels, 2);
    EXPECT_EQ(stream.format().sampleFormat, AV_SAMPLE_FMT_FLT);
    EXPECT_EQ(stream.format().formatTag, AudioFormat::kTagFloat);

    QProcess player;
    player.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("spk"), tone});
    ASSERT_TRUE(player.waitForStarted(5000));

    QByteArray captured;
    char buffer[8192];
    QElapsedTimer timer;
    timer.start();
    qint64 finishedAt = -1;
    while (timer.elapsed() < 8000 && (finishedAt < 0 || timer.elapsed() < finishedAt + 300)) {
        const int n = stream.read(buffer, sizeof buffer, 50);
        ASSERT_GE(n, 0) << stream.errorText().toStdString();
        captured.append(buffer, n);
        if (finishedAt < 0 && player.waitForFinished(0))
            finishedAt = timer.elapsed();
    }
    EXPECT_GE(finishedAt, 0) << "paplay did not finish";
    player.waitForFinished(5000);
    const QVector<float> samples = TestAudio::trimSilence(firstChannel(captured, stream.format()));
    ASSERT_GT(samples.size(), 48000) << "less than a second of the tone was captured";
    EXPECT_NEAR(TestAudio::toneFrequency(samples, 48000), 440.0, 2.0);
}

TEST(AudioCaptureStreamTest, UnloadingTheSinkEndsTheCaptureWithinASecond)
{
    TestPulseServer pulse;
    TEST_START_PULSE(pulse);
    const int module = pulse.moduleIndex(QStringLiteral("module-null-sink"));
    ASSERT_GE(module, 0);

    AudioCaptureStream stream;
    ASSERT_EQ(stream.open(QStringLiteral("spk"), true, 20), AudioCaptureStream::kOk);
    char buffer[4096];
    EXPECT_GE(stream.read(buffer, sizeof buffer, 100), 0);

    ASSERT_TRUE(pulse.unloadModule(module));
    EXPECT_LT(msUntilEnded(stream), 1000);
}

TEST(AudioCaptureStreamTest, StoppingTheServerEndsTheCapture)
{
    TestPulseServer pulse;
    TEST_START_PULSE(pulse);
    AudioCaptureStream stream;
    ASSERT_EQ(stream.open(QStringLiteral("spk"), true, 20), AudioCaptureStream::kOk);
    pulse.stop();
    EXPECT_LT(msUntilEnded(stream), 1000);
}

// The render stream opens the default output in its own format and waits for room instead of
// spinning: over half a second of playing, the writer is woken about once per chunk.
TEST(AudioRenderStreamTest, FeedsTheDefaultOutputWithoutPolling)
{
    TestPulseServer pulse;
    TEST_START_PULSE(pulse, {QStringLiteral("module-null-sink sink_name=spk rate=44100 "
                                       "format=s16le channels=2")});
    AudioRenderStream stream;
    ASSERT_EQ(stream.open(QString(), 200, 10), AudioRenderStream::kOk)
        << stream.errorText().toStdString();
    EXPECT_EQ(stream.format().sampleRate, 44100);
    EXPECT_EQ(stream.format().channels, 2);
    EXPECT_EQ(stream.format().sampleFormat, AV_SAMPLE_FMT_S16);
    EXPECT_GT(stream.chunkBytes(), 0);
    EXPECT_GE(stream.bufferBytes(), stream.chunkBytes());

    std::vector<char> silence(size_t(stream.bufferBytes()), 0);
    QElapsedTimer timer;
    timer.start();
    int wakeups = 0;
    qint64 written = 0;
    while (timer.elapsed() < 700) {
        const int room = stream.waitWritable(50);
        ASSERT_GE(room, 0) << stream.errorText().toStdString();
        ++wakeups;
        const int n = std::min(room, int(silence.size()));
        if (n > 0) {
            ASSERT_EQ(stream.write(silence.data(), n), n);
        }
        written += n;
    }
    const double seconds = double(written) / stream.format().bytesPerSecond();
    // 0.2 s of buffer plus 0.7 s of playing, give or take scheduling.
    EXPECT_GT(seconds, 0.6);
    EXPECT_LT(seconds, 1.3);
    // About one wake-up per chunk played; a loaded machine wakes the writer less often, not
    // more. A writer that polls would wake every few milliseconds or spin.
    const double chunkMs = 1000.0 * stream.chunkBytes() / stream.format().bytesPerSecond();
    const int perChunk = int(timer.elapsed() / chunkMs) + 1;
    EXPECT_LE(wakeups, 2 * perChunk) << "the writer polls instead of waiting: " << wakeups << " wake-ups for "
                                     << perChunk << " chunks of " << chunkMs << " ms";
    EXPECT_EQ(stream.underruns(), 0);

    AudioRenderStream missing;
    EXPECT_EQ(missing.open(QStringLiteral("nothing-here"), 200, 10), AudioRenderStream::kNotFound);
}
