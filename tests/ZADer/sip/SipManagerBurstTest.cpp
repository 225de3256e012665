#include "RtpPortManager.h"
#include "RtpPortManagerScope.h"
#include "SipChannel.h"
#include "SipTestManager.h"
#include "SipTestPeer.h"
#include "SipTestWait.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kBurstAccount = 12;
constexpr int kOtherAccount = 13;
constexpr int kBurstInvites = 3000;
// The burst goes out as fast as the agent reads it: a few INVITEs whenever its socket has
// little left to read, so that all of them reach it (none is lost in the kernel's buffer) on a
// machine of any speed.
constexpr int kBurstChunk = 16;
constexpr long kBurstQueueBytes = 32 * 1024;

// The agent on 0.0.0.0 (reached as 127.0.0.1) with its default timers, two registration-off
// accounts reached by their ids at the agent's own address, answering every call.
class SipManagerBurstTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RtpPortManager::createInstance();
        RtpPortManagerScope::spread();
        m_manager = std::make_unique<SipTestManager>();
        m_manager->setLocalIp("127.0.0.1");
        for (int attempt = 0; attempt < 5 && !m_port; ++attempt) {
            const int port = SipTestPeer::freePort("0.0.0.0");
            if (m_manager->init(port, 0) == 0)
                m_port = port;
        }
        ASSERT_GT(m_port, 0);
        for (int id : {kBurstAccount, kOtherAccount}) {
            SipAccountInfo info = SipTestManager::account(id, "127.0.0.6", 5060, "desk" + std::to_string(id));
            info.mode = SipAccountInfo::kModeRegistrationOff;
            ASSERT_TRUE(m_manager->addChannel(info));
        }
    }

    void TearDown() override
    {
        m_manager.reset();
        RtpPortManager::destroyInstance();
    }

    std::string request(const std::string& method, const SipTestPeer& peer, int account, const std::string& id,
                        const std::string& body = std::string()) const
    {
        const std::string from = peer.ip() + ":" + std::to_string(peer.port());
        const std::string us = "127.0.0.1:" + std::to_string(m_port);
        std::string text = method + " sip:" + std::to_string(account) + "@" + us + " SIP/2.0\r\n";
        text += "Via: SIP/2.0/UDP " + from + ";branch=z9hG4bK" + id + ";rport\r\n";
        text += "From: <sip:caller@" + from + ">;tag=f" + id + "\r\n";
        text += "To: <sip:" + std::to_string(account) + "@" + us + ">\r\n";
        text += "Call-ID: " + id + "@" + peer.ip() + "\r\nCSeq: 1 " + method + "\r\n";
        text += "Contact: <sip:caller@" + from + ">\r\nMax-Forwards: 70\r\n";
        if (!body.empty())
            text += "Content-Type: application/sdp\r\n";
        text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        return text;
    }

    static std::string offer(const SipTestPeer& peer)
    {
        return "v=0\r\no=peer 1 1 IN IP4 " + peer.ip() + "\r\ns=-\r\nc=IN IP4 " + peer.ip() +
               "\r\nt=0 0\r\nm=audio 6000 RTP/AVP 0\r\n";
    }

    // Asks like a user agent: sends the request again every 500 ms (T1) until a final answer
    // comes or 8 s have passed; that answer's status (0 when none).
    static int ask(SipTestPeer& peer, const std::string& text, int port, std::string* answer = nullptr)
    {
        const int64_t deadline = SipTestPeer::nowMs() + 8000;
        while (SipTestPeer::nowMs() < deadline) {
            peer.send(text, port);
            const int64_t resend = SipTestPeer::nowMs() + 500;
            while (SipTestPeer::nowMs() < resend) {
                const auto datagram = peer.receive(static_cast<int>(resend - SipTestPeer::nowMs()));
                const std::string line = SipTestPeer::firstLine(datagram.text);
                if (line.rfind("SIP/2.0 ", 0) != 0 || line.rfind("SIP/2.0 1", 0) == 0)
                    continue;
                if (answer)
                    *answer = datagram.text;
                return std::stoi(line.substr(8, 3));
            }
        }
        return 0;
    }

    std::unique_ptr<SipTestManager> m_manager;
    int m_port = 0;
};

} // namespace

// 3,000 INVITEs from 127.0.0.2 that are never acknowledged, their answers going to a port that
// is closed once the burst is out. Between every 300 of them, and ten times afterwards,
// 127.0.0.3 asks OPTIONS, and halfway 127.0.0.4 places a call: each is answered, none refused.
TEST_F(SipManagerBurstTest, OtherAddressesAnsweredDuringAndAfterBurst)
{
    constexpr int askEvery = 300;
    SipTestPeer asker("127.0.0.3");
    std::vector<std::string> failures;
    int asked = 0;
    const auto askOptions = [&](const char* when) {
        const std::string text = request("OPTIONS", asker, kBurstAccount, "ask" + std::to_string(++asked));
        const int status = ask(asker, text, m_port);
        if (status != 200)
            failures.push_back("OPTIONS " + std::to_string(asked) + " " + when + " the burst: " + std::to_string(status));
    };
    {
        SipTestPeer flood("127.0.0.2");
        const std::string sdp = offer(flood);
        for (int i = 0; i < kBurstInvites; ++i) {
            flood.send(request("INVITE", flood, kBurstAccount, "burst" + std::to_string(i), sdp), m_port);
            if (i % kBurstChunk == kBurstChunk - 1)
                SipTestWait::until([&] { return SipTestPeer::receiveQueue("0.0.0.0", m_port) < kBurstQueueBytes; }, 2000);
            if (i % askEvery == askEvery - 1 && i + 1 < kBurstInvites)
                askOptions("during");
            if (i == kBurstInvites / 2) {
                SipTestPeer caller("127.0.0.4");
                const int called = ask(caller, request("INVITE", caller, kOtherAccount, "other", offer(caller)), m_port);
                if (called != 200)
                    failures.push_back("the other address's call: " + std::to_string(called));
            }
        }
    }
    for (int i = 0; i < 10; ++i)
        askOptions("after");
    EXPECT_TRUE(failures.empty()) << ::testing::PrintToString(failures);
}
