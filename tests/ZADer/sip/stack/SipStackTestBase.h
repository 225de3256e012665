#pragma once

#include "SipStack.h"
#include "SipTestPeer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// A listening stack on 0.0.0.0 (a port of the system's choice) with T1 = 50 ms, and a raw peer
// on 127.0.0.2 that speaks to it. Events are read by the test itself.
class SipStackTestBase : public ::testing::Test
{
protected:
    static constexpr int kT1 = 50;

    void SetUp() override;
    void TearDown() override;

    // The first event of that type within timeoutMs (others are kept in m_otherEvents); null
    // when none came. The caller frees it with SipStack::eventFree.
    SipStackEvent* waitEvent(int type, int timeoutMs);
    // Every event arriving within ms, types only.
    std::vector<int> drainEventTypes(int ms);

    struct Dialog
    {
        std::string callId;
        std::string fromTag;
        std::string toTag; // ours, learned from an answer
        int cseq = 1;
    };

    // A request from the peer; toTag empty = out of dialog; body sent as application/sdp unless
    // a Content-Type is among the extra headers.
    std::string request(const std::string& method, const Dialog& dialog, const std::string& branch, int cseq,
                        const std::string& extraHeaders = std::string(), const std::string& body = std::string(),
                        const std::string& cseqMethod = std::string()) const;
    // The same from another peer.
    std::string requestFrom(const SipTestPeer& peer, const std::string& method, const Dialog& dialog,
                            const std::string& branch, int cseq, const std::string& extraHeaders = std::string(),
                            const std::string& body = std::string()) const;
    static std::string offer();
    static std::string branch();

    // INVITE, 100 and event 2; returns the event (caller frees) and fills dialog.toTag.
    SipStackEvent* startCall(Dialog* dialog, const std::string& inviteBranch);
    // startCall, then a 200 with SDP from the application and the ACK; the call is confirmed.
    int confirmedCall(Dialog* dialog);
    int answer200(int tid);

    SipStackPtr m_stack;
    std::unique_ptr<SipTestPeer> m_peer;
    int m_port = 0;
    std::vector<SipStackEvent*> m_otherEvents;
};
