// The device tool against the simulated device, between two network namespaces joined by a veth
// pair (netns-run.sh makes them for each test; nothing leaves them).

#include "QPcap.h"
#include "RDThread.h"
#include "TestDeviceSim.h"
#include "TestSupport.h"
#include "TestLogFile.h"
#include "ZAVeze.h"
#include "ZAVezeFrame.h"
#include "ZAVezeTestFrames.h"
#include "ZAVezeTestWorker.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

using namespace ZAVezeTestFrames;

namespace {

const QString kDeviceA = QStringLiteral("02:00:5e:00:00:0a");

RDSystemNetwork testAdapter()
{
    for (const RDSystemNetwork& network : RDSystemNetwork::networks())
        if (network.name() == TestDeviceSim::interfaceName())
            return network;
    return RDSystemNetwork();
}

double secondsSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

class ZAVezeNetns : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString reason = TestDeviceSim::unavailableReason();
        SONARIS_REQUIRE_PEER(reason.isEmpty(), reason.toStdString());
        adapter = testAdapter();
        ASSERT_EQ(adapter.mac(), adapterMac());
        ASSERT_EQ(adapter.ipBytes(), adapterIp());
        ASSERT_TRUE(TestDeviceSim::reset());
        ASSERT_TRUE(TestDeviceSim::clearLog());
    }

    void startTool()
    {
        tool.setNetwork(adapter);
        tool.start();
        tool.beginJob();
        ASSERT_TRUE(pumpUntil([&] { return tool.isOpen(); }, 5000)) << tool.capture().lastError().toStdString();
    }

    int command(const QString& method, const QJsonObject& members = QJsonObject(), double seconds = 3.0,
                ZAVezeReply* reply = nullptr)
    {
        return runOnWorker([&] { return tool.request(deviceMac(), deviceIp(), method, members, reply, seconds); });
    }

    RDSystemNetwork adapter;
    ZAVeze tool;
};

// Records what the capture hands over.
class Recorder : public QPcapObserver
{
public:
    void onPacket(QPcap*, const QByteArray& frame) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        frames.append(frame);
    }
    bool sawLength(int length)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const QByteArray& frame : frames)
            if (frame.size() == length)
                return true;
        return false;
    }
    std::mutex mutex;
    QList<QByteArray> frames;
};

} // namespace

TEST_F(ZAVezeNetns, RoundTripWithTheSimulatedDevice)
{
    startTool();
    ZAVezeReply reply;
    ASSERT_EQ(command("SetName", {{"name", "Lobby"}}, 3.0, &reply), 0);
    EXPECT_EQ(reply.senderMac, deviceMac());
    EXPECT_EQ(reply.json.value("method").toString(), QString("SetName"));

    // The simulator decoded the frame with its own code: strict header checks, the body equal
    // to its own compact key-sorted encoding, and byte for byte what the codec builds.
    const QJsonObject entry = TestDeviceSim::waitForLog(
        [](const QJsonObject& e) { return e.value("body").toObject().value("method") == "SetName"; });
    ASSERT_FALSE(entry.isEmpty());
    EXPECT_EQ(entry.value("verdict").toString(), QString("ok"));
    EXPECT_TRUE(entry.value("canonical").toBool());
    const QJsonObject body = entry.value("body").toObject();
    EXPECT_EQ(body.value("name").toString(), QString("Lobby"));
    const QByteArray expected = ZAVezeFrame::build(deviceMac(), deviceIp(), adapterMac(), adapterIp(),
                                                   ZAVezeFrame::jsonText(body));
    EXPECT_EQ(entry.value("hex").toString().toLatin1(), expected.toHex());

    // State kept across requests.
    const QJsonObject state = TestDeviceSim::command({{"cmd", "state"}, {"mac", kDeviceA}});
    EXPECT_EQ(state.value("info").toObject().value("name").toString(), QString("Lobby"));
}

TEST_F(ZAVezeNetns, RoundTripsFollowEachOther)
{
    startTool();
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(command("PlayVolume"), 0) << i;
}

TEST_F(ZAVezeNetns, FailAndSilenceFailTheCommand)
{
    startTool();
    ASSERT_TRUE(TestDeviceSim::fault("SetName", {{"result", "fail"}}));
    EXPECT_EQ(command("SetName", {{"name", "x"}}), -1);
    ASSERT_TRUE(TestDeviceSim::fault("SetName", {{"drop", true}}));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(command("SetName", {{"name", "x"}}, 0.5), -1);
    EXPECT_GE(secondsSince(t0), 0.45);
    EXPECT_EQ(command("SetName", {{"name", "x"}}), 0);
}

TEST_F(ZAVezeNetns, FramesUpTo1514BytesAreDeliveredLongerOnesDropped)
{
    QPcap capture;
    Recorder recorder;
    capture.setObserver(&recorder);
    capture.setNetwork(adapter);
    capture.start();
    ASSERT_TRUE(pumpUntil([&] { return capture.isOpen(); }, 5000));
    const QJsonObject base{{"cmd", "raw"}, {"mac", kDeviceA}, {"toMac", "02:00:00:00:dd:01"}, {"toIp", "192.0.2.1"}};
    QJsonObject big = base;
    big.insert("length", 1515);
    EXPECT_EQ(TestDeviceSim::command(big).value("length").toInt(), 1515);
    QJsonObject fits = base;
    fits.insert("length", 1514);
    EXPECT_EQ(TestDeviceSim::command(fits).value("length").toInt(), 1514);
    // Sent second: once it is here the longer one had its chance.
    EXPECT_TRUE(pumpUntil([&] { return recorder.sawLength(1514); }, 5000));
    EXPECT_FALSE(recorder.sawLength(1515));
    capture.stop();
}

TEST_F(ZAVezeNetns, LateReplyIsDiscarded)
{
    startTool();
    ASSERT_TRUE(TestDeviceSim::fault("PlayVolume", {{"delay", 0.8}}));
    EXPECT_EQ(command("PlayVolume", QJsonObject(), 0.3), -1);
    // The late reply arrives and waits in the list ...
    ASSERT_TRUE(pumpUntil([&] { return tool.replyCount() == 1; }, 5000));
    // ... and the next command is not mistaken by it.
    ZAVezeReply reply;
    EXPECT_EQ(command("SetName", {{"name", "after"}}, 3.0, &reply), 0);
    EXPECT_EQ(reply.method(), QString("SetName"));
    EXPECT_EQ(tool.replyCount(), 0);
}

TEST_F(ZAVezeNetns, RequestPastItsDeadlineIsNeverSent)
{
    QPcap capture;
    capture.setNetwork(adapter);
    capture.start();
    ASSERT_TRUE(pumpUntil([&] { return capture.isOpen(); }, 5000));
    const QByteArray stale = ZAVezeFrame::build(deviceMac(), deviceIp(), adapterMac(), adapterIp(),
                                                R"({"id":901,"method":"reboot"})");
    const QByteArray fresh = ZAVezeFrame::build(deviceMac(), deviceIp(), adapterMac(), adapterIp(),
                                                R"({"id":902,"method":"PlayVolume"})");
    capture.send(stale, RDThread::tickTime() - 1);
    capture.send(fresh, RDThread::tickTime() + 5);
    const QJsonObject entry = TestDeviceSim::waitForLog(
        [](const QJsonObject& e) { return e.value("body").toObject().value("id").toInt() == 902; });
    EXPECT_FALSE(entry.isEmpty());
    for (const QJsonObject& e : TestDeviceSim::log())
        EXPECT_NE(e.value("body").toObject().value("id").toInt(), 901);
    capture.stop();
}

TEST_F(ZAVezeNetns, StartDropsFramesQueuedWhileStopped)
{
    QPcap capture;
    capture.setNetwork(adapter);
    capture.send(ZAVezeFrame::build(deviceMac(), deviceIp(), adapterMac(), adapterIp(),
                                    R"({"id":911,"method":"reboot"})"));
    capture.start();
    ASSERT_TRUE(pumpUntil([&] { return capture.isOpen(); }, 5000));
    capture.send(ZAVezeFrame::build(deviceMac(), deviceIp(), adapterMac(), adapterIp(),
                                    R"({"id":912,"method":"PlayVolume"})"));
    EXPECT_FALSE(TestDeviceSim::waitForLog([](const QJsonObject& e) {
                     return e.value("body").toObject().value("id").toInt() == 912;
                 }).isEmpty());
    for (const QJsonObject& e : TestDeviceSim::log())
        EXPECT_NE(e.value("body").toObject().value("id").toInt(), 911);
    capture.stop();
}

TEST_F(ZAVezeNetns, WaitWithTheCaptureStoppedReturnsAtOnce)
{
    startTool();
    tool.stop();
    ZAVezeReply reply;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(tool.waitReply(1, "PlayVolume", reply, 3.0), -1);
    EXPECT_EQ(tool.request(deviceMac(), deviceIp(), "PlayVolume", QJsonObject()), -1);
    EXPECT_LT(secondsSince(t0), 0.5);
    RDThread::msleep(200);
    for (const QJsonObject& e : TestDeviceSim::log())
        EXPECT_NE(e.value("body").toObject().value("method").toString(), QString("PlayVolume"));
}

TEST_F(ZAVezeNetns, MissingInterfaceIsRetriedLoggedOnceAndStoppedPromptly)
{
    TestLogFile log;
    RDSystemNetwork missing = adapter;
    missing.setName(QStringLiteral("zvnosuch0"));
    QPcap capture;
    capture.setNetwork(missing);
    capture.start();
    // Three attempts at one a second.
    RDThread::msleep(2 * QPcap::kRetryMs + 300);
    EXPECT_TRUE(capture.isRunning());
    EXPECT_FALSE(capture.isOpen());
    EXPECT_FALSE(capture.lastError().isEmpty());
    EXPECT_EQ(log.count(QStringLiteral("capture on zvnosuch0")), 1) << log.text().toStdString();
    const auto t0 = std::chrono::steady_clock::now();
    capture.stop();
    EXPECT_LT(secondsSince(t0), 1.0); // not a whole retry pause
    EXPECT_FALSE(capture.isRunning());
}

TEST_F(ZAVezeNetns, ReMadeInterfaceRecoversByItself)
{
    startTool();
    ASSERT_EQ(command("PlayVolume"), 0);
    ASSERT_TRUE(TestDeviceSim::relink(0.5));
    // The capture notices the new interface, reopens and works again without a restart.
    bool recovered = false;
    const auto t0 = std::chrono::steady_clock::now();
    while (!recovered && secondsSince(t0) < 10) {
        pumpUntil([&] { return tool.isOpen(); }, 1000);
        recovered = command("PlayVolume", QJsonObject(), 0.5) == 0;
    }
    EXPECT_TRUE(recovered) << tool.capture().lastError().toStdString();
}

TEST_F(ZAVezeNetns, FrameQueuedWhileReopeningIsSentAfterwards)
{
    QPcap capture;
    capture.setNetwork(adapter);
    capture.start();
    ASSERT_TRUE(pumpUntil([&] { return capture.isOpen(); }, 5000));
    bool relinked = false;
    std::thread unplug([&] { relinked = TestDeviceSim::relink(1.5); });
    const bool closed = pumpUntil([&] { return !capture.isOpen(); }, 5000);
    capture.send(ZAVezeFrame::build(deviceMac(), deviceIp(), adapterMac(), adapterIp(),
                                    R"({"id":921,"method":"PlayVolume"})"),
                 RDThread::tickTime() + 30);
    unplug.join();
    ASSERT_TRUE(relinked);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(TestDeviceSim::waitForLog([](const QJsonObject& e) {
                     return e.value("body").toObject().value("id").toInt() == 921;
                 }, 10000).isEmpty());
    capture.stop();
}
