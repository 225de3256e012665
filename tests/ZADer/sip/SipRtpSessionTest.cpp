#include "LayerTestUdp.h"
#include "RDThread.h"
#include "SipMedia.h"
#include "SipPacket.h"
#include "SipRtpSession.h"
#include "SipRtpSessionObserver.h"
#include "SipSdp.h"
#include "SipTestWait.h"
#include "TestLogFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Hands out a number of 20 ms PCMU frames and records what the session reports.
class Observer : public SipRtpSessionObserver
{
public:
    explicit Observer(int frames = 0, double duration = 0.02) : m_frames(frames), m_duration(duration) {}

    SipPacket* getPacket(SipRtpSession*) override
    {
        if (m_given >= m_frames)
            return nullptr;
        const std::vector<uint8_t> bytes(160, static_cast<uint8_t>(m_given++));
        return SipPacket::copy(0, bytes.data(), 160, m_duration);
    }
    void onReadPacket(SipRtpSession*, const uint8_t*, int, const uint8_t* payload, int length, uint32_t) override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_read.emplace_back(payload, payload + length);
    }
    void onDataTimeout(SipRtpSession*) override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_timeouts.push_back(RDThread::tickTime());
    }
    void onDurationLimit(SipRtpSession*) override { ++m_limits; }

    std::vector<std::vector<uint8_t>> read()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_read;
    }
    std::vector<double> timeouts()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_timeouts;
    }
    std::atomic<int> m_limits{0};

private:
    const int m_frames;
    const double m_duration;
    std::atomic<int> m_given{0};
    std::mutex m_mutex;
    std::vector<std::vector<uint8_t>> m_read;
    std::vector<double> m_timeouts;
};

std::shared_ptr<SipMedia> pcmuMedia(int localPort, const std::string& remoteIp, int remotePort)
{
    auto media = std::make_shared<SipMedia>();
    media->type = SipMedia::Audio;
    media->localPort = localPort;
    media->remoteAddress = remoteIp;
    media->remotePort = remotePort;
    media->sendPayload = SipSdp::makePayload("PCMU", 0, 8000, 1, SipPayload::Audio);
    media->recvPayload = media->sendPayload;
    return media;
}

std::vector<uint8_t> rtp(uint8_t payloadType, uint16_t sequence, uint32_t timestamp, uint8_t fill, size_t size = 160)
{
    std::vector<uint8_t> packet(12 + size, fill);
    packet[0] = 0x80;
    packet[1] = payloadType;
    packet[2] = uint8_t(sequence >> 8);
    packet[3] = uint8_t(sequence);
    for (int i = 0; i < 4; ++i)
        packet[4 + i] = uint8_t(timestamp >> (24 - 8 * i));
    packet[8] = 0x11;
    packet[9] = packet[10] = packet[11] = 0x22;
    return packet;
}


} // namespace

TEST(SipRtpSessionTest, Increments)
{
    EXPECT_EQ(SipRtpSession::defaultIncrementFor(8000, 1, 20), 160u);
    EXPECT_EQ(SipRtpSession::defaultIncrementFor(48000, 2, 20), 1920u);
    EXPECT_EQ(SipRtpSession::defaultIncrementFor(8000, 0, 20), 160u);
}

// 20 ms frames leave at the pace of their durations, never faster, with timestamps 160 apart;
// a packet time of 0 means 20 ms; stopping sends the RTCP BYE to the destination's port + 1.
TEST(SipRtpSessionTest, PacedSendingAndBye)
{
    LayerTestUdp peer;
    ASSERT_TRUE(peer.bindTo("127.0.0.1", LayerTestUdp::freeEvenPair()));
    LayerTestUdp peerRtcp;
    ASSERT_TRUE(peerRtcp.bindTo("127.0.0.1", peer.port() + 1));
    constexpr int kFrames = 25;
    Observer observer(kFrames);
    SipRtpSession session;
    session.setObserver(&observer);
    // Arrivals on the nanosecond clock; a reading can only come late, never early.
    const double started = RDThread::monotonicTime();
    ASSERT_EQ(session.start(pcmuMedia(LayerTestUdp::freeEvenPair(), "127.0.0.1", peer.port()), 0), 0);
    EXPECT_EQ(session.packetTime(), 20);
    EXPECT_EQ(session.defaultIncrement(), 160u);

    std::vector<double> arrivals;
    std::vector<std::vector<uint8_t>> packets;
    while (static_cast<int>(packets.size()) < kFrames) {
        std::vector<uint8_t> packet = peer.receive(2000);
        ASSERT_FALSE(packet.empty()) << "after " << packets.size() << " packets";
        arrivals.push_back(RDThread::monotonicTime());
        packets.push_back(packet);
    }
    for (int i = 1; i < kFrames; ++i) {
        EXPECT_EQ(packets[i][1] & 0x7F, 0);
        EXPECT_EQ(LayerTestUdp::read32(&packets[i][4]) - LayerTestUdp::read32(&packets[i - 1][4]), 160u);
        EXPECT_EQ(uint16_t(LayerTestUdp::read16(&packets[i][2]) - LayerTestUdp::read16(&packets[i - 1][2])), 1);
        EXPECT_EQ(packets[i][12], i);
        // Never ahead of the schedule counted from the start (a burst would put whole frames
        // ahead); the slack is for the clocks alone.
        EXPECT_GE(arrivals[i] - started, i * 0.02 - 0.002) << i;
    }
    // Nor from the first packet: a late start does not make up for itself with a burst. The
    // slack covers a late reading of the first arrival on a loaded 2-core machine.
    const double span = arrivals.back() - arrivals.front();
    EXPECT_GE(span, (kFrames - 1) * 0.02 - 0.1) << "ahead of the schedule";
    EXPECT_LT(span, (kFrames - 1) * 0.02 * 5) << "far behind the schedule";

    session.stop();
    bool bye = false;
    for (std::vector<uint8_t> report = peerRtcp.receive(1000); !report.empty() && !bye;
         report = peerRtcp.receive(1000)) {
        for (size_t at = 0; at + 4 <= report.size(); at += 4 * (LayerTestUdp::read16(&report[at + 2]) + 1u)) {
            if (report[at + 1] == 203)
                bye = true;
        }
    }
    EXPECT_TRUE(bye) << "no RTCP BYE on the destination's port + 1";
}

// Without incoming RTP the time-out is reported once per period; RTP keeps it away.
TEST(SipRtpSessionTest, DataTimeoutRepeats)
{
    LayerTestUdp peer;
    ASSERT_TRUE(peer.bindTo("127.0.0.1", LayerTestUdp::freeEvenPair()));
    Observer observer;
    SipRtpSession session;
    session.setObserver(&observer);
    session.setDataTimeout(0.3);
    const int local = LayerTestUdp::freeEvenPair();
    const double started = RDThread::tickTime();
    ASSERT_EQ(session.start(pcmuMedia(local, "127.0.0.1", peer.port()), 20), 0);
    RDThread::msleep(1050);
    std::vector<double> timeouts = observer.timeouts();
    ASSERT_GE(timeouts.size(), 2u);
    ASSERT_LE(timeouts.size(), 3u);
    EXPECT_GT(timeouts[0] - started, 0.3);
    for (size_t i = 1; i < timeouts.size(); ++i)
        EXPECT_GT(timeouts[i] - timeouts[i - 1], 0.29);

    // RTP every 50 ms for 0.8 s: no time-out meanwhile.
    const size_t before = observer.timeouts().size();
    for (int i = 0; i < 16; ++i) {
        peer.sendTo("127.0.0.1", local, rtp(0, uint16_t(i), uint32_t(160 * i), 0xFF));
        RDThread::msleep(50);
    }
    EXPECT_LE(observer.timeouts().size(), before + 1) << "one may have been due as the stream began";
    EXPECT_GE(observer.read().size(), 14u);
    session.stop();
}

// RTP is taken from the address the description named; a second source is dropped and logged
// while that address sends.
TEST(SipRtpSessionTest, ForeignSourceDropped)
{
    TestLogFile log;
    LayerTestUdp described;
    ASSERT_TRUE(described.bindTo("127.0.0.1", LayerTestUdp::freeEvenPair()));
    LayerTestUdp intruder;
    ASSERT_TRUE(intruder.bindTo("127.0.0.3", 0));
    Observer observer;
    SipRtpSession session;
    session.setObserver(&observer);
    const int local = LayerTestUdp::freeEvenPair();
    ASSERT_EQ(session.start(pcmuMedia(local, "127.0.0.1", described.port()), 20), 0);
    for (int i = 0; i < 20; ++i) {
        described.sendTo("127.0.0.1", local, rtp(0, uint16_t(i), uint32_t(160 * i), 0xAA));
        intruder.sendTo("127.0.0.1", local, rtp(0, uint16_t(i), uint32_t(160 * i), 0xBB));
        RDThread::msleep(10);
    }
    ASSERT_TRUE(SipTestWait::until([&] { return observer.read().size() >= 20; }, 2000));
    RDThread::msleep(100);
    const auto read = observer.read();
    EXPECT_EQ(read.size(), 20u);
    for (const auto& payload : read)
        EXPECT_EQ(payload[0], 0xAA);
    EXPECT_EQ(session.remoteTarget(), "127.0.0.1:" + std::to_string(described.port())) << "not latched";
    session.stop();
    EXPECT_TRUE(log.waitFor("drop rtp from 127.0.0.3:")) << log.text().toStdString();
}

// A caller behind NAT: the described address never sends, another source does. The session
// latches to it, takes its RTP and sends there; a re-described address is followed again.
TEST(SipRtpSessionTest, LatchesBehindNat)
{
    TestLogFile log;
    LayerTestUdp nat;
    ASSERT_TRUE(nat.bindTo("127.0.0.4", 0));
    Observer observer(1000);
    SipRtpSession session;
    session.setObserver(&observer);
    const int local = LayerTestUdp::freeEvenPair();
    ASSERT_EQ(session.start(pcmuMedia(local, "127.0.0.5", LayerTestUdp::freeEvenPair()), 20), 0);
    nat.sendTo("127.0.0.1", local, rtp(0, 1, 160, 0xCC));
    ASSERT_TRUE(SipTestWait::until([&] { return observer.read().size() == 1; }, 2000));
    std::vector<uint8_t> answer = nat.receive(1000);
    ASSERT_FALSE(answer.empty()) << "nothing sent to the latched source";
    EXPECT_EQ(session.remoteTarget(), "127.0.0.4:" + std::to_string(nat.port()));
    EXPECT_TRUE(log.waitFor("rtp latched to 127.0.0.4:" + QString::number(nat.port())));

    // A re-INVITE names a new address: RTP goes there.
    LayerTestUdp moved;
    ASSERT_TRUE(moved.bindTo("127.0.0.1", LayerTestUdp::freeEvenPair()));
    ASSERT_EQ(session.retarget("127.0.0.1", moved.port()), 0);
    EXPECT_FALSE(moved.receive(1000).empty());
    session.stop();
}

// A session that cannot bind its port does not run.
TEST(SipRtpSessionTest, StartFailures)
{
    LayerTestUdp taken;
    ASSERT_TRUE(taken.bindTo("0.0.0.0", LayerTestUdp::freeEvenPair()));
    TestLogFile log;
    Observer observer;
    SipRtpSession session;
    session.setObserver(&observer);
    EXPECT_EQ(session.start(nullptr, 20), -1);
    EXPECT_EQ(session.start(pcmuMedia(taken.port(), "127.0.0.1", 4000), 20), -1);
    EXPECT_FALSE(session.isRunning());
    EXPECT_TRUE(log.waitFor("rtp session create "));
    auto media = pcmuMedia(LayerTestUdp::freeEvenPair(), "127.0.0.1", 4000);
    media->sendPayload.reset();
    EXPECT_EQ(session.start(media, 20), -1);
}
