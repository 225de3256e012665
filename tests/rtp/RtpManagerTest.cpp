#include "RTPReaderFixtures.h"
#include "RtpManagerFixture.h"

#include "../VexaSDK/FakeVexaClient.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

constexpr int kPlaylist = RtpInfo::kSourcePlaylist;
constexpr int kBell = RtpInfo::kSourceBell;
constexpr int kSip = RtpInfo::kSourceSip;
constexpr int kTalk = RtpInfo::kSourceSdk;
constexpr int kAll = RtpInfo::kSourceAll;

// Sources made up by the test, by kind: the test keeps each one's knobs.
class RtpManagerTest : public RtpManagerFixture
{
protected:
    QString tone(const QString& name, double frequency, double seconds)
    {
        return RTPReaderFixtures::tone(QDir(folder()), name, frequency, seconds, RTPReaderFixtures::MulawWav);
    }

    // Waits until the channel's notices end with a stop and nothing more comes for a moment.
    bool waitStopped(int id, int timeoutMs = 10000)
    {
        return waitQuiet(
            [&] {
                const std::string kinds = recorder.sequence(id);
                return !kinds.empty() && kinds.back() == 'P' && manager->sessionCount() == 0;
            },
            timeoutMs, 300);
    }

    RtpSessionFakeSources sources;
};

} // namespace

// A bell played once ends the channel by itself: the start row and the stop row of the queued
// stop (all sources, trigger 5), started then stopped heard on the event thread, the session
// gone, RTP received and ended with a BYE.
TEST_F(RtpManagerTest, BellChannelEndsByItself)
{
    startManager();
    RtpInfo info = storeChannel(QStringLiteral("bell"), kBell);
    info.bellPath = tone(QStringLiteral("bell"), 440, 1.0);
    ASSERT_FALSE(info.bellPath.isEmpty());
    info.bellLoopType = RtpInfo::kBellOnce;

    ASSERT_EQ(manager->startRtpInfo(info, kBell, RtpInfo::kTriggerManual), 0);
    RtpInfo live;
    EXPECT_EQ(manager->getRtpInfo(info.id, live), 0);
    EXPECT_EQ(live.startedSource, kBell);
    EXPECT_EQ(live.startedType, RtpInfo::kTriggerManual);

    ASSERT_TRUE(waitStopped(info.id));
    EXPECT_EQ(recorder.count('S', info.id), 1);
    EXPECT_EQ(recorder.count('P', info.id), 1);
    EXPECT_TRUE(recorder.wellOrdered(info.id)) << recorder.sequence(info.id);
    EXPECT_EQ(logRows(info.id), (QStringList{"0,32,1", "1,247,5"}));

    const auto threads = recorder.threads();
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_NE(*threads.begin(), std::this_thread::get_id());

    EXPECT_GT(receiver.count(), 35); // 1 s of 20 ms packets
    EXPECT_TRUE(receiver.waitForBye(2000));
    EXPECT_EQ(manager->getRtpInfo(info.id, live), 0);
    EXPECT_EQ(live.startedSource, 0);
}

// A playlist whose file goes away ends after its round: removed, "stopped" raised once.
TEST_F(RtpManagerTest, PlaylistThatRunsOutIsRemovedAndStoppedOnce)
{
    startManager();
    RtpInfo info = storeChannel(QStringLiteral("playlist"), kPlaylist);
    const QString file = tone(QStringLiteral("item"), 880, 0.6);
    ASSERT_FALSE(file.isEmpty());
    info.playlist = {file};

    ASSERT_EQ(manager->startRtpInfo(info, kPlaylist, RtpInfo::kTriggerApi), 0);
    ASSERT_TRUE(receiver.waitFor(5, 5000));
    ASSERT_TRUE(QFile::remove(file));

    ASSERT_TRUE(waitStopped(info.id));
    EXPECT_EQ(recorder.count('S', info.id), 1);
    EXPECT_EQ(recorder.count('P', info.id), 1);
    EXPECT_TRUE(recorder.wellOrdered(info.id)) << recorder.sequence(info.id);
    EXPECT_EQ(logRows(info.id), (QStringList{"0,1,5", "1,247,5"}));
    EXPECT_EQ(manager->sessionCount(), 0);
}

// Starting the playlist on a channel that plays it starts it again from the record given, at
// its first item, with a new start row; jump and seek reach the running playlist.
TEST_F(RtpManagerTest, PlaylistStartedAgainBeginsAtTheFirstItem)
{
    startManager();
    RtpInfo info = storeChannel(QStringLiteral("two items"), kPlaylist);
    // Items long enough that neither the jump nor the seek is reached by playing on.
    info.playlist = {tone(QStringLiteral("a"), 500, 20.0), tone(QStringLiteral("b"), 700, 20.0)};
    ASSERT_FALSE(info.playlist[0].isEmpty());
    ASSERT_FALSE(info.playlist[1].isEmpty());

    auto playing = [&] {
        RtpInfo live;
        manager->getRtpInfo(info.id, live);
        return live.startedSource == kPlaylist ? live.playingIndex : -1;
    };
    ASSERT_EQ(manager->startRtpInfo(info, kPlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_TRUE(waitUntil([&] { return playing() == 0; }, 5000));
    EXPECT_EQ(manager->changePlaylistFile(info, 1), 0);
    ASSERT_TRUE(waitUntil([&] { return playing() == 1; }, 5000));
    EXPECT_EQ(manager->seekPlaylistFile(info, 1, 0.5), 0);
    ASSERT_TRUE(waitUntil(
        [&] {
            RtpInfo live;
            manager->getRtpInfo(info.id, live);
            return live.playingIndex == 1 && live.playingPosition >= 9.9;
        },
        5000));

    ASSERT_EQ(manager->startRtpInfo(info, kPlaylist, RtpInfo::kTriggerManual), 0);
    EXPECT_TRUE(waitUntil([&] { return playing() == 0; }, 5000));
    sleepMs(200);
    EXPECT_EQ(playing(), 0);
    EXPECT_EQ(manager->sessionCount(), 1);
    EXPECT_EQ(logRows(info.id), (QStringList{"0,1,1", "0,1,1"}));

    EXPECT_EQ(manager->stopRtpInfo(info, kAll, RtpInfo::kTriggerManual), 0);
    EXPECT_EQ(manager->sessionCount(), 0);
    ASSERT_TRUE(waitStopped(info.id));
    EXPECT_TRUE(recorder.wellOrdered(info.id)) << recorder.sequence(info.id);
    EXPECT_EQ(logRows(info.id), (QStringList{"0,1,1", "0,1,1", "1,247,1"}));
}

// Failures come back as -1; a failed start still writes its row, and the session made for it
// goes away through its finished event.
TEST_F(RtpManagerTest, FailuresAreNegative)
{
    startManager(sources.factory());
    const RtpInfo info = storeChannel(QStringLiteral("plain"));
    auto client = std::make_shared<FakeVexaClient>();

    struct Row
    {
        const char* what;
        std::function<int()> call;
    };
    const Row rows[] = {
        {"talk with create on an id without a row", [&] { return manager->startTalkRtp(info.id + 100, client, true); }},
        {"talk without create, no session", [&] { return manager->startTalkRtp(info.id, client, false); }},
        {"talk on id 0", [&] { return manager->startTalkRtp(0, client, true); }},
        {"stop talk without session", [&] { return manager->stopTalkRtp(info.id, client); }},
        {"listen without session", [&] { return manager->startListenRtp(info.id, client); }},
        {"stop listen without session", [&] { return manager->stopListenRtp(info.id, client); }},
        {"jump without session", [&] { return manager->changePlaylistFile(info, 0); }},
        {"seek without session", [&] { return manager->seekPlaylistFile(info, 0, 0.5); }},
        {"stop without session", [&] { return manager->stopRtpInfo(info, kAll, RtpInfo::kTriggerManual); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.call(), -1);
        EXPECT_EQ(manager->sessionCount(), 0);
    }
    EXPECT_TRUE(logRows().isEmpty());

    // Kind 64 on a channel without a call, and a kind that is no source at all.
    for (int kind : {kSip, 3}) {
        SCOPED_TRACE(kind);
        EXPECT_EQ(manager->startRtpInfo(info, kind, RtpInfo::kTriggerSip), -1);
        ASSERT_TRUE(waitStopped(info.id));
    }
    EXPECT_EQ(logRows(info.id), (QStringList{"0,64,4", "1,247,5", "0,3,4", "1,247,5"}));
    EXPECT_TRUE(recorder.wellOrdered(info.id)) << recorder.sequence(info.id);

    // The playlist operations want a playlist.
    ASSERT_EQ(manager->startRtpInfo(info, kBell, RtpInfo::kTriggerManual), 0);
    EXPECT_EQ(manager->changePlaylistFile(info, 0), -1);
    EXPECT_EQ(manager->seekPlaylistFile(info, 0, 0.5), -1);
}

// Deleting a running channel stops it first: the stop row, the session gone, "stopped" heard,
// then the SIP account and the schedule dropped and the row deleted.
TEST_F(RtpManagerTest, DeletingARunningChannelStopsItFirst)
{
    startManager(sources.factory());
    const RtpInfo info = storeChannel(QStringLiteral("doomed"));
    ASSERT_EQ(manager->startRtpInfo(info, kPlaylist, RtpInfo::kTriggerApi), 0);
    ASSERT_TRUE(waitUntil([&] { return recorder.count('S', info.id) == 1; }, 5000));

    EXPECT_EQ(manager->deleteRtpInfo(info), 0);
    EXPECT_EQ(manager->sessionCount(), 0);
    EXPECT_EQ(logRows(info.id), (QStringList{"0,1,5", "1,247,1"}));
    ASSERT_TRUE(waitStopped(info.id));
    EXPECT_TRUE(sip->log.calls().contains(QStringLiteral("remove %1").arg(info.id)));
    EXPECT_TRUE(schedulerLog->calls().contains(QStringLiteral("remove %1").arg(info.id)));
    RtpInfo gone;
    EXPECT_EQ(manager->getRtpInfo(info.id, gone), 0);
    EXPECT_EQ(gone.id, 0);
}

// Start-up hands every stored channel to the SIP side and the scheduler after starting them;
// a new channel reaches both with its new id; shutdown stops the scheduler first and the SIP
// side last, after the sessions whose calls it carries.
TEST_F(RtpManagerTest, StartupAddAndShutdownOrder)
{
    host.sipPortValue = 7010;
    const RtpInfo first = storeChannel(QStringLiteral("one"));
    const RtpInfo second = storeChannel(QStringLiteral("two"));
    startManager(sources.factory());
    const QStringList sipCalls = sip->log.calls();
    ASSERT_GE(sipCalls.size(), 3);
    EXPECT_EQ(sipCalls[0], QStringLiteral("init 7010 0"));
    // The list order: the later channel first.
    EXPECT_EQ(sipCalls.mid(1, 2), (QStringList{QStringLiteral("add %1").arg(second.id), QStringLiteral("add %1").arg(first.id)}));
    EXPECT_EQ(schedulerLog->calls(), (QStringList{"start", "addAll 2"}));

    RtpInfo added;
    added.name = QStringLiteral("new");
    added.address = QStringLiteral("127.0.0.1:%1").arg(receiver.port());
    added.sip.status = 1;
    const int id = manager->addRtpInfo(added);
    ASSERT_GT(id, second.id);
    EXPECT_EQ(sip->log.calls().last(), QStringLiteral("add %1").arg(id));
    EXPECT_EQ(schedulerLog->calls().last(), QStringLiteral("update %1").arg(id));

    added.id = id;
    added.name = QStringLiteral("renamed");
    EXPECT_EQ(manager->updateRtpInfo(added), 0);
    EXPECT_EQ(manager->topRtpInfo(first), 0);
    const QVector<RtpInfo> all = manager->getRtpInfos();
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(all[0].id, first.id);
    EXPECT_EQ(all[1].name, QStringLiteral("renamed"));
    EXPECT_EQ(manager->reloadSchedule(added), 0);
    EXPECT_EQ(schedulerLog->calls().last(), QStringLiteral("update %1").arg(id));
    EXPECT_EQ(manager->reloadSip(added), 0);
    EXPECT_EQ(sip->log.calls().mid(sip->log.calls().size() - 2),
              (QStringList{QStringLiteral("remove %1").arg(id), QStringLiteral("add %1").arg(id)}));

    // A channel with a SIP call plays while the manager goes away.
    sip->setCall(first.id, true);
    ASSERT_EQ(manager->startRtpInfo(first, kSip, RtpInfo::kTriggerSip), 0);
    ASSERT_TRUE(receiver.waitFor(3, 5000));
    std::shared_ptr<RtpManagerCallLog> scheduler = schedulerLog;
    RtpManager::destroyInstance();
    EXPECT_EQ(RtpManager::instance(), nullptr);
    EXPECT_EQ(scheduler->calls().mid(scheduler->calls().size() - 2), (QStringList{"stop", "deleted"}));
    const int ended = sip->log.indexOf(QStringLiteral("endCalls %1").arg(first.id));
    const int unregistered = sip->log.indexOf(QStringLiteral("unregisterAll"));
    const int uninit = sip->log.indexOf(QStringLiteral("uninit"));
    EXPECT_GE(ended, 0);
    EXPECT_GT(unregistered, ended);
    EXPECT_GT(uninit, unregistered);
    EXPECT_EQ(sip->devicesAlive.load(), 0);
}

// A SIP call's start and hang-up go through the event thread: rows with trigger 4, the session
// ends when the call was its only source, and the observers hear started, then stopped.
TEST_F(RtpManagerTest, QueuedCallStartAndHangUp)
{
    startManager(sources.factory());
    const RtpInfo info = storeChannel(QStringLiteral("phone"));
    sip->setCall(info.id, true);

    ASSERT_EQ(manager->queueStartRtpInfo(info, kSip, RtpInfo::kTriggerSip), 0);
    ASSERT_TRUE(waitUntil([&] { return recorder.count('S', info.id) == 1; }, 5000));
    ASSERT_TRUE(receiver.waitFor(3, 5000));
    // A playlist beside the call keeps the channel when the call ends.
    ASSERT_EQ(manager->startRtpInfo(info, kPlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_EQ(manager->queueStopRtpInfo(info, kSip, RtpInfo::kTriggerSip), 0);
    ASSERT_TRUE(waitUntil([&] { return logRows(info.id).size() == 3; }, 5000));
    EXPECT_EQ(manager->sessionCount(), 1);
    EXPECT_EQ(recorder.count('P', info.id), 0);
    // The row is written before the source stops and ends the calls.
    EXPECT_TRUE(waitUntil([&] { return sip->log.calls().contains(QStringLiteral("endCalls %1").arg(info.id)); },
                          5000));

    ASSERT_EQ(manager->queueStartRtpInfo(info, kSip, RtpInfo::kTriggerSip), 0);
    ASSERT_TRUE(waitUntil([&] { return logRows(info.id).size() == 4; }, 5000));
    ASSERT_EQ(manager->stopRtpInfo(info, kPlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_EQ(manager->queueStopRtpInfo(info, kSip, RtpInfo::kTriggerSip), 0);
    ASSERT_TRUE(waitStopped(info.id));
    EXPECT_EQ(logRows(info.id), (QStringList{"0,64,4", "0,1,1", "1,64,4", "0,64,4", "1,1,1", "1,64,4"}));
    EXPECT_TRUE(recorder.wellOrdered(info.id)) << recorder.sequence(info.id);
}

// A remote app's audio starts the stored channel; a listener joins; dropping the talk leaves
// the session without sources, and it ends by itself.
TEST_F(RtpManagerTest, TalkAndListen)
{
    startManager(sources.factory());
    const RtpInfo info = storeChannel(QStringLiteral("talk"));
    auto client = std::make_shared<FakeVexaClient>();

    ASSERT_EQ(manager->startTalkRtp(info.id, client, true), 0);
    EXPECT_EQ(manager->sessionCount(), 1);
    EXPECT_EQ(logRows(info.id), (QStringList{"0,128,5"}));
    // Talking again on the running channel replaces the source.
    EXPECT_EQ(manager->startTalkRtp(info.id, client, false), 0);
    EXPECT_EQ(sources.made(kTalk), 2);
    EXPECT_EQ(manager->startListenRtp(info.id, client), 0);
    EXPECT_TRUE(client->waitSent(4, 5000));
    EXPECT_EQ(manager->stopListenRtp(info.id, client), 0);

    EXPECT_EQ(manager->stopTalkRtp(info.id, client), 0);
    ASSERT_TRUE(waitStopped(info.id));
    EXPECT_EQ(logRows(info.id), (QStringList{"0,128,5", "1,247,5"}));
    EXPECT_TRUE(recorder.wellOrdered(info.id)) << recorder.sequence(info.id);
}

// The SIP port setting: the same port re-registers every channel without a restart; another
// port restarts the SIP side on it first.
TEST_F(RtpManagerTest, SipPortReload)
{
    host.sipPortValue = 7020;
    const RtpInfo info = storeChannel(QStringLiteral("sip"));
    startManager(sources.factory());
    ASSERT_TRUE(waitUntil([&] { return sip->log.calls().size() >= 2; }, 2000));

    struct Row
    {
        int port;
        QStringList calls;
    };
    const QString add = QStringLiteral("add %1").arg(info.id);
    const Row rows[] = {{7020, {"unregisterAll", add}}, {7030, {"unregisterAll", "restart 7030", add}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.port);
        sip->log.clear();
        ASSERT_EQ(manager->setSipPort(row.port), 0);
        ASSERT_TRUE(waitUntil([&] { return sip->log.calls().size() >= row.calls.size(); }, 5000));
        sleepMs(50);
        EXPECT_EQ(sip->log.calls(), row.calls);
    }
}

TEST_F(RtpManagerTest, SipStatusTexts)
{
    startManager();
    {
        std::lock_guard<std::mutex> lock(sip->mutex);
        sip->registration = {{1, 1}, {2, 2}, {3, 4}, {4, 6}, {5, 3}};
    }
    struct Row
    {
        int id;
        const char* text;
    };
    const Row rows[] = {{1, "state 1"}, {2, "state 2"}, {3, "state 4"}, {4, "state 6"}, {9, ""}};
    for (const Row& row : rows)
        EXPECT_EQ(manager->getSipStatusText(row.id), QString::fromLatin1(row.text)) << row.id;
}

// Queued requests are taken only between initialisation and shutdown.
TEST_F(RtpManagerTest, QueueOnlyWhileRunning)
{
    RtpManagerTestManager local;
    RtpInfo info;
    info.id = 1;
    EXPECT_EQ(local.queueStartRtpInfo(info, kPlaylist, RtpInfo::kTriggerSip), -1);
    EXPECT_EQ(local.setSipPort(5070), -1);
    local.init();
    EXPECT_EQ(local.setSipPort(5070), 0);
    local.shutdown();
    EXPECT_EQ(local.queueStopRtpInfo(info, kPlaylist, RtpInfo::kTriggerSip), -1);
    EXPECT_EQ(local.startRtpInfo(info, kPlaylist, 1), -1); // no session after shutdown
}
