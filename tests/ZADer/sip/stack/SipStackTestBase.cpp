#include "SipStackTestBase.h"

#include <atomic>
#include <cstring>

void SipStackTestBase::SetUp()
{
    m_stack = SipStack::create();
    ASSERT_NE(m_stack, nullptr);
    m_stack->setT1(kT1);
    ASSERT_EQ(m_stack->listen(17, 0), 0);
    m_port = m_stack->localPort();
    m_peer = std::make_unique<SipTestPeer>("127.0.0.2");
    ASSERT_TRUE(m_peer->isOpen());
}

void SipStackTestBase::TearDown()
{
    for (SipStackEvent* event : m_otherEvents)
        SipStack::eventFree(event);
    m_otherEvents.clear();
    m_stack.reset();
}

SipStackEvent* SipStackTestBase::waitEvent(int type, int timeoutMs)
{
    for (auto it = m_otherEvents.begin(); it != m_otherEvents.end(); ++it) {
        if ((*it)->type == type) {
            SipStackEvent* event = *it;
            m_otherEvents.erase(it);
            return event;
        }
    }
    const int64_t deadline = SipTestPeer::nowMs() + timeoutMs;
    for (;;) {
        const int64_t left = deadline - SipTestPeer::nowMs();
        if (left <= 0)
            return nullptr;
        SipStackEvent* event = m_stack->eventWait(0, static_cast<int>(left));
        if (!event)
            return nullptr;
        if (event->type == type)
            return event;
        m_otherEvents.push_back(event);
    }
}

std::vector<int> SipStackTestBase::drainEventTypes(int ms)
{
    std::vector<int> types;
    for (SipStackEvent* event : m_otherEvents) {
        types.push_back(event->type);
        SipStack::eventFree(event);
    }
    m_otherEvents.clear();
    const int64_t deadline = SipTestPeer::nowMs() + ms;
    for (;;) {
        const int64_t left = deadline - SipTestPeer::nowMs();
        if (left <= 0)
            return types;
        SipStackEvent* event = m_stack->eventWait(0, static_cast<int>(left));
        if (!event)
            continue;
        types.push_back(event->type);
        SipStack::eventFree(event);
    }
}

std::string SipStackTestBase::request(const std::string& method, const Dialog& dialog, const std::string& branch,
                                      int cseq, const std::string& extraHeaders, const std::string& body,
                                      const std::string& cseqMethod) const
{
    const std::string peer = m_peer->ip() + ":" + std::to_string(m_peer->port());
    std::string text = method + " sip:12@127.0.0.1:" + std::to_string(m_port) + " SIP/2.0\r\n";
    text += "Via: SIP/2.0/UDP " + peer + ";branch=" + branch + ";rport\r\n";
    text += "From: \"Desk 12\" <sip:caller@" + peer + ">;tag=" + dialog.fromTag + "\r\n";
    text += "To: <sip:12@127.0.0.1:" + std::to_string(m_port) + ">";
    if (!dialog.toTag.empty())
        text += ";tag=" + dialog.toTag;
    text += "\r\nCall-ID: " + dialog.callId + "\r\n";
    text += "CSeq: " + std::to_string(cseq) + " " + (cseqMethod.empty() ? method : cseqMethod) + "\r\n";
    text += "Contact: <sip:caller@" + peer + ">\r\nMax-Forwards: 70\r\n";
    text += extraHeaders;
    if (!body.empty() && extraHeaders.find("Content-Type") == std::string::npos)
        text += "Content-Type: application/sdp\r\n";
    text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return text;
}

std::string SipStackTestBase::requestFrom(const SipTestPeer& peer, const std::string& method, const Dialog& dialog,
                                          const std::string& branch, int cseq, const std::string& extraHeaders,
                                          const std::string& body) const
{
    std::string text = request(method, dialog, branch, cseq, extraHeaders, body);
    const std::string ours = m_peer->ip() + ":" + std::to_string(m_peer->port());
    const std::string theirs = peer.ip() + ":" + std::to_string(peer.port());
    for (size_t at = text.find(ours); at != std::string::npos; at = text.find(ours, at + theirs.size()))
        text.replace(at, ours.size(), theirs);
    return text;
}

std::string SipStackTestBase::offer()
{
    return "v=0\r\no=peer 1 1 IN IP4 127.0.0.2\r\ns=-\r\nc=IN IP4 127.0.0.2\r\nt=0 0\r\n"
           "m=audio 6000 RTP/AVP 0 8 101\r\na=rtpmap:101 telephone-event/8000\r\n";
}

std::string SipStackTestBase::branch()
{
    static std::atomic<int> counter{0};
    return "z9hG4bKtest" + std::to_string(++counter) + "x" + std::to_string(SipTestPeer::nowMs());
}

SipStackEvent* SipStackTestBase::startCall(Dialog* dialog, const std::string& inviteBranch)
{
    static std::atomic<int> counter{0};
    const int n = ++counter;
    if (dialog->callId.empty())
        dialog->callId = "call" + std::to_string(n) + "-" + std::to_string(SipTestPeer::nowMs()) + "@127.0.0.2";
    if (dialog->fromTag.empty())
        dialog->fromTag = "peer" + std::to_string(n);
    dialog->toTag.clear();
    EXPECT_TRUE(m_peer->send(request("INVITE", *dialog, inviteBranch, dialog->cseq, std::string(), offer()), m_port));
    const SipTestPeer::Datagram trying = m_peer->receiveStarting("SIP/2.0 100", 2000);
    EXPECT_FALSE(trying.text.empty()) << "no 100 Trying";
    SipTestPeer::headerParam(SipTestPeer::header(trying.text, "To"), "tag", &dialog->toTag);
    EXPECT_FALSE(dialog->toTag.empty()) << trying.text;
    SipStackEvent* event = waitEvent(SipStackEvent::CallInvite, 2000);
    EXPECT_NE(event, nullptr);
    return event;
}

int SipStackTestBase::answer200(int tid)
{
    m_stack->lock();
    osip_message_t* answer = nullptr;
    int result = m_stack->callBuildAnswer(tid, 200, &answer);
    if (result == 0) {
        const std::string sdp = "v=0\r\no=us 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                                "m=audio 40000 RTP/AVP 0\r\n";
        osip_message_set_body(answer, sdp.c_str(), sdp.size());
        osip_message_set_content_type(answer, "application/sdp");
        result = m_stack->callSendAnswer(tid, 200, answer);
    }
    m_stack->unlock();
    return result;
}

int SipStackTestBase::confirmedCall(Dialog* dialog)
{
    const std::string inviteBranch = branch();
    SipStackEvent* incoming = startCall(dialog, inviteBranch);
    if (!incoming)
        return 0;
    const int cid = incoming->cid;
    EXPECT_EQ(answer200(incoming->tid), 0);
    SipStack::eventFree(incoming);
    EXPECT_FALSE(m_peer->receiveStarting("SIP/2.0 200", 2000).text.empty());
    m_peer->send(request("ACK", *dialog, branch(), dialog->cseq), m_port);
    SipStackEvent* acked = waitEvent(SipStackEvent::CallAck, 2000);
    EXPECT_NE(acked, nullptr);
    SipStack::eventFree(acked);
    return cid;
}
