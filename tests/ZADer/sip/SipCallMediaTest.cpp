#include "LayerTestUdp.h"
#include "RDThread.h"
#include "SipCall.h"
#include "SipChannel.h"
#include "SipChannelEventThread.h"
#include "SipChannelObserver.h"
#include "SipSdp.h"
#include "SipTestCall.h"
#include "SipTestDevice.h"
#include "SipTestWait.h"
#include "TestLogFile.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Records the call callbacks of a channel.
class Recorder : public SipChannelObserver
{
public:
    void onCallDtmf(const Channel&, const Call&, const SipTelephoneEvent& event) override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_dtmf.push_back(event);
    }
    void onCallStopped(const Channel&, const Call&) override { add("stopped"); }
    void onCallRemoved(const Channel&, const Call&) override { add("removed"); }

    std::vector<SipTelephoneEvent> dtmf()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_dtmf;
    }
    std::vector<std::string> events()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_events;
    }

private:
    void add(const char* what)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_events.push_back(what);
    }

    std::mutex m_mutex;
    std::vector<SipTelephoneEvent> m_dtmf;
    std::vector<std::string> m_events;
};

std::vector<uint8_t> rtp(uint8_t payloadType, uint16_t sequence, uint32_t timestamp, std::vector<uint8_t> payload)
{
    std::vector<uint8_t> packet = {0x80, payloadType, uint8_t(sequence >> 8), uint8_t(sequence),
                                   uint8_t(timestamp >> 24), uint8_t(timestamp >> 16), uint8_t(timestamp >> 8),
                                   uint8_t(timestamp), 1, 2, 3, 4};
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}


SipPayloadList audioList()
{
    SipPayloadList list = {SipSdp::makePayload("PCMU", 0, 8000, 1, SipPayload::Audio),
                           SipSdp::makePayload("PCMA", 8, 8000, 1, SipPayload::Audio),
                           SipSdp::makePayload("telephone-event", 101, 8000, 1, SipPayload::Audio)};
    list[2]->fmtp = "0-15";
    return list;
}

// A call of a channel without SIP stack, its media on loopback against a plain UDP peer.
class SipCallMediaTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_channel = std::make_shared<SipChannel>();
        m_channel->setSelf(m_channel);
        m_channel->setObserver(&m_recorder);
        m_commands.start();
        m_channel->setCommandThread(&m_commands);
        ASSERT_TRUE(m_peer.bindTo("127.0.0.1", LayerTestUdp::freeEvenPair()));
        ASSERT_TRUE(m_videoPeer.bindTo("127.0.0.1", LayerTestUdp::freeEvenPair()));
    }

    void TearDown() override
    {
        if (m_call)
            m_call->stop();
        m_channel->setCommandThread(nullptr);
        m_commands.stop();
        m_commands.wait();
    }

    // A call with both sides listing audio (PCMU, PCMA, events), and video when asked.
    std::shared_ptr<SipCall> makeCall(bool withVideo, SipPayloadList remote = audioList())
    {
        auto call = std::make_shared<SipTestCall>([this](const std::shared_ptr<SipTestDevice>& device) {
            m_device = device;
        });
        call->setSelf(call);
        call->setChannel(m_channel);
        call->cid = 77;
        auto audio = std::make_shared<SipMedia>();
        audio->type = SipMedia::Audio;
        audio->localPort = m_audioPort = LayerTestUdp::freeEvenPair();
        audio->localPayloads = audioList();
        audio->remotePayloads = remote;
        audio->remoteAddress = "127.0.0.1";
        audio->remotePort = m_peer.port();
        auto video = std::make_shared<SipMedia>();
        if (withVideo) {
            video->type = SipMedia::Video;
            video->localPort = m_videoPort = LayerTestUdp::freeEvenPair();
            video->localPayloads = {SipSdp::makePayload("H264", 97, 90000, 0, SipPayload::Video)};
            video->remotePayloads = {SipSdp::makePayload("H264", 97, 90000, 0, SipPayload::Video)};
            video->remoteAddress = "127.0.0.1";
            video->remotePort = m_videoPeer.port();
        }
        call->setMedia(audio, video);
        m_call = call;
        return call;
    }

    void sendAudio(uint8_t payloadType, std::vector<uint8_t> payload, uint32_t timestamp = 1000)
    {
        m_peer.sendTo("127.0.0.1", m_audioPort, rtp(payloadType, m_sequence++, timestamp, std::move(payload)));
    }

    Recorder m_recorder;
    SipChannelEventThread m_commands;
    std::shared_ptr<SipChannel> m_channel;
    std::shared_ptr<SipCall> m_call;
    std::shared_ptr<SipTestDevice> m_device;
    LayerTestUdp m_peer;
    LayerTestUdp m_videoPeer;
    int m_audioPort = 0;
    int m_videoPort = 0;
    uint16_t m_sequence = 1;
};

} // namespace

// What the call does with each received payload type: the receive codec is written to the
// device, an event is reported as DTMF and not written, a listed codec is followed, anything
// else is dropped.
TEST_F(SipCallMediaTest, ReceivedPayloadTypes)
{
    TestLogFile log;
    auto call = makeCall(false);
    ASSERT_TRUE(call->start());
    EXPECT_EQ(call->state, SipCall::Established);
    ASSERT_TRUE(m_device);
    EXPECT_EQ(m_device->sendPayloadType(), 0);
    EXPECT_EQ(m_device->recvPayloadHistory(), std::vector<int>({0}));

    sendAudio(0, std::vector<uint8_t>(160, 0xFF));
    ASSERT_TRUE(SipTestWait::until([&] { return m_device->writes() == 1; }, 2000));

    // RFC 4733: event 1, end, volume 10, duration 800; the timestamp is the header's.
    sendAudio(101, {0x01, 0x8A, 0x03, 0x20}, 0x01020304);
    ASSERT_TRUE(SipTestWait::until([&] { return m_recorder.dtmf().size() == 1; }, 2000));
    const SipTelephoneEvent event = m_recorder.dtmf()[0];
    EXPECT_EQ(event.eventId, 1);
    EXPECT_EQ(event.end, 1);
    EXPECT_EQ(event.volume, 10);
    EXPECT_EQ(event.duration, 800);
    EXPECT_EQ(event.timestamp, 0x01020304u);
    EXPECT_EQ(m_device->writes(), 1);
    EXPECT_EQ(call->audioMedia()->recvPayload->payloadType, 0);
    EXPECT_TRUE(log.waitFor("drop audio data len = 4 from payload 101"));

    // The caller switches to PCMA, which both sides listed.
    sendAudio(8, std::vector<uint8_t>(160, 0xD5));
    ASSERT_TRUE(SipTestWait::until([&] { return m_device->writes() == 2; }, 2000));
    EXPECT_TRUE(log.waitFor("reset remote audio payload from 0 to 8"));
    EXPECT_EQ(call->audioMedia()->recvPayload->payloadType, 8);
    EXPECT_EQ(m_device->recvPayloadHistory(), std::vector<int>({0, -1, 8}));

    // A type nobody listed changes nothing.
    sendAudio(18, std::vector<uint8_t>(20, 0));
    EXPECT_TRUE(log.waitFor("drop audio data len = 20 from payload 18"));
    EXPECT_EQ(m_device->writes(), 2);
    EXPECT_EQ(call->audioMedia()->recvPayload->payloadType, 8);

    // And the call answers with silence of its send codec, read from the device at its pace.
    EXPECT_TRUE(SipTestWait::until([&] { return m_device->reads() > 0; }, 2000));
    const std::vector<uint8_t> silence = m_peer.receive(1000);
    ASSERT_EQ(silence.size(), 12u + 160u);
    EXPECT_EQ(silence[1] & 0x7F, 0);
    EXPECT_EQ(silence[12], 0xFF);
}

// No media for the (lowered) audio time-out ends the call through the command thread; a call
// whose video stops but whose audio goes on keeps running.
TEST_F(SipCallMediaTest, DataTimeouts)
{
    auto call = makeCall(true);
    call->setDataTimeouts(0.5, 0.3);
    ASSERT_TRUE(call->start());
    ASSERT_TRUE(call->videoSession());
    // Audio every 50 ms for 1 s; video never.
    for (int i = 0; i < 20; ++i) {
        sendAudio(0, std::vector<uint8_t>(160, 0xFF), uint32_t(160 * i));
        RDThread::msleep(50);
    }
    EXPECT_TRUE(call->isMediaRunning());
    EXPECT_NE(call->state, SipCall::Terminated);
    EXPECT_TRUE(m_recorder.events().empty());

    // Now the audio stops too.
    ASSERT_TRUE(SipTestWait::until([&] { return m_recorder.events().size() == 2; }, 3000));
    EXPECT_EQ(m_recorder.events(), std::vector<std::string>({"stopped", "removed"}));
    EXPECT_EQ(call->state, SipCall::Terminated);
    EXPECT_FALSE(call->isMediaRunning());
    EXPECT_FALSE(call->device());
}

// Media that cannot start: the call fails (state 6) and logs it; stopping twice is harmless.
TEST_F(SipCallMediaTest, StartFailures)
{
    TestLogFile log;
    // Nothing described by the remote side.
    auto call = makeCall(false);
    call->audioMedia()->type = SipMedia::Undescribed;
    EXPECT_FALSE(call->start());
    EXPECT_EQ(call->state, SipCall::Terminated);
    EXPECT_TRUE(log.waitFor("call (77) failure"));

    // Only telephone events in common.
    call = makeCall(false, {SipSdp::makePayload("telephone-event", 101, 8000, 1, SipPayload::Audio),
                            SipSdp::makePayload("GSM", 3, 8000, 1, SipPayload::Audio)});
    EXPECT_FALSE(call->start());
    EXPECT_EQ(call->state, SipCall::Terminated);
    EXPECT_FALSE(call->isMediaRunning());
    call->stop();
    call->stop();
    EXPECT_FALSE(call->device());

    // The base call has no device: no media.
    SipCall plain;
    EXPECT_FALSE(plain.start());
}
