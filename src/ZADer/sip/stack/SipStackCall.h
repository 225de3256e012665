#pragma once

#include "SipMessagePtr.h"
#include "SipStackShares.h"

#include <osipparser2/osip_parser.h>

#include <netinet/in.h>

#include <cstdint>
#include <string>

struct osip_dialog;

// One call the stack answers (its cid and did): the INVITE that made it, its dialog, the BYE
// it may hold back, and the last 2xx to an INVITE with its retransmission until the ACK
// (RFC 3261 13.3.1.4). Owned by the stack, under its lock; the messages it holds are its own.
class SipStackCall
{
public:
    enum State
    {
        Early,
        Confirmed,
        Ending
    };

    SipStackCall() = default;
    ~SipStackCall();
    SipStackCall(const SipStackCall&) = delete;
    SipStackCall& operator=(const SipStackCall&) = delete;

    int cid = 0;
    int did = 0;
    int state = Early;
    osip_dialog* dialog = nullptr;
    std::string localTag;
    SipMessagePtr invite;
    int inviteTid = 0;
    sockaddr_in peer{};
    in_addr local{};
    int localCseq = 0;
    int reinviteTid = 0;
    bool byeHeld = false;
    int byeTid = 0;
    // The last 2xx to an INVITE of this dialog: sent again for a repeated INVITE, and
    // retransmitted until the ACK while okWaitingAck.
    std::string okBytes;
    sockaddr_in okPeer{};
    int okCseq = -1;
    int okTid = 0;
    SipMessagePtr okInvite;
    bool okWaitingAck = false;
    int okIntervalMs = 0;
    int64_t okNextMs = 0;
    int64_t okDeadlineMs = 0;
    // Counts against the share of the address the INVITE came from.
    SipStackShares::Ticket share;
};
