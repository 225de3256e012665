#include "RTPFilesAudioReader.h"
#include "RTPReaderDrain.h"
#include "RTPReaderEvents.h"
#include "RTPReaderFixtures.h"
#include "RTPReaderTest.h"
#include "RTPStalledServer.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <ctime>
#include <mutex>
#include <random>
#include <thread>

namespace {

using Kind = RTPReaderFixtures::Kind;
using Takens = RTPReaderDrain::Takens;

class RTPFilesAudioReaderTest : public RTPReaderTest
{
protected:
    void prepare(RTPFilesAudioReader* reader, const QStringList& playlist, int repeat,
                 int payloadType = 0)
    {
        reader->setPlaylist(playlist);
        reader->setRepeatCount(repeat);
        reader->setObserver(&events);
        reader->setPayloadType(payloadType);
    }

    // Index of the first packet taken after the report number `report` (0-based) was in.
    static size_t firstAfter(const Takens& taken, int report)
    {
        for (size_t i = 0; i < taken.size(); ++i)
            if (taken[i].events > report)
                return i;
        return taken.size();
    }
};

struct Status
{
    int index;
    double position;
    double duration;
};

TEST_F(RTPFilesAudioReaderTest, PlaysInOrderSkipsWhatDoesNotPlayAndReportsStatus)
{
    const QString a = RTPReaderFixtures::tone(dir, "a", 440, 0.6, Kind::MulawWav);
    const QString b = RTPReaderFixtures::tone(dir, "b", 880, 0.5, Kind::Mp3);
    ASSERT_FALSE(a.isEmpty());
    ASSERT_FALSE(b.isEmpty());
    const QStringList playlist{a,
                               dir.filePath("missing.wav"),
                               RTPReaderFixtures::corruptWav(dir, "corrupt.wav"),
                               RTPReaderFixtures::textAsMp3(dir, "list.mp3"),
                               RTPReaderFixtures::emptyWav(dir, "empty.wav"),
                               b};
    RTPFilesAudioReader reader;
    prepare(&reader, playlist, 1);
    ASSERT_TRUE(reader.start());
    std::vector<Status> statuses;
    bool timedOut = false;
    const double began = RDThread::tickTime();
    const Takens taken = RTPReaderDrain::run(
        &reader, 10,
        [&](const Takens&) {
            Status s{};
            EXPECT_EQ(reader.status(&s.index, &s.position, &s.duration), 0);
            statuses.push_back(s);
            return false;
        },
        &events, &timedOut);
    const double took = RDThread::tickTime() - began;
    ASSERT_FALSE(timedOut);
    reader.stop();

    const QString round = QStringLiteral("O0 E0 F1 F2 F3 O4 E4 O5 E5");
    EXPECT_EQ(events.trace(), round + QLatin1Char(' ') + round);
    EXPECT_EQ(reader.playlist(), playlist);

    // Two rounds of 0.6 s and about 0.5 s (plus the MP3's own padding), played in real time.
    const double total = RTPReaderDrain::duration(taken);
    EXPECT_GT(total, 2 * 1.1 - 0.04);
    EXPECT_LT(total, 2 * 1.1 + 0.2);
    EXPECT_GT(took, total - 0.1);

    // Item 0 holds exactly 0.6 s of PCMU; then comes item 5.
    const QVector<float> samples = RTPReaderDrain::decode(taken, 0);
    ASSERT_FALSE(samples.isEmpty());
    const double secondRound = total / 2;
    EXPECT_NEAR(RTPReaderDrain::frequency(samples, 8000, 0.05, 0.55), 440, 5);
    EXPECT_NEAR(RTPReaderDrain::frequency(samples, 8000, 0.7, 1.0), 880, 9);
    EXPECT_NEAR(RTPReaderDrain::frequency(samples, 8000, secondRound + 0.05, secondRound + 0.55), 440, 5);
    EXPECT_NEAR(RTPReaderDrain::frequency(samples, 8000, secondRound + 0.7, secondRound + 1.0), 880, 9);

    // Status: the index of a playing item, its duration, a position that grows within it.
    ASSERT_FALSE(statuses.empty());
    double lastPosition = -1;
    int lastIndex = -1;
    double maxPosition0 = 0;
    for (const Status& s : statuses) {
        ASSERT_TRUE(s.index == 0 || s.index == 5) << s.index;
        if (s.index == 0) {
            EXPECT_NEAR(s.duration, 0.6, 0.001);
            maxPosition0 = std::max(maxPosition0, s.position);
        } else {
            EXPECT_NEAR(s.duration, 0.5, 0.06);
        }
        EXPECT_GE(s.position, 0.0);
        EXPECT_LE(s.position, s.duration + 0.1);
        if (s.index == lastIndex) {
            EXPECT_GE(s.position, lastPosition);
        }
        lastIndex = s.index;
        lastPosition = s.position;
    }
    EXPECT_NEAR(maxPosition0, 0.6, 0.001);
}

TEST_F(RTPFilesAudioReaderTest, RepeatCountEndsAtTheRightMediaTime)
{
    const QString a = RTPReaderFixtures::tone(dir, "a", 440, 0.6, Kind::MulawWav);
    const QString b = RTPReaderFixtures::tone(dir, "b", 880, 0.3, Kind::MulawWav);
    ASSERT_FALSE(a.isEmpty());
    ASSERT_FALSE(b.isEmpty());
    RTPFilesAudioReader reader;
    prepare(&reader, {a, b}, 1);
    ASSERT_TRUE(reader.start());
    bool timedOut = false;
    const Takens taken = RTPReaderDrain::run(&reader, 10, {}, &events, &timedOut);
    ASSERT_FALSE(timedOut);
    EXPECT_EQ(events.trace(), QStringLiteral("O0 E0 O1 E1 O0 E0 O1 E1"));
    EXPECT_NEAR(RTPReaderDrain::duration(taken), 1.8, 1e-6);
    for (const auto& t : taken) {
        EXPECT_EQ(t.packet->payloadType, 0);
        EXPECT_EQ(t.packet->length, 160);
        EXPECT_NEAR(t.packet->duration, 0.02, 1e-9);
    }
    EXPECT_TRUE(reader.isFinished());
}

// The thread converts tenths of a second ahead (and a WAV block gives half a second of packets
// at once), yet hands no packet out before its time: each comes no earlier than the durations
// before it have passed since the first, less the lead. A reader that handed out what it had
// converted would be up to kAheadSeconds early.
TEST_F(RTPFilesAudioReaderTest, ConvertsAheadYetHandsEveryPacketOutOnTime)
{
    const QString a = RTPReaderFixtures::tone(dir, "a", 440, 0.6, Kind::MulawWav);
    const QString b = RTPReaderFixtures::tone(dir, "b", 880, 0.4, Kind::Mp3);
    ASSERT_FALSE(a.isEmpty() || b.isEmpty());
    RTPFilesAudioReader reader;
    prepare(&reader, {a, b}, 0);
    ASSERT_TRUE(reader.start());
    bool timedOut = false;
    const Takens taken = RTPReaderDrain::run(&reader, 10, {}, &events, &timedOut);
    ASSERT_FALSE(timedOut);
    EXPECT_EQ(events.trace(), QStringLiteral("O0 E0 O1 E1"));
    ASSERT_GT(taken.size(), 40u);
    // Both ways of reading a packet's time count whole milliseconds; the first packet may have
    // been taken a little after its run began on a loaded machine.
    const double tolerance = 0.03;
    double handedOut = 0;
    for (const auto& t : taken) {
        EXPECT_GE(t.time, taken.front().time + handedOut - RTPFilesAudioReader::kLeadSeconds - tolerance)
            << "after " << handedOut << " s";
        handedOut += t.packet->duration;
    }
}

TEST_F(RTPFilesAudioReaderTest, MissingItemStaysAndPlaysOnceItIsThere)
{
    const QString a = RTPReaderFixtures::tone(dir, "a", 440, 0.3, Kind::MulawWav);
    ASSERT_FALSE(a.isEmpty());
    const QString later = dir.filePath("later.wav");
    events.hook = [&](const RTPReaderEvents::Event& e) {
        if (e.kind == RTPReaderEvents::Failed && e.index == 1)
            QFile::copy(a, later);
    };
    RTPFilesAudioReader reader;
    prepare(&reader, {a, later}, 1);
    ASSERT_TRUE(reader.start());
    bool timedOut = false;
    const Takens taken = RTPReaderDrain::run(&reader, 10, {}, &events, &timedOut);
    ASSERT_FALSE(timedOut);
    EXPECT_EQ(events.trace(), QStringLiteral("O0 E0 F1 O0 E0 O1 E1"));
    EXPECT_NEAR(RTPReaderDrain::duration(taken), 0.9, 1e-6);
    EXPECT_EQ(reader.playlist(), QStringList({a, later}));
}

TEST_F(RTPFilesAudioReaderTest, NothingPlayableFinishesAfterOneRound)
{
    const QString good = RTPReaderFixtures::tone(dir, "good", 440, 0.3, Kind::MulawWav);
    ASSERT_FALSE(good.isEmpty());
    struct Case
    {
        const char* name;
        QStringList playlist;
        int payloadType;
        QString trace;
    };
    const std::vector<Case> cases{
        {"unopenable",
         {dir.filePath("missing.mp3"), RTPReaderFixtures::corruptWav(dir, "c.wav"),
          RTPReaderFixtures::textAsMp3(dir, "t.mp3")},
         0,
         "F0 F1 F2"},
        {"without audio",
         {RTPReaderFixtures::emptyWav(dir, "e1.wav"), RTPReaderFixtures::emptyWav(dir, "e2.wav")},
         0,
         "O0 E0 O1 E1"},
        {"mixed", {RTPReaderFixtures::emptyWav(dir, "e3.wav"), dir.filePath("gone.wav")}, 0, "O0 E0 F1"},
        {"no codec for the payload type", {good, good}, 99, "F0 F1"},
        {"empty list", {}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RTPReaderEvents caseEvents;
        RTPFilesAudioReader reader;
        reader.setPlaylist(c.playlist);
        reader.setRepeatCount(-1);
        reader.setObserver(&caseEvents);
        reader.setPayloadType(c.payloadType);
        timespec cpu0;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
        const double began = RDThread::tickTime();
        ASSERT_TRUE(reader.start());
        bool timedOut = false;
        const Takens taken = RTPReaderDrain::run(&reader, 5, {}, nullptr, &timedOut);
        EXPECT_FALSE(timedOut);
        EXPECT_LT(RDThread::tickTime() - began, 2.0);
        timespec cpu1;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
        EXPECT_LT(double(cpu1.tv_sec - cpu0.tv_sec) + (cpu1.tv_nsec - cpu0.tv_nsec) / 1e9, 1.0);
        EXPECT_TRUE(taken.empty());
        EXPECT_EQ(caseEvents.trace(), c.trace);
        reader.stop();
    }
}

struct SeekCase
{
    const char* name;
    Kind kind;
};

void PrintTo(const SeekCase& c, std::ostream* os)
{
    *os << c.name;
}

class RTPFilesAudioReaderSeekTest : public RTPFilesAudioReaderTest,
                                    public ::testing::WithParamInterface<SeekCase>
{
};

// The 10 s item sounds 200 + 100 * (whole seconds) Hz: 700 Hz after a seek to 55 %.
TEST_P(RTPFilesAudioReaderSeekTest, SeekLandsWhereAsked)
{
    const QString item = RTPReaderFixtures::steps(dir, "steps", 10, GetParam().kind);
    ASSERT_FALSE(item.isEmpty());
    RTPFilesAudioReader reader;
    std::vector<Status> atReopen;
    events.hook = [&](const RTPReaderEvents::Event& e) {
        if (e.kind == RTPReaderEvents::Opened) {
            // Called back without the reader's lock held: status answers from here.
            Status s{};
            reader.status(&s.index, &s.position, &s.duration);
            atReopen.push_back(s);
        }
    };
    prepare(&reader, {item}, -1);
    ASSERT_TRUE(reader.start());
    const Takens before = RTPReaderDrain::run(
        &reader, 5, [](const Takens& t) { return RTPReaderDrain::duration(t) >= 0.4; }, &events);
    reader.seek(0.55);
    const Takens after = RTPReaderDrain::run(
        &reader, 5,
        [](const Takens& t) {
            const size_t first = firstAfter(t, 1);
            return first < t.size() && RTPReaderDrain::duration(t, first) >= 0.5;
        },
        &events);
    Status now{};
    reader.status(&now.index, &now.position, &now.duration);
    reader.stop();

    EXPECT_EQ(events.trace(), QStringLiteral("O0 O0"));
    ASSERT_EQ(atReopen.size(), 2u);
    EXPECT_EQ(atReopen[1].index, 0);
    EXPECT_NEAR(atReopen[1].duration, 10.0, 0.06);
    // The target is reported as the position (the MP3's duration counts its padding).
    const double target = 0.55 * atReopen[1].duration;
    EXPECT_NEAR(atReopen[1].position, target, 1e-6);
    EXPECT_EQ(now.index, 0);
    EXPECT_GT(now.position, target + 0.45);
    EXPECT_LT(now.position, target + 0.6);

    const QVector<float> early = RTPReaderDrain::decode(before, 0);
    EXPECT_NEAR(RTPReaderDrain::frequency(early, 8000, 0.05, 0.35), 200, 4);
    // The packets taken after the report, less the couple that may have been queued before it.
    const size_t first = firstAfter(after, 1);
    ASSERT_LT(first + 3, after.size());
    const QVector<float> late = RTPReaderDrain::decode(after, 0, first + 3);
    EXPECT_NEAR(RTPReaderDrain::frequency(late, 8000, 0.0, 0.3), 700, 10);
}

INSTANTIATE_TEST_SUITE_P(Items, RTPFilesAudioReaderSeekTest,
                         ::testing::Values(SeekCase{"Wav", Kind::MulawWav}, SeekCase{"Mp3", Kind::Mp3}),
                         [](const ::testing::TestParamInfo<SeekCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(RTPFilesAudioReaderTest, JumpLandsWhereAskedAndIgnoresIndexesOutsideTheList)
{
    const QString a = RTPReaderFixtures::tone(dir, "a", 440, 3, Kind::MulawWav);
    const QString b = RTPReaderFixtures::tone(dir, "b", 660, 3, Kind::MulawWav);
    const QString c = RTPReaderFixtures::tone(dir, "c", 880, 3, Kind::Mp3);
    ASSERT_FALSE(a.isEmpty() || b.isEmpty() || c.isEmpty());
    RTPFilesAudioReader reader;
    events.hook = [&](const RTPReaderEvents::Event& e) {
        // Requests made from inside a report must not block the reader.
        if (e.kind == RTPReaderEvents::Opened && e.index == 0)
            reader.jump(7);
    };
    prepare(&reader, {a, b, c}, -1);
    ASSERT_TRUE(reader.start());
    const Takens before = RTPReaderDrain::run(
        &reader, 5, [](const Takens& t) { return RTPReaderDrain::duration(t) >= 0.3; }, &events);
    reader.jump(99);
    reader.jump(-1);
    reader.jump(3);
    const Takens still = RTPReaderDrain::run(
        &reader, 5, [](const Takens& t) { return RTPReaderDrain::duration(t) >= 0.2; }, &events);
    EXPECT_EQ(events.trace(), QStringLiteral("O0"));
    int index = -1;
    reader.status(&index, nullptr, nullptr);
    EXPECT_EQ(index, 0);

    reader.jump(2);
    const Takens after = RTPReaderDrain::run(
        &reader, 5,
        [](const Takens& t) {
            const size_t first = firstAfter(t, 1);
            return first < t.size() && RTPReaderDrain::duration(t, first) >= 0.5;
        },
        &events);
    reader.status(&index, nullptr, nullptr);
    reader.stop();
    EXPECT_EQ(events.trace(), QStringLiteral("O0 O2"));
    EXPECT_EQ(index, 2);
    // The queue was emptied: at most the couple of packets in flight come before item 2's.
    const size_t first = firstAfter(after, 1);
    EXPECT_LE(first, 3u);
    EXPECT_NEAR(RTPReaderDrain::frequency(RTPReaderDrain::decode(still, 0), 8000, 0.02, 0.18), 440, 5);
    const QVector<float> late = RTPReaderDrain::decode(after, 0, first + 3);
    EXPECT_NEAR(RTPReaderDrain::frequency(late, 8000, 0.05, 0.4), 880, 9);
}

// A jump asked before the reader has opened its first item is not lost to that first open.
TEST_F(RTPFilesAudioReaderTest, JumpRightAfterTheStartLands)
{
    const QString a = RTPReaderFixtures::tone(dir, "a", 440, 10, Kind::MulawWav);
    const QString b = RTPReaderFixtures::tone(dir, "b", 660, 10, Kind::MulawWav);
    ASSERT_FALSE(a.isEmpty() || b.isEmpty());
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        RTPFilesAudioReader reader;
        RTPReaderEvents opened;
        prepare(&reader, {a, b}, 0);
        reader.setObserver(&opened);
        ASSERT_TRUE(reader.start());
        reader.jump(1);
        EXPECT_TRUE(opened.waitFor(RTPReaderEvents::Opened, 1, 5, 1)) << opened.trace().toStdString();
        reader.stop();
    }
}

TEST_F(RTPFilesAudioReaderTest, ItemTruncatedWhilePlayingEndsAndTheNextPlays)
{
    const QString big = RTPReaderFixtures::tone(dir, "big", 440, 3.0, Kind::Pcm16Wav);
    const QString next = RTPReaderFixtures::tone(dir, "next", 880, 0.4, Kind::MulawWav);
    ASSERT_FALSE(big.isEmpty() || next.isEmpty());
    RTPFilesAudioReader reader;
    prepare(&reader, {big, next}, 0);
    ASSERT_TRUE(reader.start());
    bool truncated = false;
    bool timedOut = false;
    const Takens taken = RTPReaderDrain::run(
        &reader, 10,
        [&](const Takens& t) {
            if (!truncated && RTPReaderDrain::duration(t) >= 0.3) {
                truncated = true;
                EXPECT_TRUE(QFile::resize(big, 120000));
            }
            return false;
        },
        &events, &timedOut);
    ASSERT_FALSE(timedOut);
    ASSERT_TRUE(truncated);
    const QString trace = events.trace();
    EXPECT_TRUE(trace == "O0 E0 O1 E1" || trace == "O0 O1 E1") << trace.toStdString();
    const size_t second = firstAfter(taken, events.size() - 2);
    EXPECT_LT(RTPReaderDrain::duration(taken, 0, second), 2.0);
    EXPECT_NEAR(RTPReaderDrain::duration(taken, second), 0.4, 0.05);
    EXPECT_TRUE(reader.isFinished());
}

TEST_F(RTPFilesAudioReaderTest, ItemDeletedWhilePlayingPlaysToItsEnd)
{
    const QString a = RTPReaderFixtures::tone(dir, "a", 440, 0.6, Kind::Mp3);
    ASSERT_FALSE(a.isEmpty());
    events.hook = [&a](const RTPReaderEvents::Event& e) {
        if (e.kind == RTPReaderEvents::Opened)
            QFile::remove(a);
    };
    RTPFilesAudioReader reader;
    prepare(&reader, {a}, -1);
    ASSERT_TRUE(reader.start());
    bool timedOut = false;
    const Takens taken = RTPReaderDrain::run(&reader, 10, {}, &events, &timedOut);
    ASSERT_FALSE(timedOut);
    EXPECT_EQ(events.trace(), QStringLiteral("O0 E0 F0"));
    EXPECT_GT(RTPReaderDrain::duration(taken), 0.6 - 0.03);
}

TEST_F(RTPFilesAudioReaderTest, StopDuringAHangingOpenReturnsPromptly)
{
    RTPStalledServer server;
    ASSERT_GT(server.port(), 0);
    RTPFilesAudioReader reader;
    prepare(&reader, {QStringLiteral("http://127.0.0.1:%1/radio").arg(server.port())}, -1, 14);
    const double took = server.timeStopDuringOpen(&reader);
    EXPECT_GE(took, 0.0);
    EXPECT_LT(took, 0.2);
}

// The item that is being opened is not the current one until it opens: while the next item
// hangs in its open, the status still names the item that played last.
TEST_F(RTPFilesAudioReaderTest, StatusNamesNoItemWhileItsOpenHangs)
{
    const QString a = RTPReaderFixtures::tone(dir, "a", 440, 0.6, Kind::MulawWav);
    ASSERT_FALSE(a.isEmpty());
    RTPStalledServer server;
    ASSERT_GT(server.port(), 0);
    RTPFilesAudioReader reader;
    prepare(&reader, {a, QStringLiteral("http://127.0.0.1:%1/radio").arg(server.port())}, 0);
    ASSERT_TRUE(reader.start());
    const Takens taken = RTPReaderDrain::run(
        &reader, 10, [](const Takens& t) { return RTPReaderDrain::duration(t) > 0.59; }, &events);
    EXPECT_GT(RTPReaderDrain::duration(taken), 0.59);
    ASSERT_TRUE(server.waitForClient(10)) << "item 1 was never opened";
    int index = -1;
    double position = -1;
    double duration = -1;
    EXPECT_EQ(reader.status(&index, &position, &duration), 0);
    EXPECT_EQ(index, 0);
    EXPECT_NEAR(duration, 0.6, 0.001);
    reader.stop();
}

// A stream in the playlist that stops sending: a stop while the read waits for data that never
// comes returns at once.
TEST_F(RTPFilesAudioReaderTest, StopDuringAHangingReadReturnsPromptly)
{
    // More than the open probes of a live MP3 (50 frames, 1.3 s).
    const QString mp3 = RTPReaderFixtures::tone(dir, "radio", 880, 2.5, Kind::Mp3);
    ASSERT_FALSE(mp3.isEmpty());
    QFile file(mp3);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    RTPStalledServer server("HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n" + file.readAll());
    ASSERT_GT(server.port(), 0);
    RTPFilesAudioReader reader;
    prepare(&reader, {QStringLiteral("http://127.0.0.1:%1/radio").arg(server.port())}, -1);
    ASSERT_TRUE(reader.start());
    // The audio sent, then nothing: the reader waits in its read.
    const Takens taken = RTPReaderDrain::run(&reader, 3.5, {}, &events);
    EXPECT_EQ(events.trace(), QStringLiteral("O0"));
    EXPECT_NEAR(RTPReaderDrain::duration(taken), 2.5, 0.1);
    EXPECT_NEAR(RTPReaderDrain::frequency(RTPReaderDrain::decode(taken, 0), 8000, 0.1, 2.4), 880, 9);
    EXPECT_FALSE(reader.isFinished());
    const double began = RDThread::tickTime();
    reader.stop();
    const double took = RDThread::tickTime() - began;
    std::printf("stop during a hanging read took %.1f ms\n", took * 1000);
    EXPECT_LT(took, 0.2);
}

// Under ThreadSanitizer: the owner starts and stops, the manager jumps, seeks and asks the
// status, and a report seeks back, all while the send loop reads.
TEST_F(RTPFilesAudioReaderTest, ControlFromOtherThreadsWhileReading)
{
    const QString a = RTPReaderFixtures::tone(dir, "a", 440, 0.5, Kind::MulawWav);
    const QString b = RTPReaderFixtures::tone(dir, "b", 880, 0.5, Kind::Mp3);
    ASSERT_FALSE(a.isEmpty() || b.isEmpty());
    RTPFilesAudioReader reader;
    std::atomic<int> reports{0};
    events.hook = [&](const RTPReaderEvents::Event& e) {
        int index;
        double position, duration;
        reader.status(&index, &position, &duration);
        if (e.kind == RTPReaderEvents::Opened && ++reports % 5 == 0)
            reader.seek(0.25);
    };
    prepare(&reader, {a, b, dir.filePath("missing.wav")}, -1);
    std::atomic<bool> done{false};
    RTPReaderDrain::Background consumer(&reader);
    std::thread manager([&] {
        std::mt19937 random(11);
        while (!done) {
            const int r = int(random() % 4);
            if (r == 0)
                reader.jump(int(random() % 4) - 1);
            else if (r == 1)
                reader.seek((random() % 100) / 100.0);
            else if (r == 2)
                reader.reset();
            int index;
            double position, duration;
            reader.status(&index, &position, &duration);
            RDThread::msleep(random() % 15);
        }
    });
    std::mt19937 random(5);
    for (int i = 0; i < 30; ++i) {
        EXPECT_TRUE(reader.start());
        RDThread::msleep(random() % 40);
        reader.stop();
    }
    EXPECT_TRUE(reader.start());
    RDThread::msleep(300);
    done = true;
    manager.join();
    EXPECT_GT(consumer.finish(), 0);
    EXPECT_GT(events.count(RTPReaderEvents::Opened), 10);
}

} // namespace
