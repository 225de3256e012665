#pragma once

#include "SipMessagePtr.h"
#include "SipStackShares.h"

#include <osipparser2/osip_parser.h>

#include <netinet/in.h>

#include <cstdint>
#include <string>

struct osip_transaction;

// One transaction the stack keeps beside libosip2's (its tid): a request received and the
// state of its answer, or a request sent (REGISTER, BYE) and the state of its outcome. Owned by
// the stack, under its lock; the messages it holds are its own.
class SipStackTransaction
{
public:
    enum Kind
    {
        ServerInvite,
        ServerRequest,
        ClientRegister,
        ClientBye
    };

    SipStackTransaction() = default;
    ~SipStackTransaction() = default;
    SipStackTransaction(const SipStackTransaction&) = delete;
    SipStackTransaction& operator=(const SipStackTransaction&) = delete;

    int tid = 0;
    int kind = ServerRequest;
    osip_transaction* tr = nullptr;
    // The request as received (server) or as sent (client).
    SipMessagePtr request;
    // Server: where the request came from and the address it was sent to. Client: destination.
    sockaddr_in peer{};
    in_addr local{};
    int cid = 0;
    int rid = 0;
    bool inDialog = false;
    bool appAnswers = false;
    bool finalSent = false;
    bool finalSeen = false;
    int64_t deadlineMs = 0;
    std::string toTag;
    // A request waiting for the name lookup of its destination.
    SipMessagePtr waiting;
    std::string waitHost;
    int waitPort = 0;
    // Server: counts against the share of the address the request came from.
    SipStackShares::Ticket share;
};
