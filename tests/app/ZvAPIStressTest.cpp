// The remote-access layer and the application under load from four threads at once: clients
// arrive and drop, notifications go to all, and requests start and stop a real channel (whose
// notifications come back through the server from the manager's thread) during purges and
// during the server's stop. Everything must end (a watchdog guards against a deadlock) and,
// under ThreadSanitizer, without a race report.
#include "SonarisRemoteFixture.h"

#include "../VexaSDK/TestWatchdog.h"

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

namespace {

class ZvAPIStressTest : public SonarisRemoteFixture
{
};

TEST_F(ZvAPIStressTest, RequestsThatStopAChannelDuringPurgesAndStopEndWithoutDeadlock)
{
    const RtpInfo channel = storeChannel(QStringLiteral("stress"), 1, 30);
    const std::string start = R"({"method":"StartRtp","rtpId":)" + std::to_string(channel.id) + "}";
    const std::string stop = R"({"method":"StopRtp","rtpId":)" + std::to_string(channel.id) + "}";

    TestWatchdog watchdog("the remote request stress run", 150);
    std::atomic<bool> connecting{true};
    std::atomic<bool> running{true};
    std::atomic<int> admitted{0};
    std::atomic<int> posted{0};
    // Three seconds of churn as a rule; on a machine loaded far beyond its cores the threads may
    // get too little of them to cycle the list, so arrivals go on (up to a minute) until more
    // clients were admitted than the list holds, which is what proves the purge makes room.
    const auto startTime = std::chrono::steady_clock::now();
    const auto until = startTime + std::chrono::milliseconds(3000);
    const auto giveUp = startTime + std::chrono::seconds(60);
    auto keepConnecting = [&] {
        const auto now = std::chrono::steady_clock::now();
        return now < until || (admitted.load() <= 8 && now < giveUp);
    };

    auto pick = [&](std::mt19937& random) -> std::shared_ptr<FakeVexaClient> {
        const auto clients = server.registry().clients();
        if (clients.empty())
            return nullptr;
        return std::static_pointer_cast<FakeVexaClient>(clients[random() % clients.size()]);
    };

    std::thread listen([&] {
        // At most eight at once: a full list waits for the dropper, and is purged meanwhile.
        while (connecting && keepConnecting()) {
            if (server.registry().count() >= 8)
                server.registry().purgeDisconnected();
            else if (server.connect(true))
                ++admitted;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::thread dropper([&] {
        std::mt19937 random(1);
        while (running) {
            if (auto client = pick(random))
                client->setConnected(false);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::thread broadcaster([&] {
        while (running) {
            server.sendToAll("{\"method\":\"Ping\"}", 17);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::thread requester([&] {
        std::mt19937 random(2);
        while (running) {
            if (auto client = pick(random)) {
                client->post(random() % 2 ? start : stop);
                client->post(R"({"method":"GetRtp"})");
                posted += 2;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    listen.join();
    // The server stops (as when the API is switched off) while requests are still in flight.
    server.stop();
    running = false;
    dropper.join();
    broadcaster.join();
    requester.join();
    RtpManager::instance()->stopRtpInfo(channel, RtpInfo::kSourceAll, RtpInfo::kTriggerManual);
    watchdog.disarm();

    EXPECT_GT(admitted.load(), 8);
    EXPECT_GT(posted.load(), 0);
    EXPECT_EQ(server.registry().count(), 0);
    // The channel's runs were logged as pairs of starts and stops, nothing half-done.
    int starts = 0;
    int stops = 0;
    for (const QString& row : logRows()) {
        starts += row.startsWith(QStringLiteral("%1,0,").arg(channel.id));
        stops += row.startsWith(QStringLiteral("%1,1,").arg(channel.id));
    }
    EXPECT_GT(starts, 0);
    EXPECT_LE(stops, starts);
}

} // namespace
