#include "CoreDeviceCapture.h"
#include "RTPAudioPacket.h"
#include "RTPPacketTone.h"
#include "TestLogFile.h"
#include "TestPulseServer.h"
#include "TestSupport.h"
#include "TestTone.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <cmath>
#include <cstring>

namespace {

constexpr double kTone = 440.0;

// Interleaved PCM of a sine in one of the server's sample formats.
QByteArray sinePcm(const QString& format, int rate, int channels, double seconds)
{
    const QByteArray floats = TestTone::sine(rate, channels, true, seconds, kTone, 0.5);
    const int count = floats.size() / 4;
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        float v;
        std::memcpy(&v, floats.constData() + i * 4, 4);
        if (format == QLatin1String("float32le")) {
            out.append(reinterpret_cast<const char*>(&v), 4);
        } else if (format == QLatin1String("s16le")) {
            const int16_t s = int16_t(std::lrint(v * 32767.0));
            out.append(reinterpret_cast<const char*>(&s), 2);
        } else if (format == QLatin1String("s24-32le")) {
            // 24 bits in the low bytes of 32, sign-extended.
            const int32_t s = int32_t(std::lrint(v * 8388607.0));
            out.append(reinterpret_cast<const char*>(&s), 4);
        } else if (format == QLatin1String("u8")) {
            out.append(char(uint8_t(std::lrint(v * 127.0) + 128)));
        }
    }
    return out;
}

// Reads packets until seconds of audio came or timeoutMs passed.
RTPPacketTone::Packets collect(CoreDeviceCapture& capture, double seconds, int timeoutMs)
{
    RTPPacketTone::Packets packets;
    double total = 0;
    QElapsedTimer timer;
    timer.start();
    while (total < seconds && timer.elapsed() < timeoutMs) {
        RTPAudioPacket* packet = capture.read();
        if (!packet) {
            QThread::msleep(5);
            continue;
        }
        total += packet->duration;
        packets.emplace_back(packet);
    }
    return packets;
}

struct FormatCase
{
    const char* format;
    int rate;
    int channels;
    int payloadType;
    int packetBytes;       // -1: any (MP3)
    double packetSeconds;
    int packetRate;
    int packetChannels;
};

} // namespace

TEST(CoreDeviceCaptureTest, UnknownEndpointDoesNotStart)
{
    TestPulseServer pulse;
    TEST_START_PULSE(pulse);
    TestLogFile log;
    CoreDeviceCapture capture;
    capture.setDevice(QStringLiteral("no-such-card"), QStringLiteral("Nothing"), 0);
    capture.setPayloadType(8);
    EXPECT_FALSE(capture.start());
    EXPECT_TRUE(log.waitFor(QStringLiteral("GetDevice failure"))) << log.text().toStdString();
    EXPECT_FALSE(capture.isLive());
    EXPECT_EQ(capture.read(), nullptr);
    capture.stop();

    // A payload type no encoder makes.
    CoreDeviceCapture other;
    other.setDevice(QStringLiteral("spk"), QStringLiteral("Speaker"), 1);
    other.setPayloadType(3);
    EXPECT_FALSE(other.start());
    EXPECT_FALSE(other.isLive());
}

// A tone played into the null sink is captured through its monitor and encoded for the channel.
TEST(CoreDeviceCaptureTest, LoopbackOfSpeakerEncodesTheToneForTheChannel)
{
    SONARIS_REQUIRE_COMMANDS("paplay");
    TestPulseServer pulse;
    TEST_START_PULSE(pulse, {QStringLiteral("module-null-sink sink_name=spk rate=48000 "
                                            "format=float32le channels=2")});
    const QString tone = pulse.dir() + QStringLiteral("/tone.wav");
    ASSERT_TRUE(TestSupport::makeTone(tone, kTone, 2.0));

    TestLogFile log;
    CoreDeviceCapture capture;
    capture.setDevice(QStringLiteral("spk"), QStringLiteral("Speaker"), 1);
    capture.setPayloadType(8);
    ASSERT_TRUE(capture.start());
    EXPECT_TRUE(log.waitFor(QStringLiteral(
        "capture format samplerate = 48000, channels = 2, bits = 32, blockAlign = 8, "
        "bytes = 384000, format = 3")))
        << log.text().toStdString();
    EXPECT_TRUE(capture.isLive());
    EXPECT_FALSE(capture.isFinished());
    EXPECT_EQ(capture.payloadType(), 8);

    QProcess player;
    player.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("spk"), tone});
    ASSERT_TRUE(player.waitForStarted(5000));
    const RTPPacketTone::Packets packets = collect(capture, 2.5, 8000);
    player.waitForFinished(5000);

    EXPECT_TRUE(capture.isLive());
    EXPECT_FALSE(capture.isFinished());
    ASSERT_GE(packets.size(), 100u);
    for (const auto& p : packets) {
        EXPECT_EQ(p->payloadType, 8);
        EXPECT_EQ(p->length, 160);
        EXPECT_EQ(p->sampleRate, 8000);
        EXPECT_EQ(p->channels, 1);
        EXPECT_NEAR(p->duration, 0.02, 1e-9);
    }
    const TestTone::Result result = RTPPacketTone::measure(packets, 8, kTone);
    ASSERT_TRUE(result.decoded);
    EXPECT_GT(result.samples, 8000) << "less than a second of the tone";
    EXPECT_NEAR(result.frequency, kTone, 5);
    capture.stop();
    EXPECT_FALSE(capture.isLive());
}

// Direct capture of a source in various formats, each encoded to a payload type: the packets
// have the payload type's size and duration and carry the tone.
TEST(CoreDeviceCaptureTest, EncodesEveryEndpointFormatToThePayloadType)
{
    const FormatCase cases[] = {
        {"float32le", 48000, 2, 8, 160, 0.02, 8000, 1},
        {"s16le", 16000, 1, 9, 160, 0.02, 16000, 1},
        // 24-bit is captured in the fallback format, 16-bit mono at 16000 Hz.
        {"s24-32le", 48000, 2, 0, 160, 0.02, 8000, 1},
        {"s16le", 44100, 2, 14, -1, 1152.0 / 44100, 44100, 2},
        {"u8", 8000, 1, 11, 440, 220.0 / 44100, 44100, 1},
    };
    TestPulseServer pulse;
    TEST_START_PULSE(pulse);
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 %2 Hz %3 ch -> %4")
                         .arg(c.format)
                         .arg(c.rate)
                         .arg(c.channels)
                         .arg(c.payloadType)
                         .toStdString());
        const QString fifo = pulse.dir() + QStringLiteral("/line.fifo");
        const int module = pulse.loadModule(
            QStringLiteral("module-pipe-source"),
            QStringLiteral("source_name=line file=%1 format=%2 rate=%3 channels=%4")
                .arg(fifo)
                .arg(c.format)
                .arg(c.rate)
                .arg(c.channels));
        ASSERT_GE(module, 0);

        CoreDeviceCapture capture;
        capture.setDevice(QStringLiteral("line"), QStringLiteral("Line in"), 0);
        capture.setPayloadType(c.payloadType);
        ASSERT_TRUE(capture.start());
        // A pipe source drops what nobody records yet.
        ASSERT_TRUE(pulse.waitForRecorders(pulse.keeperCount() + 1));

        QFile pipe(fifo);
        ASSERT_TRUE(pipe.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray pcm = sinePcm(QString::fromLatin1(c.format), c.rate, c.channels, 1.5);
        ASSERT_EQ(pipe.write(pcm), pcm.size());
        const RTPPacketTone::Packets packets = collect(capture, 1.2, 5000);
        pipe.close();
        capture.stop();
        pulse.unloadModule(module);
        QFile::remove(fifo);

        ASSERT_GE(packets.size(), 20u);
        for (const auto& p : packets) {
            ASSERT_EQ(p->payloadType, c.payloadType);
            if (c.packetBytes > 0)
                ASSERT_EQ(p->length, c.packetBytes);
            else
                ASSERT_TRUE(RTPAudioPacket::hasMp3Header(p->data, p->length));
            ASSERT_NEAR(p->duration, c.packetSeconds, 1e-9);
            ASSERT_EQ(p->sampleRate, c.packetRate);
            ASSERT_EQ(p->channels, c.packetChannels);
        }
        const TestTone::Result result = RTPPacketTone::measure(packets, c.payloadType, kTone);
        ASSERT_TRUE(result.decoded);
        EXPECT_NEAR(result.frequency, kTone, 5);
    }
}

// The card keeps producing while nobody reads: the queue holds the newest 100 packets.
TEST(CoreDeviceCaptureTest, UnreadPacketsAreCappedDroppingTheOldest)
{
    TestPulseServer pulse;
    TEST_START_PULSE(pulse);
    const QString fifo = pulse.dir() + QStringLiteral("/line.fifo");
    ASSERT_GE(pulse.loadModule(QStringLiteral("module-pipe-source"),
                               QStringLiteral("source_name=line file=%1 format=s16le rate=8000 "
                                              "channels=1")
                                   .arg(fifo)),
              0);
    CoreDeviceCapture capture;
    capture.setDevice(QStringLiteral("line"), QStringLiteral("Line in"), 0);
    capture.setPayloadType(0);
    ASSERT_TRUE(capture.start());
    ASSERT_TRUE(pulse.waitForRecorders(pulse.keeperCount() + 1));
    QFile pipe(fifo);
    ASSERT_TRUE(pipe.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    // Four seconds: 200 packets of 20 ms.
    const QByteArray pcm = sinePcm(QStringLiteral("s16le"), 8000, 1, 4.0);
    ASSERT_EQ(pipe.write(pcm), pcm.size());
    QElapsedTimer timer;
    timer.start();
    while (capture.queuedCount() < 100 && timer.elapsed() < 5000)
        QThread::msleep(10);
    QThread::msleep(300);
    EXPECT_EQ(capture.queuedCount(), 100);
    capture.reset();
    EXPECT_EQ(capture.queuedCount(), 0);
    EXPECT_EQ(capture.read(), nullptr);
    pipe.close();
}

// Unloading the sink under a running loopback capture ends the source within a second.
TEST(CoreDeviceCaptureTest, LosingTheEndpointFinishesTheSource)
{
    TestPulseServer pulse;
    TEST_START_PULSE(pulse);
    const int module = pulse.moduleIndex(QStringLiteral("module-null-sink"));
    ASSERT_GE(module, 0);
    TestLogFile log;
    CoreDeviceCapture capture;
    capture.setDevice(QStringLiteral("spk"), QStringLiteral("Speaker"), 1);
    capture.setPayloadType(0);
    ASSERT_TRUE(capture.start());
    // The null sink plays silence, which is captured and encoded too.
    EXPECT_FALSE(collect(capture, 0.1, 3000).empty());
    EXPECT_TRUE(capture.isLive());

    ASSERT_TRUE(pulse.unloadModule(module));
    QElapsedTimer timer;
    timer.start();
    while (!capture.isFinished() && timer.elapsed() < 3000)
        QThread::msleep(5);
    EXPECT_TRUE(capture.isFinished());
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_FALSE(capture.isLive());
    EXPECT_TRUE(log.waitFor(QStringLiteral("ended: the endpoint went away")))
        << log.text().toStdString();
    capture.stop();
}
