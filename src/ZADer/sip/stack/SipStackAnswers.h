#pragma once

#include <osipparser2/osip_parser.h>

#include <netinet/in.h>

#include <cstddef>
#include <string>

class SipStack;
class SipStackCall;
class SipStackTransaction;

// The answers of the stack's server transactions: the ones it gives itself (100 Trying, 481,
// 487, 405 with Allow, ...) and the ones the application builds and sends, with the dialog's
// To tag, Contact (masqueraded where set), Record-Route and Allow (RFC 3261 12.1.1, 13.3.1).
// It works on the stack's transactions and calls, under the stack lock.
class SipStackAnswers
{
public:
    using Tx = SipStackTransaction;
    using Call = SipStackCall;

    explicit SipStackAnswers(SipStack& stack) : m_stack(stack) {}
    SipStackAnswers(const SipStackAnswers&) = delete;
    SipStackAnswers& operator=(const SipStackAnswers&) = delete;

    // The application's side: the default answer of status for server transaction tid, out of
    // dialog (forCall false) or of a call, for it to change; and an answer sent (null: the
    // default). OSIP_NOTFOUND, OSIP_BADPARAMETER or OSIP_WRONG_STATE when tid cannot be
    // answered so; send frees the answer then.
    int buildAnswer(int tid, int status, osip_message_t** answer, bool forCall);
    int sendAnswer(int tid, int status, osip_message_t* answer, bool forCall);

    // The stack's own answers.
    osip_message_t* buildResponse(const osip_message_t* request, int status, const std::string& toTag);
    void answer(Tx* tx, int status, const char* extraName = nullptr, const char* extraValue = nullptr);
    void sendResponse(Tx* tx, osip_message_t* response);
    // An answer outside any transaction (400 to what does not parse, 503 when full).
    void sendStateless(osip_message_t* request, int status, const sockaddr_in& to);
    // A Contact of user at ip:port.
    void addContact(osip_message_t* message, const std::string& user, const in_addr& ip, int port);
    // The transport sent a 2xx to an INVITE: its bytes are kept for retransmission until the ACK.
    void okSent(Tx* tx, const char* bytes, size_t size);

private:
    void contactAddressFor(const sockaddr_in& peer, const in_addr& local, in_addr* ip, int* port);
    // The server transaction an answer is for: out of dialog (forCall false) or of a call.
    int answerTarget(int tid, bool forCall, Tx** tx, Call** call);
    // answerTarget, and the default answer when *answer is null; frees *answer on failure.
    int takeAnswer(int tid, int status, osip_message_t** answer, bool forCall, Tx** tx, Call** call);
    std::string toTagFor(Tx* tx, Call* call);

    SipStack& m_stack;
};
