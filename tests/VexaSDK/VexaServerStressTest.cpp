// The registry under load from four threads at once, as a running program sees it: clients
// arrive and drop, notifications go to all, and requests that wait for a notification to go out
// (as a channel stop does, through the channel manager's thread) arrive during purges and
// during the server's stop. Everything must end (a watchdog guards against a deadlock) and,
// under ThreadSanitizer, without a race report.
#include "FakeVexaServer.h"
#include "TestWatchdog.h"
#include "VexaServerObserver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <random>
#include <thread>

namespace {

// Plays the channel manager's event thread: jobs run one at a time, in order.
class EventThread
{
public:
    EventThread() : m_thread([this] { run(); }) {}
    ~EventThread()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    std::future<void> post(std::function<void()> job)
    {
        auto task = std::make_shared<std::packaged_task<void()>>(std::move(job));
        std::future<void> done = task->get_future();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.push_back([task] { (*task)(); });
        }
        m_changed.notify_all();
        return done;
    }

private:
    void run()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
                if (m_jobs.empty())
                    return;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            job();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_jobs;
    bool m_stop = false;
    std::thread m_thread;
};

// Answers every message, and for "stop" waits (under the observer lock, on the client's read
// thread) until the event thread has sent a notification to all clients.
class StoppingObserver : public VexaServerObserver
{
public:
    explicit StoppingObserver(EventThread& events) : m_events(events) {}

    void onClientData(VexaServer* server, const std::shared_ptr<VexaClient>& client, VexaBuffer&) override
    {
        std::future<void> sent = m_events.post([server] { server->sendToAll("{\"method\":\"RtpStopped\"}", 23); });
        if (sent.wait_for(std::chrono::seconds(20)) != std::future_status::ready)
            ++stalled;
        client->send(std::string("{\"result\":0}"));
        ++handled;
    }
    void onClientConnected(VexaServer*, const std::shared_ptr<VexaClient>&) override { ++connected; }
    void onClientDisconnected(VexaServer*, const std::shared_ptr<VexaClient>& client) override
    {
        ++disconnected;
        if (client->isRunning())
            ++announcedRunning;
    }

    std::atomic<int> handled{0};
    std::atomic<int> stalled{0};
    std::atomic<int> connected{0};
    std::atomic<int> disconnected{0};
    std::atomic<int> announcedRunning{0};

private:
    EventThread& m_events;
};

std::shared_ptr<FakeVexaClient> pick(FakeVexaServer& server, std::mt19937& random)
{
    const auto clients = server.registry().clients();
    if (clients.empty())
        return nullptr;
    return std::static_pointer_cast<FakeVexaClient>(clients[random() % clients.size()]);
}

TEST(VexaServerStress, ConnectsDropsBroadcastsAndStoppingRequestsEndWithoutDeadlock)
{
    TestWatchdog watchdog("the remote-access stress run", 90);
    EventThread events;
    StoppingObserver observer(events);
    FakeVexaServer server;
    server.addObserver(&observer);
    server.start();

    std::atomic<bool> connecting{true};
    std::atomic<bool> running{true};
    std::atomic<int> admitted{0};
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);

    std::thread listen([&] {
        // At most a dozen at once: a full list waits for the dropper, and is purged meanwhile.
        while (connecting && std::chrono::steady_clock::now() < until) {
            if (server.registry().count() >= 12)
                server.registry().purgeDisconnected();
            else if (server.connect(true))
                ++admitted;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        connecting = false;
    });
    std::thread dropper([&] {
        std::mt19937 random(1);
        while (running) {
            if (auto client = pick(server, random))
                client->setConnected(false);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    std::thread broadcaster([&] {
        while (running)
            server.sendToAll("{\"method\":\"RtpInfoChanged\"}", 27);
    });
    std::thread requester([&] {
        std::mt19937 random(2);
        while (running) {
            if (auto client = pick(server, random))
                client->post("{\"method\":\"StopRtp\",\"rtpId\":1}");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    listen.join();
    // The server stops while requests are still being handled and sent.
    server.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.stop();
    running = false;
    dropper.join();
    broadcaster.join();
    requester.join();
    watchdog.disarm();

    EXPECT_GT(admitted.load(), 12);
    EXPECT_GT(observer.handled.load(), 0);
    EXPECT_EQ(observer.stalled.load(), 0);
    EXPECT_EQ(server.registry().count(), 0);
    // Every admitted client was announced, and announced gone once, stopped first.
    EXPECT_EQ(observer.connected.load(), admitted.load());
    EXPECT_EQ(observer.disconnected.load(), admitted.load());
    EXPECT_EQ(observer.announcedRunning.load(), 0);
}

} // namespace
