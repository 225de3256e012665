#include "RDThread.h"
#include "RtpPortManager.h"
#include "SipCall.h"
#include "SipChannel.h"
#include "SipSdp.h"
#include "SipTestManager.h"
#include "SipTestPeer.h"
#include "SipTestWait.h"
#include "TestLogFile.h"
#include "RtpPortManagerScope.h"

#include <gtest/gtest.h>

#include <osipparser2/sdp_message.h>

#include <atomic>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kAccount = 12;

// A final answer to one of our INVITEs.
struct Answer
{
    int status = 0;
    std::string message;
    std::string body;
    std::string branch;
    std::string callId;
    std::string from;
};

// Raw INVITEs from 127.0.0.2 to the agent, with the SDP of the test's choice; 200s are
// acknowledged and the calls hung up again.
class SipCallInviteTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_manager.setLocalIp("127.0.0.1");
        m_manager.setT1(50);
        m_manager.setClock([this] { return m_now.load(); });
        for (int attempt = 0; attempt < 5 && !m_port; ++attempt) {
            const int port = SipTestPeer::freePort("0.0.0.0");
            if (m_manager.init(port, 0) == 0)
                m_port = port;
        }
        ASSERT_GT(m_port, 0);
        ASSERT_TRUE(m_peer.isOpen());
    }

    void TearDown() override
    {
        m_manager.uninit();
        RtpPortManager::destroyInstance();
    }

    std::shared_ptr<SipChannel> addAccount(int mode = SipAccountInfo::kModeRegistrationOff)
    {
        SipAccountInfo info = SipTestManager::account(kAccount, "127.0.0.6", 5060, "desk");
        info.mode = mode == SipAccountInfo::kModeDoNotDisturb ? mode : SipAccountInfo::kModeRegistrationOff;
        if (mode == SipAccountInfo::kModeDoNotDisturb) {
            // Do not disturb, and no registrar to send REGISTERs to.
            info.password.clear();
        }
        return m_manager.addChannel(info);
    }

    std::string peerAddress() const { return "127.0.0.2:" + std::to_string(m_peer.port()); }
    std::string agentUri() const { return "sip:" + std::to_string(kAccount) + "@127.0.0.1:" + std::to_string(m_port); }

    // Sends an INVITE (no body when sdp is empty) and returns its final answer, acknowledged
    // unless the test does that itself.
    Answer invite(const std::string& sdp, const std::string& user = "", const std::string& display = "",
                  bool ack = true)
    {
        const int n = ++m_count;
        Answer answer;
        answer.branch = "z9hG4bKinv" + std::to_string(n) + "x" + std::to_string(SipTestPeer::nowMs());
        answer.callId = "call" + std::to_string(n) + "-" + std::to_string(SipTestPeer::nowMs()) + "@127.0.0.2";
        const std::string caller = user.empty() ? "caller" + std::to_string(n) : user;
        answer.from = (display.empty() ? "" : "\"" + display + "\" ") + "<sip:" + caller + "@" + peerAddress() +
                      ">;tag=from" + std::to_string(n);
        std::string message = "INVITE " + agentUri() + " SIP/2.0\r\nVia: SIP/2.0/UDP " + peerAddress() +
                              ";branch=" + answer.branch + ";rport\r\nFrom: " + answer.from + "\r\nTo: <" +
                              agentUri() + ">\r\nCall-ID: " + answer.callId +
                              "\r\nCSeq: 1 INVITE\r\nContact: <sip:" + caller + "@" + peerAddress() +
                              ">\r\nMax-Forwards: 70\r\n";
        if (!sdp.empty())
            message += "Content-Type: application/sdp\r\n";
        message += "Content-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
        EXPECT_TRUE(m_peer.send(message, m_port));
        for (;;) {
            const SipTestPeer::Datagram datagram = m_peer.receiveStarting("SIP/2.0 ", 3000);
            if (datagram.text.empty()) {
                ADD_FAILURE() << "no final answer to INVITE " << n;
                return answer;
            }
            const int status = std::stoi(datagram.text.substr(8, 3));
            if (status < 200 || SipTestPeer::header(datagram.text, "CSeq").find("INVITE") == std::string::npos)
                continue;
            answer.status = status;
            answer.message = datagram.text;
            const size_t end = datagram.text.find("\r\n\r\n");
            answer.body = end == std::string::npos ? std::string() : datagram.text.substr(end + 4);
            break;
        }
        if (ack)
            acknowledge(answer);
        return answer;
    }

    void acknowledge(const Answer& answer)
    {
        // A 2xx is acknowledged in the dialog (new branch), anything else in its transaction.
        const std::string branch = answer.status < 300 ? answer.branch + "ack" : answer.branch;
        m_peer.send("ACK " + agentUri() + " SIP/2.0\r\nVia: SIP/2.0/UDP " + peerAddress() + ";branch=" + branch +
                        ";rport\r\nFrom: " + answer.from + "\r\nTo: " + SipTestPeer::header(answer.message, "To") +
                        "\r\nCall-ID: " + answer.callId + "\r\nCSeq: 1 ACK\r\nMax-Forwards: 70\r\nContent-Length: 0\r\n\r\n",
                    m_port);
    }

    // Hangs up an answered call and waits for its 200.
    bool hangUp(const Answer& answer)
    {
        m_peer.send("BYE " + agentUri() + " SIP/2.0\r\nVia: SIP/2.0/UDP " + peerAddress() + ";branch=" +
                        answer.branch + "bye;rport\r\nFrom: " + answer.from + "\r\nTo: " +
                        SipTestPeer::header(answer.message, "To") + "\r\nCall-ID: " + answer.callId +
                        "\r\nCSeq: 2 BYE\r\nMax-Forwards: 70\r\nContent-Length: 0\r\n\r\n",
                    m_port);
        const SipTestPeer::Datagram ok = m_peer.receiveStarting("SIP/2.0 200", 3000);
        return !ok.text.empty();
    }

    // The channels' clock, moved by the test (declared first: the manager's threads read it).
    std::atomic<double> m_now{1000.0};
    SipTestManager m_manager;
    SipTestPeer m_peer{"127.0.0.2"};
    int m_port = 0;
    int m_count = 0;
};

std::string offer(const std::string& media)
{
    return "v=0\r\no=- 1 1 IN IP4 127.0.0.2\r\ns=-\r\nc=IN IP4 127.0.0.2\r\nt=0 0\r\n" + media;
}

// The m-lines of an answer as libosip2 reads them: "audio <port> <formats>" each, and the
// attribute lines of each.
std::string summary(const std::string& body, int* audioPort)
{
    sdp_message_t* sdp = nullptr;
    if (sdp_message_init(&sdp) != 0)
        return "init";
    std::string padded = body + std::string(16, '\0');
    if (sdp_message_parse(sdp, padded.c_str()) != 0) {
        sdp_message_free(sdp);
        return "unparsable";
    }
    std::string text;
    for (int i = 0; !osip_list_eol(&sdp->m_medias, i); ++i) {
        auto* media = static_cast<sdp_media_t*>(osip_list_get(&sdp->m_medias, i));
        const std::string kind = media->m_media ? media->m_media : "";
        const int port = media->m_port ? std::atoi(media->m_port) : -1;
        if (kind == "audio")
            *audioPort = port;
        text += kind + (port == 0 ? " 0" : "") + " " + (media->m_proto ? media->m_proto : "") + ":";
        for (int j = 0; !osip_list_eol(&media->m_payloads, j); ++j)
            text += std::string(" ") + static_cast<char*>(osip_list_get(&media->m_payloads, j));
        for (int j = 0; !osip_list_eol(&media->a_attributes, j); ++j) {
            auto* attribute = static_cast<sdp_attribute_t*>(osip_list_get(&media->a_attributes, j));
            text += std::string(" | ") + attribute->a_att_field;
            if (attribute->a_att_value)
                text += std::string(":") + attribute->a_att_value;
        }
        text += "\n";
    }
    sdp_message_free(sdp);
    return text;
}

// Whether another program could bind UDP port on any address right now.
bool canBind(int port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    const bool bound = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    if (fd >= 0)
        close(fd);
    return bound;
}

} // namespace

// The port an answer announces is the call's from the 200 on: between the 200 and the ACK no
// other program can bind its RTP or RTCP port, and the media start on it at the ACK. The end of
// the call frees it.
TEST_F(SipCallInviteTest, AnsweredPortIsHeldUntilTheAck)
{
    RtpPortManager::createInstance();
    RtpPortManagerScope::spread();
    auto channel = addAccount();
    const Answer answer = invite(offer("m=audio 4000 RTP/AVP 0\r\n"), "", "", false);
    ASSERT_EQ(answer.status, 200) << answer.message;
    int port = 0;
    summary(answer.body, &port);
    ASSERT_GT(port, 0);
    EXPECT_FALSE(canBind(port)) << "the RTP port is free between the 200 and the ACK";
    EXPECT_FALSE(canBind(port + 1)) << "the RTCP port is free between the 200 and the ACK";
    acknowledge(answer);
    ASSERT_TRUE(m_manager.waitFor("started", 1, 3000));
    ASSERT_EQ(channel->calls().size(), 1u);
    ASSERT_NE(channel->calls()[0]->audioSession(), nullptr);
    EXPECT_FALSE(canBind(port));
    EXPECT_TRUE(hangUp(answer));
    ASSERT_TRUE(m_manager.waitFor("removed", 1, 3000));
    EXPECT_TRUE(canBind(port)) << "the port is given back when the call ends";

}

// Offers and what the agent answers: a 200 whose description libosip2 reads back, or 488.
TEST_F(SipCallInviteTest, OfferTable)
{
    RtpPortManager::createInstance();
    RtpPortManagerScope::spread();
    auto channel = addAccount();
    struct Row
    {
        std::string media; // after the session lines; "-" for an INVITE without SDP
        int status;
        std::string answer; // the m-lines of the answer
        const char* why;
    };
    const Row rows[] = {
        {"m=audio 4000 RTP/AVP 0\r\n", 200, "audio RTP/AVP: 0 | rtpmap:0 PCMU/8000\n", "PCMU"},
        {"m=audio 4000 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n", 200, "audio RTP/AVP: 8 | rtpmap:8 PCMA/8000\n", "PCMA"},
        {"m=audio 4000 RTP/AVP 9\r\na=rtpmap:9 G722/8000\r\n", 200, "audio RTP/AVP: 9 | rtpmap:9 G722/8000\n", "G722"},
        {"m=audio 4000 RTP/AVP 0 8 101\r\na=rtpmap:101 telephone-event/8000\r\na=fmtp:101 0-16\r\n", 200,
         "audio RTP/AVP: 0 8 101 | rtpmap:0 PCMU/8000 | rtpmap:8 PCMA/8000 | rtpmap:101 telephone-event/8000 | "
         "fmtp:101 0-15\n",
         "with telephone-event"},
        {"m=audio 4000 RTP/AVP 0 0 8 96\r\na=rtpmap:96 PCMA/8000\r\n", 200,
         "audio RTP/AVP: 0 8 | rtpmap:0 PCMU/8000 | rtpmap:8 PCMA/8000\n", "repeated codecs"},
        {"m=audio 4000 RTP/AVP 111 0\r\na=rtpmap:111 opus/48000/2\r\n", 200,
         "audio RTP/AVP: 111 0 | rtpmap:111 opus/48000/2 | rtpmap:0 PCMU/8000\n", "opus"},
        {"m=audio 4000 RTP/AVP 0\r\na=sendonly\r\n", 200, "audio RTP/AVP: 0 | rtpmap:0 PCMU/8000 | recvonly\n",
         "a caller holding"},
        {"m=audio 4000 RTP/AVP 0\r\nm=video 5000 RTP/AVP 97\r\na=rtpmap:97 H264/90000\r\n", 200,
         "audio RTP/AVP: 0 | rtpmap:0 PCMU/8000\nvideo 0 RTP/AVP: 97\n", "video is refused, audio answered"},
        {"m=audio 4000 RTP/SAVP 0\r\na=crypto:1 AES_CM_128_HMAC_SHA1_80 inline:WVNfX19zZW1jdGwgKCkgewkyMjA7fQp9CnVubGVz\r\n",
         488, "", "RTP/SAVP"},
        {"m=video 5000 RTP/AVP 97\r\na=rtpmap:97 H264/90000\r\n", 488, "", "no audio"},
        {"-", 488, "", "no SDP"},
        {"m=audio 4000 RTP/AVP 3\r\n", 488, "", "GSM only: nothing the agent decodes"},
        {"m=audio 4000 RTP/AVP 96\r\n", 488, "", "a dynamic type without rtpmap"},
        {"m=audio 4000 RTP/AVP 101\r\na=rtpmap:101 telephone-event/8000\r\n", 488, "", "nothing but events"},
        {"m=audio 0 RTP/AVP 0\r\n", 488, "", "audio refused by the caller"},
    };
    int answered = 0;
    for (const Row& row : rows) {
        const Answer answer = invite(row.media == "-" ? std::string() : offer(row.media));
        EXPECT_EQ(answer.status, row.status) << row.why << "\n" << answer.message;
        if (answer.status != 200)
            continue;
        ++answered;
        int port = 0;
        EXPECT_EQ(summary(answer.body, &port), row.answer) << row.why;
        EXPECT_GE(port, RtpPortManager::kFirstPort) << row.why;
        EXPECT_LT(port, RtpPortManager::kEndPort) << row.why;
        EXPECT_NE(answer.body.find("c=IN IP4 127.0.0.1\r\n"), std::string::npos) << answer.body;
        EXPECT_TRUE(hangUp(answer)) << row.why;
        EXPECT_TRUE(m_manager.waitFor("removed", answered, 3000)) << row.why;
    }
    EXPECT_EQ(m_manager.count("incoming"), answered) << "a refused offer never reaches the observer";
    EXPECT_TRUE(channel->calls().empty());
}

// Who gets which answer: do not disturb 603; a repeat from the same caller within 1 s 603, later
// 486 while the first call runs; no free RTP port 503.
TEST_F(SipCallInviteTest, RefusalsBeforeAnswer)
{
    TestLogFile log;
    const std::string pcmu = offer("m=audio 4000 RTP/AVP 0\r\n");
    {
        auto channel = addAccount();
        // No port allocator: the offer cannot be given a port.
        EXPECT_EQ(invite(pcmu).status, 503);
        m_manager.removeChannel(channel);
    }
    EXPECT_EQ(m_manager.count("incoming"), 0);

    RtpPortManager::createInstance();

    RtpPortManagerScope::spread();
    auto quiet = addAccount(SipAccountInfo::kModeDoNotDisturb);
    EXPECT_EQ(invite(pcmu).status, 603);
    EXPECT_TRUE(log.waitFor("because channel is do not disturb"));
    m_manager.removeChannel(quiet);

    auto channel = addAccount();
    const Answer first = invite(pcmu, "desk12", "Desk 12");
    ASSERT_EQ(first.status, 200);
    // The channel lists the call once its observer has answered it, just after the 200 left.
    ASSERT_TRUE(SipTestWait::until([&] { return channel->calls().size() == 1u; }, 3000));
    EXPECT_EQ(channel->calls()[0]->fromName, "Desk 12");
    EXPECT_EQ(channel->calls()[0]->fromUser, "desk12");
    EXPECT_EQ(invite(pcmu, "desk12").status, 603);
    // The channel logs the refusal just after it answers.
    EXPECT_TRUE(log.waitFor("because is same call coming in 1 second"));
    m_now = m_now + 1.1;
    EXPECT_EQ(invite(pcmu, "desk12").status, 486);
    EXPECT_EQ(channel->calls().size(), 1u);
    ASSERT_TRUE(hangUp(first));
    ASSERT_TRUE(m_manager.waitFor("removed", 1, 3000));
    const Answer again = invite(pcmu, "desk12");
    EXPECT_EQ(again.status, 200);
    EXPECT_TRUE(hangUp(again));
    EXPECT_EQ(m_manager.count("incoming"), 2);
}
