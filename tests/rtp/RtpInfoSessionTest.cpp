#include "RtpInfoSession.h"
#include "RtpPortManager.h"
#include "RtpSessionDouble.h"
#include "RtpSessionFakeReader.h"
#include "RtpSessionFakeSources.h"
#include "RtpSessionReceiver.h"
#include "RtpSessionRecorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <deque>
#include <future>
#include <map>
#include <random>
#include <thread>

namespace {

RtpInfo channel(int port, int codec = 0)
{
    return RtpSessionFakeSources::channel(port, codec);
}
void sleepMs(int ms)
{
    RtpSessionFakeSources::sleepMs(ms);
}
bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    return RtpSessionFakeSources::waitUntil(condition, timeoutMs);
}

class RtpInfoSessionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!RtpPortManager::instance())
            RtpPortManager::createInstance();
        ASSERT_TRUE(receiver.start());
    }
    void TearDown() override { RtpPortManager::destroyInstance(); }

    RtpSessionReceiver receiver;
    RtpSessionRecorder recorder;
    RtpSessionFakeSources sources;
};

} // namespace

TEST(RtpInfoSessionCodecTest, PayloadTypesAndClocks)
{
    struct Row
    {
        int codec, sourcePayloadType, payloadType, clockRate, channels;
    };
    const Row rows[] = {{0, 0, 0, 8000, 1},    {1, 8, 8, 8000, 1},    {2, 9, 9, 8000, 1},  {3, 14, 14, 44100, 2},
                        {4, 11, 11, 44100, 1}, {5, 10, 10, 44100, 2}, {9, -1, 0, 8000, 1}, {-1, -1, 0, 8000, 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.codec);
        EXPECT_EQ(RtpInfoSession::codecPayloadType(row.codec), row.sourcePayloadType);
        const RtpInfoSession::Codec codec = RtpInfoSession::codec(row.codec);
        EXPECT_EQ(codec.payloadType, row.payloadType);
        EXPECT_EQ(codec.clockRate, row.clockRate);
        EXPECT_EQ(codec.channels, row.channels);
    }
}

// Every codec: the payload type from the table, the timestamp advancing by the packet's samples
// at the RTP clock, the sequence by one, one SSRC; the sources told the payload type to deliver.
TEST_F(RtpInfoSessionTest, HeadersFollowTheCodec)
{
    struct Row
    {
        int codec, told, payloadType;
        double duration;
        int bytes;
        uint32_t step;
    };
    const Row rows[] = {{0, 0, 0, 0.02, 160, 160},
                        {1, 8, 8, 0.02, 160, 160},
                        {2, 9, 9, 0.02, 160, 160},
                        {3, 14, 14, 1152.0 / 44100, 421, 1152},
                        {4, 11, 11, 220.0 / 44100, 440, 220},
                        {5, 10, 10, 220.0 / 44100, 880, 220},
                        {9, -1, 0, 0.02, 160, 160}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.codec);
        receiver.clear();
        sources.configure = [&](int, RtpSessionFakeReader* reader) {
            reader->duration = row.duration;
            reader->bytes = row.bytes;
            reader->limit = 12;
        };
        RtpSessionDouble session(sources.factory());
        session.setRtpInfo(channel(receiver.port(), row.codec));
        ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
        ASSERT_TRUE(receiver.waitFor(12, 3000));
        EXPECT_EQ(sources.last(1)->toldPayloadType, row.told);
        session.stopAll(RtpInfo::kTriggerApiStop);
        const auto packets = receiver.packets();
        ASSERT_EQ(packets.size(), 12u);
        for (size_t i = 0; i < packets.size(); ++i) {
            EXPECT_EQ(packets[i].payloadType, row.payloadType);
            EXPECT_FALSE(packets[i].marker);
            EXPECT_EQ(packets[i].payloadLength, std::max(row.bytes, 5));
            EXPECT_EQ(packets[i].index, int(i));
            if (i > 0) {
                EXPECT_EQ(packets[i].ssrc, packets[0].ssrc);
                EXPECT_EQ(uint16_t(packets[i].sequence - packets[i - 1].sequence), 1);
                EXPECT_EQ(packets[i].timestamp - packets[i - 1].timestamp, row.step);
            }
        }
    }
}

// A packet of no duration goes out without waiting after it and moves the timestamp by nothing;
// uneven durations move it by the rounded running sum, so no error piles up.
TEST_F(RtpInfoSessionTest, TimestampsFollowTheRoundedSum)
{
    sources.configure = [](int, RtpSessionFakeReader* reader) {
        reader->durations = {0.0199, 0.0201, 0.0, 0.0199, 0.0201};
        reader->limit = 25;
    };
    RtpSessionDouble session(sources.factory());
    session.setRtpInfo(channel(receiver.port()));
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_TRUE(receiver.waitFor(25, 3000));
    session.stopAll(RtpInfo::kTriggerApiStop);
    const auto packets = receiver.packets();
    ASSERT_EQ(packets.size(), 25u);
    double sum = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        const uint32_t advanced = packets[i].timestamp - packets[0].timestamp;
        EXPECT_EQ(advanced, uint32_t(std::llround(sum * 8000))) << "packet " << i;
        if (i % 5 == 3) {
            // The packet after the zero-duration one follows it at once, on the same timestamp.
            EXPECT_EQ(packets[i].timestamp, packets[i - 1].timestamp);
            EXPECT_LT(packets[i].arrival - packets[i - 1].arrival, 0.008);
        }
        sum += std::vector<double>{0.0199, 0.0201, 0.0, 0.0199, 0.0201}[i % 5];
    }
}

// The first filled kind in the order SIP, remote app, playlist, sound card, stream, bell wins
// every pass: a bell under a playlist is read and discarded, and once the playlist stops it is
// heard from where it got to.
TEST_F(RtpInfoSessionTest, PlaylistSilencesTheBellUntilItStops)
{
    sources.configure = [](int kind, RtpSessionFakeReader* reader) {
        reader->paced = kind == RtpInfo::kSourceBell;
    };
    RtpSessionDouble session(sources.factory());
    session.setObserver(&recorder);
    session.setRtpInfo(channel(receiver.port()));
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_EQ(session.startSource(RtpInfo::kSourceBell, RtpInfo::kTriggerSchedule), 0);
    EXPECT_EQ(session.currentSource(), RtpInfo::kSourcePlaylist);
    EXPECT_EQ(session.currentStartedType(), 1);
    EXPECT_TRUE(session.hasSource(RtpInfo::kSourceBell));
    EXPECT_EQ(session.startSource(RtpInfo::kSourceBell, RtpInfo::kTriggerSchedule), -1) << "a kind already present";
    ASSERT_TRUE(receiver.waitFor(40, 3000));
    RtpSessionFakeReader* bell = sources.last(32);
    EXPECT_GT(bell->handed.load(), 20) << "the bell goes on in real time, silenced";

    session.stopSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerApiStop);
    EXPECT_EQ(session.currentSource(), RtpInfo::kSourceBell);
    EXPECT_EQ(session.currentStartedType(), 3);
    const int before = receiver.count();
    ASSERT_TRUE(receiver.waitFor(before + 10, 3000));
    session.stopAll(RtpInfo::kTriggerApiStop);

    const auto packets = receiver.packets();
    int firstBell = -1;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (firstBell < 0 && packets[i].tag == 32)
            firstBell = int(i);
        if (firstBell >= 0)
            EXPECT_EQ(packets[i].tag, 32) << "nothing of the stopped playlist after the bell began";
        else
            EXPECT_EQ(packets[i].tag, 1);
        if (i > 0) {
            EXPECT_EQ(packets[i].ssrc, packets[0].ssrc);
            EXPECT_EQ(packets[i].timestamp - packets[i - 1].timestamp, 160u);
        }
    }
    ASSERT_GE(firstBell, 40);
    EXPECT_GT(packets[size_t(firstBell)].index, 20) << "the bell resumes mid-file, not from its start";
    EXPECT_EQ(recorder.changed, 1);
    EXPECT_EQ(recorder.started, 1);
    EXPECT_EQ(recorder.finished, 1);
}

// Playlist, then a SIP call, then the playlist again raises two changes (the first packet none).
// While the call's source has no packet ready nothing is sent, and the playlist packet read on
// that pass is lost.
TEST_F(RtpInfoSessionTest, SipCallTakesOverAndHandsBack)
{
    RtpSessionDouble session(sources.factory());
    session.setObserver(&recorder);
    session.setRtpInfo(channel(receiver.port()));
    EXPECT_EQ(session.startSource(RtpInfo::kSourceSip, RtpInfo::kTriggerSip), -1) << "no SIP call on the channel";
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_TRUE(receiver.waitFor(5, 3000));
    EXPECT_EQ(recorder.changed, 0);

    auto call = std::make_shared<RtpSessionFakeReader>(64);
    call->readyEvery = 3;
    session.setSipCall(true, call);
    ASSERT_EQ(session.startSource(RtpInfo::kSourceSip, RtpInfo::kTriggerSip), 0);
    EXPECT_EQ(session.currentSource(), RtpInfo::kSourceSip);
    EXPECT_EQ(session.currentStartedType(), 4);
    const int before = receiver.count();
    ASSERT_TRUE(receiver.waitFor(before + 15, 3000));
    const int playlistRead = sources.last(1)->handed;
    session.stopSource(RtpInfo::kSourceSip, RtpInfo::kTriggerSip);
    EXPECT_EQ(session.sipCallsEnded, 1);
    EXPECT_FALSE(call->stopped) << "the call owns and stops its source";
    const int after = receiver.count();
    ASSERT_TRUE(receiver.waitFor(after + 5, 3000));
    session.stopAll(RtpInfo::kTriggerApiStop);
    EXPECT_EQ(session.sipCallsEnded, 1) << "the slot was empty by then";

    const auto packets = receiver.packets();
    int sip = 0, lastPlaylistIndex = -1, playlistGap = 0;
    for (const auto& p : packets) {
        if (p.tag == 64) {
            ++sip;
        } else {
            if (lastPlaylistIndex >= 0 && p.index > lastPlaylistIndex + 1)
                playlistGap = p.index - lastPlaylistIndex - 1;
            lastPlaylistIndex = p.index;
        }
    }
    EXPECT_GE(sip, 15);
    // Every SIP packet came on a pass where the call had one; the playlist lost what it gave
    // during the call, its own packets and those of the passes the call had none.
    EXPECT_GE(playlistGap, sip);
    EXPECT_GE(playlistRead, sip);
    EXPECT_EQ(recorder.changed, 2);
}

TEST_F(RtpInfoSessionTest, OnlyChannelKindsStart)
{
    RtpSessionDouble session(sources.factory());
    session.setObserver(&recorder);
    session.setRtpInfo(channel(receiver.port()));
    for (int kind : {2, 4, 0, 247, -1, 99}) {
        EXPECT_EQ(session.startSource(kind, RtpInfo::kTriggerManual), -1) << kind;
        EXPECT_EQ(session.currentSource(), 0);
        EXPECT_FALSE(session.hasSource(kind));
        // A send loop was started all the same; with no source it ends on its first pass.
        ASSERT_TRUE(waitUntil([&] { return !session.isSending(); }, 2000));
    }
    ASSERT_TRUE(waitUntil([&] { return recorder.finished.load() == recorder.started.load(); }, 2000));
    EXPECT_GE(recorder.started, 1);
    const int finished = recorder.finished;
    session.stopAll(RtpInfo::kTriggerApiStop);
    EXPECT_EQ(recorder.finished, finished) << "an ended loop reports once";
    EXPECT_EQ(receiver.count(), 0);
}

// A source that will not start is stopped and dropped; a remote-app source needs a talk client.
TEST_F(RtpInfoSessionTest, FailedStartsAreDropped)
{
    std::atomic<bool> deleted{false};
    sources.configure = [&](int, RtpSessionFakeReader* reader) {
        reader->failStart = true;
        reader->watchDeletion(&deleted);
    };
    RtpSessionDouble session(sources.factory());
    session.setObserver(&recorder);
    session.setRtpInfo(channel(receiver.port()));
    EXPECT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), -1);
    EXPECT_TRUE(deleted);
    EXPECT_FALSE(session.hasSource(RtpInfo::kSourcePlaylist));
    sources.configure = nullptr;
    RtpSessionDouble plain;
    plain.setRtpInfo(channel(receiver.port()));
    EXPECT_EQ(plain.startSource(RtpInfo::kSourceSdk, RtpInfo::kTriggerApi), -1) << "no talk client";
    plain.stopAll(RtpInfo::kTriggerApiStop);
    session.stopAll(RtpInfo::kTriggerApiStop);
}

// A loop whose only source finishes ends by itself and says so once; the BYE follows the stop.
// A start after that begins a new loop.
TEST_F(RtpInfoSessionTest, LoopEndsWhenItsSourceFinishes)
{
    sources.configure = [](int, RtpSessionFakeReader* reader) { reader->limit = 5; };
    RtpSessionDouble session(sources.factory());
    session.setObserver(&recorder);
    session.setRtpInfo(channel(receiver.port()));
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_TRUE(waitUntil([&] { return recorder.finished.load() == 1; }, 3000));
    EXPECT_FALSE(session.isSending());
    EXPECT_EQ(receiver.count(), 5);
    sleepMs(50);
    EXPECT_EQ(recorder.finished, 1);
    EXPECT_EQ(receiver.byes(), 0);

    // The finished source is still in its slot until it is stopped; a new kind restarts the loop.
    ASSERT_EQ(session.startSource(RtpInfo::kSourceBell, RtpInfo::kTriggerSchedule), 0);
    ASSERT_TRUE(waitUntil([&] { return recorder.finished.load() == 2; }, 3000));
    EXPECT_EQ(recorder.started, 2);
    EXPECT_TRUE(receiver.waitForBye(2000)) << "the first loop's RTP session ended with a BYE";
    EXPECT_EQ(receiver.count(), 10);

    session.stopAll(RtpInfo::kTriggerApiStop);
    EXPECT_EQ(recorder.finished, 2);
    EXPECT_EQ(session.currentSource(), 0);
}

// stopAll on a busy loop returns promptly, the BYE reaches the channel's RTCP port, and nothing
// follows it.
TEST_F(RtpInfoSessionTest, StopAllIsPromptAndSaysBye)
{
    std::atomic<bool> deleted{false};
    sources.configure = [&](int, RtpSessionFakeReader* reader) { reader->watchDeletion(&deleted); };
    RtpSessionDouble session(sources.factory());
    session.setObserver(&recorder);
    session.setRtpInfo(channel(receiver.port()));
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_TRUE(receiver.waitFor(10, 3000));
    const auto begin = std::chrono::steady_clock::now();
    session.stopAll(RtpInfo::kTriggerApiStop);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_LT(took, 0.05);
    EXPECT_TRUE(deleted);
    EXPECT_EQ(recorder.finished, 1);
    ASSERT_TRUE(receiver.waitForBye(2000));
    const int count = receiver.count();
    sleepMs(60);
    EXPECT_EQ(receiver.count(), count);
    EXPECT_EQ(session.currentSource(), 0);
    EXPECT_FALSE(session.isSending());
}

// Without an RTP session (here: no port allocator) the loop still runs its sources, and neither
// RTP nor a BYE goes out.
TEST_F(RtpInfoSessionTest, NoRtpSessionSendsNothing)
{
    RtpPortManager::destroyInstance();
    RtpSessionDouble session(sources.factory());
    session.setObserver(&recorder);
    session.setRtpInfo(channel(receiver.port()));
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_TRUE(waitUntil([&] { return sources.last(1)->handed.load() >= 10; }, 3000));
    EXPECT_TRUE(session.isSending());
    session.stopAll(RtpInfo::kTriggerApiStop);
    sleepMs(50);
    EXPECT_EQ(receiver.count(), 0);
    EXPECT_EQ(receiver.byes(), 0);
    EXPECT_EQ(receiver.rtcpCount(), 0);
}

// The RTP socket is bound to the adapter's address; an adapter address that is not one gives no
// RTP session.
TEST_F(RtpInfoSessionTest, BindsToTheAdapter)
{
    RDSystemNetwork adapter;
    adapter.setIp(QStringLiteral("127.0.0.2"));
    RtpSessionDouble session(sources.factory());
    session.setNetwork(adapter);
    session.setRtpInfo(channel(receiver.port()));
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_TRUE(receiver.waitFor(3, 3000));
    session.stopAll(RtpInfo::kTriggerApiStop);
    EXPECT_EQ(receiver.packets()[0].source, 0x7F000002u);

    receiver.clear();
    adapter.setIp(QStringLiteral("not an address"));
    session.setNetwork(adapter);
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    ASSERT_TRUE(waitUntil([&] { return sources.last(1)->handed.load() >= 5; }, 3000));
    session.stopAll(RtpInfo::kTriggerApiStop);
    EXPECT_EQ(receiver.count(), 0);
}

// A codec edited while the channel runs: sources started later deliver what the loop sends,
// and a packet of another payload type never reaches the wire.
TEST_F(RtpInfoSessionTest, RunningLoopKeepsItsCodec)
{
    sources.configure = [](int kind, RtpSessionFakeReader* reader) {
        if (kind == RtpInfo::kSourcePlaylist)
            reader->packetPayloadType = 8;
    };
    RtpSessionDouble session(sources.factory());
    session.setRtpInfo(channel(receiver.port(), 0));
    ASSERT_EQ(session.startSource(RtpInfo::kSourcePlaylist, RtpInfo::kTriggerManual), 0);
    RtpInfo edited = channel(receiver.port(), 3);
    session.setRtpInfo(edited);
    ASSERT_EQ(session.startSource(RtpInfo::kSourceBell, RtpInfo::kTriggerSchedule), 0);
    EXPECT_EQ(sources.last(32)->toldPayloadType, 0);
    sleepMs(200);
    EXPECT_EQ(receiver.count(), 0) << "the playlist's PCMA packets are dropped, and it wins every pass";
    EXPECT_GT(sources.last(1)->handed.load(), 5);
    session.stopAll(RtpInfo::kTriggerApiStop);

    ASSERT_EQ(session.startSource(RtpInfo::kSourceBell, RtpInfo::kTriggerSchedule), 0);
    EXPECT_EQ(sources.last(32)->toldPayloadType, 14) << "a new loop takes the record's codec";
    ASSERT_TRUE(receiver.waitFor(3, 3000));
    session.stopAll(RtpInfo::kTriggerApiStop);
    EXPECT_EQ(receiver.packets().back().payloadType, 14);
}

// Starts and stops from two threads, as the manager's callers make them (under a list lock),
// with an observer that queues its events to an event thread which stops finished sessions
// under the same lock: 500 cycles while packets flow, no deadlock, and every loop that started
// also finished.
TEST_F(RtpInfoSessionTest, StartStopFromTwoThreads)
{
    struct Queueing : RtpSessionRecorder
    {
        std::mutex queueMutex;
        std::deque<int> events;
        void onSessionFinished(RtpInfoSession* session) override
        {
            RtpSessionRecorder::onSessionFinished(session);
            std::lock_guard<std::mutex> lock(queueMutex);
            events.push_back(5);
        }
    } observer;
    RtpSessionDouble session(sources.factory());
    session.setObserver(&observer);
    session.setRtpInfo(channel(receiver.port()));
    std::mutex listMutex;
    std::atomic<bool> done{false};

    std::thread events([&] {
        while (!done) {
            bool stop = false;
            {
                std::lock_guard<std::mutex> lock(observer.queueMutex);
                if (!observer.events.empty()) {
                    observer.events.pop_front();
                    stop = true;
                }
            }
            if (stop) {
                std::lock_guard<std::mutex> lock(listMutex);
                session.stopAll(RtpInfo::kTriggerApi);
            } else {
                sleepMs(1);
            }
        }
    });
    auto worker = [&](int kind, unsigned seed) {
        std::mt19937 random(seed);
        for (int i = 0; i < 250; ++i) {
            {
                std::lock_guard<std::mutex> lock(listMutex);
                if (session.hasSource(kind))
                    session.stopSource(kind, RtpInfo::kTriggerManual);
                session.startSource(kind, RtpInfo::kTriggerManual);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 8000));
            std::lock_guard<std::mutex> lock(listMutex);
            switch (random() % 3) {
            case 0:
                session.stopAll(RtpInfo::kTriggerApiStop);
                break;
            case 1:
                session.stopSource(kind, RtpInfo::kTriggerApiStop);
                if (session.currentSource() == 0)
                    session.stopSend();
                break;
            default:
                break;
            }
        }
    };
    auto run = std::async(std::launch::async, [&] {
        std::thread a(worker, 1, 1u), b(worker, 32, 2u);
        a.join();
        b.join();
    });
    ASSERT_EQ(run.wait_for(std::chrono::seconds(120)), std::future_status::ready) << "deadlock";
    done = true;
    events.join();
    // Each start plays for a few milliseconds at most; a machine loaded far beyond its cores
    // sends fewer of them, but never none.
    EXPECT_GT(receiver.count(), 10) << "packets flowed meanwhile";
    session.stopAll(RtpInfo::kTriggerApiStop);
    EXPECT_EQ(observer.started.load(), observer.finished.load());
    EXPECT_GT(observer.started.load(), 100);
    EXPECT_EQ(session.currentSource(), 0);
    EXPECT_FALSE(session.isSending());
}
