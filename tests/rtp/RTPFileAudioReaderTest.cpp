#include "RTPFileAudioReader.h"
#include "RTPReaderDrain.h"
#include "RTPReaderEvents.h"
#include "RTPReaderFixtures.h"
#include "RTPReaderTest.h"
#include "RTPStalledServer.h"

#include "TestLogFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <random>
#include <thread>

namespace {

using Kind = RTPReaderFixtures::Kind;

class RTPFileAudioReaderTest : public RTPReaderTest
{
protected:
    void prepare(RTPFileAudioReader* reader, const QString& path, int payloadType, int repeat = 0)
    {
        reader->setPath(path);
        reader->setObserver(&events);
        reader->setPayloadType(payloadType);
        reader->setRepeatCount(repeat);
    }
};

// How a channel's bell settings configure the reader: loop type 2 plays 1 + loops times, 1 plays
// for a duration, anything else once.
void configureBell(RTPFileAudioReader* reader, int loopType, int loops, double seconds)
{
    if (loopType == 2) {
        reader->setRepeatCount(loops);
        reader->setTimeLimit(0);
    } else if (loopType == 1) {
        reader->setRepeatCount(-1);
        reader->setTimeLimit(seconds);
    } else {
        reader->setRepeatCount(0);
        reader->setTimeLimit(0);
    }
}

struct BellCase
{
    const char* name;
    Kind kind;
    int payloadType;
    int loopType;
    int loops;
    double limit;
    int passes;           // exact; 0: at least minPasses
    int minPasses;
    double total;         // exact media time; 0: [limit, limit + one packet)
    double packet;        // one packet's duration
};

void PrintTo(const BellCase& c, std::ostream* os)
{
    *os << c.name;
}

class RTPFileAudioReaderBellTest : public RTPFileAudioReaderTest,
                                   public ::testing::WithParamInterface<BellCase>
{
};

// The bell's 0.4 s file: 20 PCMU packets a pass.
TEST_P(RTPFileAudioReaderBellTest, PlaysTheAskedPassesAndEndsAtTheRightMediaTime)
{
    const BellCase& c = GetParam();
    const QString path = RTPReaderFixtures::tone(dir, "bell", 1000, 0.4, c.kind);
    ASSERT_FALSE(path.isEmpty());
    RTPFileAudioReader reader;
    prepare(&reader, path, c.payloadType);
    configureBell(&reader, c.loopType, c.loops, c.limit);
    ASSERT_TRUE(reader.start());
    bool timedOut = false;
    const RTPReaderDrain::Takens taken = RTPReaderDrain::run(&reader, 20, {}, &events, &timedOut);
    ASSERT_FALSE(timedOut);
    ASSERT_TRUE(events.waitFor(RTPReaderEvents::Finished, 1, 2));
    reader.stop();

    const double total = RTPReaderDrain::duration(taken);
    const int opened = events.count(RTPReaderEvents::Opened);
    if (c.passes > 0) {
        EXPECT_EQ(opened, c.passes) << events.trace().toStdString();
        EXPECT_EQ(logCount(QStringLiteral("reset file")), c.passes - 1);
    } else {
        EXPECT_GE(opened, c.minPasses) << events.trace().toStdString();
        EXPECT_EQ(logCount(QStringLiteral("reset file")), opened - 1);
    }
    EXPECT_EQ(events.count(RTPReaderEvents::Failed), 0);
    EXPECT_EQ(events.count(RTPReaderEvents::Finished), 1);
    if (c.total > 0) {
        EXPECT_NEAR(total, c.total, 1e-6);
    } else {
        EXPECT_GE(total, c.limit - 1e-6);
        EXPECT_LT(total, c.limit + c.packet - 1e-6);
    }
    for (const auto& t : taken) {
        EXPECT_EQ(t.packet->payloadType, c.payloadType);
        EXPECT_NEAR(t.packet->duration, c.packet, 1e-9);
    }
    EXPECT_TRUE(reader.isFinished());
    EXPECT_EQ(reader.read(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Bell, RTPFileAudioReaderBellTest,
    ::testing::Values(
        BellCase{"Once", Kind::MulawWav, 0, 0, 5, 3.0, 1, 1, 0.4, 0.02},
        BellCase{"FourTimes", Kind::MulawWav, 0, 2, 3, 0.0, 4, 4, 1.6, 0.02},
        BellCase{"TwiceFromPcm", Kind::Pcm16Wav, 8, 2, 1, 0.0, 2, 2, 0.8, 0.02},
        BellCase{"ForOneSecond", Kind::MulawWav, 0, 1, 0, 1.0, 0, 3, 0.0, 0.02},
        BellCase{"ForAnOddTime", Kind::MulawWav, 0, 1, 0, 0.95, 0, 3, 0.0, 0.02},
        BellCase{"Mp3ForHalfASecond", Kind::Mp3, 14, 1, 0, 0.5, 0, 1, 0.0, 1152.0 / 44100}),
    [](const ::testing::TestParamInfo<BellCase>& info) { return std::string(info.param.name); });

TEST_F(RTPFileAudioReaderTest, HandsOutPacketsNoFasterThanRealTime)
{
    const QString path = RTPReaderFixtures::tone(dir, "tone", 1000, 1.0, Kind::MulawWav);
    ASSERT_FALSE(path.isEmpty());
    RTPFileAudioReader reader;
    prepare(&reader, path, 0);
    ASSERT_TRUE(reader.start());
    ASSERT_TRUE(events.waitFor(RTPReaderEvents::Opened, 1, 5));
    // Let the thread fill its queue.
    RDThread::msleep(100);

    RTPAudioPacket* first = reader.read();
    ASSERT_NE(first, nullptr);
    const double firstTime = RDThread::tickTime();
    EXPECT_NEAR(first->duration, 0.02, 1e-9);
    delete first;
    EXPECT_EQ(reader.read(), nullptr) << "a second packet before the first one's time";
    RTPAudioPacket* second = nullptr;
    while (!second && RDThread::tickTime() < firstTime + 1)
        second = reader.read();
    ASSERT_NE(second, nullptr);
    EXPECT_GE(RDThread::tickTime() - firstTime, 0.02 - 0.0011);
    delete second;

    // Over the rest, packet k comes no earlier than the durations before it.
    const RTPReaderDrain::Takens taken = RTPReaderDrain::run(&reader, 5);
    double due = firstTime + 0.04;
    for (const auto& t : taken) {
        EXPECT_GE(t.time, due - 0.0011);
        due += t.packet->duration;
    }
    EXPECT_NEAR(RTPReaderDrain::duration(taken), 0.96, 1e-6);
}

struct FormCase
{
    const char* name;
    Kind kind;
    int payloadType;
    int rate;
    int channels;
    int bytes;   // per packet but the last; 0 for MP3
    double duration;
};

void PrintTo(const FormCase& c, std::ostream* os)
{
    *os << c.name;
}

class RTPFileAudioReaderFormTest : public RTPFileAudioReaderTest,
                                   public ::testing::WithParamInterface<FormCase>
{
};

TEST_P(RTPFileAudioReaderFormTest, PacketsCarryTheChannelCodec)
{
    const FormCase& c = GetParam();
    const double tone = 1000.0;
    const QString path = RTPReaderFixtures::tone(dir, "form", tone, 0.5, c.kind);
    ASSERT_FALSE(path.isEmpty());
    RTPFileAudioReader reader;
    reader.setPath(path);
    reader.setPayloadType(c.payloadType);
    ASSERT_TRUE(reader.start());
    RTPReaderDrain::Takens taken = RTPReaderDrain::run(&reader, 10);
    reader.stop();
    ASSERT_GT(taken.size(), 5u);

    for (size_t i = 0; i < taken.size(); ++i) {
        const RTPAudioPacket* p = taken[i].packet.get();
        ASSERT_EQ(p->payloadType, c.payloadType);
        EXPECT_EQ(p->sampleRate, c.rate);
        EXPECT_EQ(p->channels, c.channels);
        if (i + 1 == taken.size())
            continue;
        EXPECT_NEAR(p->duration, c.duration, 1e-9) << "packet " << i;
        if (c.bytes > 0) {
            EXPECT_EQ(p->length, c.bytes) << "packet " << i;
        } else {
            // RFC 2250 header, then an MPEG audio frame sync.
            ASSERT_GE(p->length, 8);
            EXPECT_EQ(p->data[0] | p->data[1] | p->data[2] | p->data[3], 0) << "packet " << i;
            EXPECT_EQ(p->data[4], 0xff);
            EXPECT_EQ(p->data[5] & 0xe0, 0xe0);
        }
    }
    const double total = RTPReaderDrain::duration(taken);
    EXPECT_GE(total, 0.5 - 0.021);
    EXPECT_LE(total, 0.5 + (c.payloadType == 14 ? 0.09 : 0.021));

    std::vector<std::unique_ptr<RTPAudioPacket>> packets;
    for (auto& t : taken)
        packets.push_back(std::move(t.packet));
    const TestTone::Result measured = RTPPacketTone::measure(packets, c.payloadType, tone);
    ASSERT_TRUE(measured.decoded);
    EXPECT_NEAR(measured.frequency, tone, tone * 0.01);
    // A 5.1 tone mixed down to mono is quieter than the tone itself.
    EXPECT_GT(measured.rms, 0.01);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, RTPFileAudioReaderFormTest,
    ::testing::Values(FormCase{"Mp3OnMp3", Kind::Mp3, 14, 44100, 2, 0, 1152.0 / 44100},
                      FormCase{"MulawWavOnPcmu", Kind::MulawWav, 0, 8000, 1, 160, 0.02},
                      FormCase{"Mp3OnPcmu", Kind::Mp3, 0, 8000, 1, 160, 0.02},
                      FormCase{"WavOnPcma", Kind::Pcm16Wav, 8, 8000, 1, 160, 0.02},
                      FormCase{"SixChannelsOnPcma", Kind::SixChannelWav, 8, 8000, 1, 160, 0.02},
                      FormCase{"SixChannelsWithoutLayoutOnPcma", Kind::SixChannelPlainWav, 8, 8000, 1,
                               160, 0.02},
                      FormCase{"Mp3OnG722", Kind::Mp3, 9, 16000, 1, 160, 0.02},
                      FormCase{"WavOnL16Stereo", Kind::Pcm16Wav, 10, 44100, 2, 880, 220.0 / 44100},
                      FormCase{"MulawWavOnL16Mono", Kind::MulawWav, 11, 44100, 1, 440, 220.0 / 44100},
                      FormCase{"MulawWavOnMp3", Kind::MulawWav, 14, 44100, 2, 0, 1152.0 / 44100}),
    [](const ::testing::TestParamInfo<FormCase>& info) { return std::string(info.param.name); });

TEST_F(RTPFileAudioReaderTest, WhatDoesNotOpenFinishesAtOnce)
{
    const QString good = RTPReaderFixtures::tone(dir, "good", 1000, 0.3, Kind::MulawWav);
    ASSERT_FALSE(good.isEmpty());
    struct Case
    {
        QString path;
        int payloadType;
    };
    const std::vector<Case> cases{
        {dir.filePath("missing.mp3"), 0},
        {RTPReaderFixtures::corruptWav(dir, "corrupt.wav"), 0},
        {RTPReaderFixtures::textAsMp3(dir, "list.mp3"), 0},
        {QString(), 0},
        {good, 99},   // no codec for that payload type
        {QStringLiteral("concat:") + good + QStringLiteral("|") + good, 0},
        {QStringLiteral("subfile,,start,0,end,0,,:") + good, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString() + " pt " + std::to_string(c.payloadType));
        RTPReaderEvents caseEvents;
        RTPFileAudioReader reader;
        reader.setPath(c.path);
        reader.setObserver(&caseEvents);
        reader.setPayloadType(c.payloadType);
        const double began = RDThread::tickTime();
        ASSERT_TRUE(reader.start());
        bool timedOut = false;
        const RTPReaderDrain::Takens taken = RTPReaderDrain::run(&reader, 5, {}, nullptr, &timedOut);
        EXPECT_FALSE(timedOut);
        EXPECT_LT(RDThread::tickTime() - began, 2.0);
        EXPECT_TRUE(taken.empty());
        EXPECT_EQ(caseEvents.trace(), QStringLiteral("F"));
        EXPECT_EQ(logCount(QStringLiteral("open file ") + c.path + QStringLiteral(" failure")), 1);
        reader.stop();
    }
}

TEST_F(RTPFileAudioReaderTest, FileWithoutAudioDoesNotRepeatForever)
{
    const QString path = RTPReaderFixtures::emptyWav(dir, "empty.wav");
    ASSERT_FALSE(path.isEmpty());
    RTPFileAudioReader reader;
    prepare(&reader, path, 0, -1);
    ASSERT_TRUE(reader.start());
    bool timedOut = false;
    const RTPReaderDrain::Takens taken = RTPReaderDrain::run(&reader, 5, {}, nullptr, &timedOut);
    EXPECT_FALSE(timedOut);
    EXPECT_TRUE(taken.empty());
    EXPECT_EQ(events.trace(), QStringLiteral("O X"));
    EXPECT_EQ(logCount(QStringLiteral("reset file")), 0);
}

TEST_F(RTPFileAudioReaderTest, FileDeletedDuringAPassEndsAfterIt)
{
    const QString path = RTPReaderFixtures::tone(dir, "bell", 1000, 0.4, Kind::MulawWav);
    ASSERT_FALSE(path.isEmpty());
    events.hook = [&path](const RTPReaderEvents::Event& e) {
        if (e.kind == RTPReaderEvents::Opened)
            QFile::remove(path);
    };
    RTPFileAudioReader reader;
    prepare(&reader, path, 0, 3);
    ASSERT_TRUE(reader.start());
    bool timedOut = false;
    const RTPReaderDrain::Takens taken = RTPReaderDrain::run(&reader, 5, {}, nullptr, &timedOut);
    EXPECT_FALSE(timedOut);
    // The open file plays to its end; the next pass cannot open it.
    EXPECT_NEAR(RTPReaderDrain::duration(taken), 0.4, 1e-6);
    EXPECT_EQ(events.trace(), QStringLiteral("O F X"));
}

TEST_F(RTPFileAudioReaderTest, FileTruncatedWhilePlayingEndsEarlyAndCleanly)
{
    const QString path = RTPReaderFixtures::tone(dir, "long", 440, 3.0, Kind::Pcm16Wav);
    ASSERT_FALSE(path.isEmpty());
    RTPFileAudioReader reader;
    prepare(&reader, path, 0, 1);
    ASSERT_TRUE(reader.start());
    bool truncated = false;
    const RTPReaderDrain::Takens taken = RTPReaderDrain::run(
        &reader, 10,
        [&](const RTPReaderDrain::Takens& t) {
            if (!truncated && RTPReaderDrain::duration(t) >= 0.3) {
                truncated = true;
                EXPECT_TRUE(QFile::resize(path, 120000));
            }
            return false;
        },
        &events);
    ASSERT_TRUE(truncated);
    // Both passes stop at the new end (what FFmpeg had buffered before still plays): far less
    // than the two passes of the whole 3 s file.
    const double total = RTPReaderDrain::duration(taken);
    EXPECT_GT(total, 0.3 + 0.68);
    EXPECT_LT(total, 3.0);
    EXPECT_EQ(events.trace(), QStringLiteral("O O X"));
    EXPECT_TRUE(reader.isFinished());
}

TEST_F(RTPFileAudioReaderTest, StopDuringAHangingOpenReturnsPromptly)
{
    RTPStalledServer server;
    ASSERT_GT(server.port(), 0);
    RTPFileAudioReader reader;
    prepare(&reader, QStringLiteral("http://127.0.0.1:%1/bell.mp3").arg(server.port()), 14);
    const double took = server.timeStopDuringOpen(&reader);
    EXPECT_GE(took, 0.0);
    EXPECT_LT(took, 0.2);
}

TEST_F(RTPFileAudioReaderTest, HangingOpenGivesUpAfterItsTimeOut)
{
    RTPStalledServer server;
    ASSERT_GT(server.port(), 0);
    RTPFileAudioReader reader;
    prepare(&reader, QStringLiteral("http://127.0.0.1:%1/bell.mp3").arg(server.port()), 14);
    const double began = RDThread::tickTime();
    ASSERT_TRUE(reader.start());
    ASSERT_TRUE(events.waitFor(RTPReaderEvents::Failed, 1, 20));
    const double took = RDThread::tickTime() - began;
    EXPECT_GT(took, 9.0);
    EXPECT_LT(took, 15.0);
    const double deadline = RDThread::tickTime() + 2;
    while (!reader.isFinished() && RDThread::tickTime() < deadline)
        RDThread::msleep(1);
    EXPECT_TRUE(reader.isFinished());
}

// Under ThreadSanitizer: the owner starts, resets and stops while the send loop reads.
TEST_F(RTPFileAudioReaderTest, StartResetStopWhileAnotherThreadReads)
{
    const QString path = RTPReaderFixtures::tone(dir, "bell", 1000, 0.3, Kind::Mp3);
    ASSERT_FALSE(path.isEmpty());
    RTPFileAudioReader reader;
    prepare(&reader, path, 0, -1);
    reader.setTimeLimit(5);
    RTPReaderDrain::Background consumer(&reader);
    std::mt19937 random(7);
    for (int i = 0; i < 30; ++i) {
        EXPECT_TRUE(reader.start());
        RDThread::msleep(random() % 30);
        if (i % 3 == 0)
            reader.reset();
        RDThread::msleep(random() % 10);
        reader.stop();
    }
    ASSERT_TRUE(reader.start());
    RDThread::msleep(100);
    EXPECT_GT(consumer.finish(), 0);
    EXPECT_GT(events.count(RTPReaderEvents::Opened), 10);
}

} // namespace
