#include "RtpManagerFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr int kPlaylist = RtpInfo::kSourcePlaylist;
constexpr int kBell = RtpInfo::kSourceBell;
constexpr int kAll = RtpInfo::kSourceAll;

using RtpManagerConcurrencyTest = RtpManagerFixture;

// One requester: its own trigger(s), and the rows its requests must have written, in order.
struct Requester
{
    const char* name;
    int startTrigger;
    int stopTrigger;
    QStringList expected;
    int failures = 0;
};

} // namespace

// The GUI thread, a remote client's thread, an HTTP thread and the scheduler start and stop
// sources on four channels at once, 1,000 requests in all, while an observer reads the channel
// list from its callbacks. Every start, and every stop that found its channel running, is in the
// action log with its trigger and in the order its thread asked; the observers hear each
// channel's runs as started, changes, stopped, all on the event thread.
TEST_F(RtpManagerConcurrencyTest, FourRequestersThousandOperations)
{
    RtpSessionFakeSources sources;
    startManager(sources.factory());
    std::vector<RtpInfo> channels;
    for (int i = 0; i < 4; ++i)
        channels.push_back(storeChannel(QStringLiteral("zone %1").arg(i)));
    // Every observer call may call back into the manager and finds its channel there.
    std::atomic<int> notified{0};
    std::atomic<int> reentered{0};
    recorder.during = [&](char, const RtpInfo& info) {
        ++notified;
        for (const RtpInfo& stored : manager->getRtpInfos()) {
            if (stored.id == info.id) {
                ++reentered;
                break;
            }
        }
    };

    const int kinds[] = {RtpInfo::kSourcePlaylist, RtpInfo::kSourceDevice, RtpInfo::kSourceStream, RtpInfo::kSourceBell};
    Requester requesters[] = {{"gui", RtpInfo::kTriggerManual, RtpInfo::kTriggerManual, {}},
                              {"remote client", RtpInfo::kTriggerApi, RtpInfo::kTriggerApiStop, {}},
                              {"http", RtpInfo::kTriggerHttp, RtpInfo::kTriggerHttp, {}},
                              {"scheduler", RtpInfo::kTriggerSchedule, RtpInfo::kTriggerSchedule, {}}};
    auto work = [&](Requester& requester, unsigned seed) {
        std::mt19937 random(seed);
        for (int op = 0; op < 250; ++op) {
            const RtpInfo& channel = channels[random() % channels.size()];
            const bool start = random() % 2 == 0;
            const int kind = random() % 5 == 0 && !start ? kAll : kinds[random() % 4];
            if (start) {
                if (manager->startRtpInfo(channel, kind, requester.startTrigger) != 0)
                    ++requester.failures;
                requester.expected.append(QStringLiteral("%1,0,%2,%3").arg(channel.id).arg(kind).arg(requester.startTrigger));
            } else if (manager->stopRtpInfo(channel, kind, requester.stopTrigger) == 0) {
                requester.expected.append(QStringLiteral("%1,1,%2,%3").arg(channel.id).arg(kind).arg(requester.stopTrigger));
            }
        }
    };
    std::vector<std::thread> threads;
    for (int i = 1; i < 4; ++i)
        threads.emplace_back(work, std::ref(requesters[i]), 1000u + unsigned(i));
    work(requesters[0], 1000u);
    for (std::thread& thread : threads)
        thread.join();
    for (const RtpInfo& channel : channels) {
        if (manager->stopRtpInfo(channel, kAll, RtpInfo::kTriggerManual) == 0)
            requesters[0].expected.append(QStringLiteral("%1,1,247,1").arg(channel.id));
    }
    EXPECT_EQ(manager->sessionCount(), 0);

    ASSERT_TRUE(waitQuiet(
        [&] {
            for (const RtpInfo& channel : channels) {
                if (recorder.count('S', channel.id) != recorder.count('P', channel.id))
                    return false;
            }
            return true;
        },
        20000));
    for (const RtpInfo& channel : channels) {
        SCOPED_TRACE(channel.id);
        EXPECT_TRUE(recorder.wellOrdered(channel.id)) << recorder.sequence(channel.id);
        EXPECT_GT(recorder.count('S', channel.id), 0);
    }
    const auto notifying = recorder.threads();
    ASSERT_EQ(notifying.size(), 1u);
    EXPECT_NE(*notifying.begin(), std::this_thread::get_id());
    EXPECT_GT(notified.load(), 0);
    EXPECT_EQ(reentered.load(), notified.load());

    // Each requester's rows, told apart by their triggers, stand in the order it asked.
    const QStringList rows = logRows();
    int total = 0;
    for (const Requester& requester : requesters) {
        SCOPED_TRACE(requester.name);
        EXPECT_EQ(requester.failures, 0);
        QStringList mine;
        for (const QString& row : rows) {
            const QStringList fields = row.split(QLatin1Char(','));
            ASSERT_EQ(fields.size(), 4);
            const int type = fields[3].toInt();
            const bool isStart = fields[1] == QLatin1String("0");
            if (type == (isStart ? requester.startTrigger : requester.stopTrigger))
                mine.append(row);
        }
        EXPECT_EQ(mine, requester.expected);
        total += requester.expected.size();
    }
    // Nothing ended by itself: no other rows.
    EXPECT_EQ(rows.size(), total);
}

// Start, stop, start, 200 times, with an observer that reads the channel list from its
// callbacks: no deadlock, no stale stop ending a newer session, the channel left running, and
// the observers' last word for it is that it runs.
TEST_F(RtpManagerConcurrencyTest, StartStopStartWithAnObserverThatCallsBack)
{
    RtpSessionFakeSources sources;
    startManager(sources.factory());
    const RtpInfo channel = storeChannel(QStringLiteral("busy"));
    recorder.during = [&](char, const RtpInfo&) { manager->getRtpInfos(); };

    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(manager->startRtpInfo(channel, kPlaylist, RtpInfo::kTriggerManual), 0);
        ASSERT_EQ(manager->stopRtpInfo(channel, kAll, RtpInfo::kTriggerManual), 0);
        ASSERT_EQ(manager->startRtpInfo(channel, kPlaylist, RtpInfo::kTriggerManual), 0);
        if (i % 50 == 0)
            sleepMs(20); // let the event thread fall behind and catch up
    }
    ASSERT_TRUE(waitQuiet([&] { return recorder.count('S', channel.id) == recorder.count('P', channel.id) + 1; },
                          30000));
    EXPECT_TRUE(recorder.wellOrdered(channel.id, true)) << recorder.sequence(channel.id);
    EXPECT_NE(recorder.sequence(channel.id).back(), 'P');
    RtpInfo live;
    manager->getRtpInfo(channel.id, live);
    EXPECT_EQ(live.startedSource, kPlaylist);
    EXPECT_EQ(manager->sessionCount(), 1);
    const QStringList rows = logRows(channel.id);
    ASSERT_EQ(rows.size(), 600);
    for (int i = 0; i < 600; ++i)
        ASSERT_EQ(rows[i], i % 3 == 1 ? QStringLiteral("1,247,1") : QStringLiteral("0,1,1")) << i;
}

// A start that arrives while the channel's last source ends is not lost: the bell's loop ends
// while the playlist's reader is still starting (outside the session lock), and the channel runs
// once the start returns.
TEST_F(RtpManagerConcurrencyTest, StartRacingTheEndOfTheLastSourceIsNotLost)
{
    class SlowStart : public RtpSessionFakeReader
    {
    public:
        SlowStart() : RtpSessionFakeReader(kPlaylist) {}
        bool start() override
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            return RtpSessionFakeReader::start();
        }
    };
    startManager([](int kind, const RtpInfo&) -> RTPAudioReader* {
        if (kind == kPlaylist)
            return new SlowStart;
        auto* bell = new RtpSessionFakeReader(uint8_t(kind));
        bell->duration = 0.01;
        bell->limit = 3; // ends some 20 ms after it starts
        return bell;
    });
    const RtpInfo channel = storeChannel(QStringLiteral("race"));
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(manager->startRtpInfo(channel, kBell, RtpInfo::kTriggerSchedule), 0);
        ASSERT_EQ(manager->startRtpInfo(channel, kPlaylist, RtpInfo::kTriggerManual), 0);
        RtpInfo live;
        manager->getRtpInfo(channel.id, live);
        ASSERT_EQ(live.startedSource, kPlaylist);
        sleepMs(50);
        manager->getRtpInfo(channel.id, live);
        ASSERT_EQ(live.startedSource, kPlaylist);
        ASSERT_EQ(manager->stopRtpInfo(channel, kAll, RtpInfo::kTriggerManual), 0);
    }
    ASSERT_TRUE(waitQuiet(
        [&] { return recorder.count('S', channel.id) == recorder.count('P', channel.id) && manager->sessionCount() == 0; },
        20000));
    EXPECT_TRUE(recorder.wellOrdered(channel.id)) << recorder.sequence(channel.id);
    // Nothing but the requests' rows: the channel never stopped by itself.
    const QStringList rows = logRows(channel.id);
    ASSERT_EQ(rows.size(), 30);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(rows[i], (QStringList{"0,32,3", "0,1,1", "1,247,1"})[i % 3]) << i;
}
