#pragma once

#include <osipparser2/osip_message.h>

// One event of the SIP stack, handed out by SipStack::eventWait and released with
// SipStack::eventFree (which frees the message clones). Ids are 0 where they do not apply.
struct SipStackEvent
{
    // The event types by the numbers the SIP agent's log shows. Types marked "never" belong to
    // calls and requests this agent does not place, and are never produced.
    enum Type : int {
        RegistrationSuccess = 0,      // rid, request (the REGISTER sent), response
        RegistrationFailure = 1,      // rid, request, response (none when unanswered)
        CallInvite = 2,               // cid, did, tid, request, response (our 100 Trying)
        CallReinvite = 3,             // cid, did, tid, request
        CallNoAnswer = 4,             // never
        CallProceeding = 5,           // never
        CallRinging = 6,              // never
        CallAnswered = 7,             // never
        CallRedirected = 8,           // never
        CallRequestFailure = 9,       // never
        CallServerFailure = 10,       // never
        CallGlobalFailure = 11,       // never
        CallAck = 12,                 // cid, did, tid (of the INVITE), request (the INVITE), ack
        CallCancelled = 13,           // cid, did, tid (of the INVITE)
        CallMessageNew = 14,          // cid, did, tid, request
        CallMessageProceeding = 15,   // 1xx to our BYE: cid, did, tid, request, response
        CallMessageAnswered = 16,     // 2xx to our BYE
        CallMessageRedirected = 17,   // 3xx to our BYE
        CallMessageRequestFailure = 18, // 4xx to our BYE
        CallMessageServerFailure = 19,  // 5xx to our BYE
        CallMessageGlobalFailure = 20,  // 6xx to our BYE
        CallClosed = 21,              // cid, did (request: the BYE received, when there was one)
        CallReleased = 22,            // cid, did: the call context is gone
        MessageNew = 23,              // tid, request (out of dialog)
        MessageProceeding = 24,       // never
        MessageAnswered = 25,         // never
        MessageRedirected = 26,       // never
        MessageRequestFailure = 27,   // never
        MessageServerFailure = 28,    // never
        MessageGlobalFailure = 29,    // never
    };

    SipStackEvent() = default;
    ~SipStackEvent();
    SipStackEvent(const SipStackEvent&) = delete;
    SipStackEvent& operator=(const SipStackEvent&) = delete;

    Type type = RegistrationSuccess;
    char textinfo[256] = {};
    int tid = 0;
    int did = 0;
    int rid = 0;
    int cid = 0;
    int sid = 0;
    int nid = 0;
    osip_message_t* request = nullptr;
    osip_message_t* response = nullptr;
    osip_message_t* ack = nullptr;
};
