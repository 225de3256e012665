// Reply handling without a network: the capture runs on an interface that does not exist (it
// keeps trying to open it), and the test hands frames to the tool as the capture thread would.

#include "RDThread.h"
#include "ZAVeze.h"
#include "ZAVezeFrame.h"
#include "ZAVezeTestFrames.h"
#include "ZAVezeTestWorker.h"

#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

using namespace ZAVezeTestFrames;

namespace {

class ZAVezeWait : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RDSystemNetwork network;
        network.setName(QStringLiteral("zvnosuch0"));
        network.setMac(adapterMac());
        network.setIp(QStringLiteral("192.0.2.1"));
        network.setIpBytes(adapterIp());
        tool.setNetwork(network);
        tool.start();
        tool.beginJob();
    }

    void feed(int id, const QString& method, int times = 1)
    {
        const QByteArray frame = reply(QJsonObject{{"id", id}, {"method", method}, {"result", "success"}});
        for (int i = 0; i < times; ++i)
            tool.onPacket(&tool.capture(), frame);
    }

    // Feeds in chunks that the event loop works off in between, as a steady stream would.
    void feedStream(int id, const QString& method, int times)
    {
        for (int done = 0; done < times; done += 100) {
            feed(id, method, std::min(100, times - done));
            pumpUntil([] { return false; }, 1);
        }
    }

    ZAVeze tool;
};

double secondsOf(const std::function<void()>& f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

TEST_F(ZAVezeWait, MatchingReplyEndsTheWait)
{
    feed(3, "SetName");
    ZAVezeReply out;
    EXPECT_EQ(runOnWorker([&] { return tool.waitReply(3, "setname", out, 3.0); }), 0);
    EXPECT_EQ(out.id(), 3);
}

TEST_F(ZAVezeWait, LateReplyIsDiscardedByTheNextWait)
{
    ZAVezeReply out;
    EXPECT_EQ(runOnWorker([&] { return tool.waitReply(1, "PlayVolume", out, 0.1); }), -1);
    feed(1, "PlayVolume"); // the device answers after the command gave up
    ASSERT_TRUE(pumpUntil([&] { return tool.replyCount() == 1; }));
    std::atomic<int> result{-2};
    std::thread worker([&] { result = tool.waitReply(2, "PlayVolume", out, 3.0); });
    ASSERT_TRUE(pumpUntil([&] { return tool.replyCount() == 0; })); // taken and dropped
    feed(2, "PlayVolume");
    pumpUntil([&] { return result != -2; });
    worker.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out.id(), 2);
}

TEST_F(ZAVezeWait, ABacklogOfForeignRepliesDoesNotHideTheRightOne)
{
    feedStream(100, "search", 2000);
    feed(7, "SetName");
    ASSERT_TRUE(pumpUntil([&] { return tool.replyCount() == 2001; }, 20000));
    // The whole backlog is worked off in one pass, not one reply a millisecond (2 s here).
    ZAVezeReply out;
    const double seconds = secondsOf([&] { EXPECT_EQ(tool.waitReply(7, "SetName", out, 3.0), 0); });
    EXPECT_LT(seconds, 1.0);
    EXPECT_EQ(tool.replyCount(), 0);
}

TEST_F(ZAVezeWait, UnsolicitedFramesLeaveTheListAtItsCap)
{
    feedStream(100, "search", ZAVeze::kMaxReplies + 2000);
    pumpUntil([] { return false; }, 50);
    EXPECT_EQ(tool.replyCount(), ZAVeze::kMaxReplies);
}

TEST_F(ZAVezeWait, PostedFramesAreBoundedWhileTheEventLoopIsBusy)
{
    const int extra = 1000;
    feed(100, "search", ZAVeze::kMaxPendingFrames + extra); // the GUI thread does not run meanwhile
    EXPECT_EQ(tool.droppedFrames(), extra);
    pumpUntil([] { return false; }, 50);
    EXPECT_EQ(tool.replyCount(), std::min(ZAVeze::kMaxPendingFrames, ZAVeze::kMaxReplies));
    tool.clearReplies();
    feed(101, "search"); // room again
    ASSERT_TRUE(pumpUntil([&] { return tool.replyCount() == 1; }));
    EXPECT_EQ(tool.droppedFrames(), extra);
}

TEST_F(ZAVezeWait, CancelLastsUntilTheNextJob)
{
    tool.cancel();
    ZAVezeReply out;
    feed(4, "SetName");
    pumpUntil([&] { return tool.replyCount() == 1; });
    double seconds = secondsOf([&] { EXPECT_EQ(tool.waitReply(4, "SetName", out, 3.0), -1); });
    EXPECT_LT(seconds, 0.5);
    // A second wait of the same job is cancelled too.
    EXPECT_EQ(tool.waitReply(4, "SetName", out, 3.0), -1);
    tool.beginJob();
    EXPECT_EQ(runOnWorker([&] { return tool.waitReply(4, "SetName", out, 3.0); }), 0);
}

TEST_F(ZAVezeWait, CancelFromAnotherThreadEndsARunningWait)
{
    int result = -2;
    double seconds = 0;
    std::thread worker([&] {
        ZAVezeReply out;
        seconds = secondsOf([&] { result = tool.waitReply(9, "reboot", out, 3.0); });
    });
    std::thread canceller([&] {
        RDThread::msleep(100);
        tool.cancel();
    });
    canceller.join();
    worker.join();
    EXPECT_EQ(result, -1);
    EXPECT_LT(seconds, 1.5);
}

TEST_F(ZAVezeWait, StoppedCaptureEndsEveryWaitAtOnce)
{
    tool.stop();
    ZAVezeReply out;
    feed(5, "SetName");
    pumpUntil([&] { return tool.replyCount() == 1; });
    double seconds = secondsOf([&] { EXPECT_EQ(tool.waitReply(5, "SetName", out, 3.0), -1); });
    EXPECT_LT(seconds, 0.5);
}

TEST_F(ZAVezeWait, CommandWhileTheAdapterIsNotOpenSendsNothing)
{
    ASSERT_TRUE(tool.isRunning());
    ASSERT_FALSE(tool.isOpen());
    double seconds = secondsOf([&] {
        EXPECT_EQ(tool.request(deviceMac(), deviceIp(), "PlayVolume", QJsonObject()), -1);
    });
    EXPECT_LT(seconds, 0.5);
    EXPECT_EQ(tool.capture().queuedFrames(), 0);
}

TEST_F(ZAVezeWait, OversizedRequestIsRefused)
{
    QJsonObject big{{"id", 1}, {"method", "SetName"}};
    big.insert("name", QString(ZAVezeFrame::kMaxJsonBytes, 'n'));
    EXPECT_FALSE(tool.sendJson(deviceMac(), deviceIp(), big));
    QJsonObject fits{{"id", 1}, {"method", "SetName"}};
    const int room = ZAVezeFrame::kMaxJsonBytes - int(ZAVezeFrame::jsonText(QJsonObject{
                                                          {"id", 1}, {"method", "SetName"}, {"name", ""}})
                                                          .size());
    fits.insert("name", QString(room, 'n'));
    ASSERT_EQ(ZAVezeFrame::jsonText(fits).size(), ZAVezeFrame::kMaxJsonBytes);
    EXPECT_TRUE(tool.sendJson(deviceMac(), deviceIp(), fits));
    EXPECT_EQ(tool.capture().queuedFrames(), 1);
    EXPECT_FALSE(tool.sendJson(deviceMac(), QByteArray(), fits)); // no address to send to
}
