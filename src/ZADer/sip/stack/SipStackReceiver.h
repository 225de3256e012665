#pragma once

#include "SipStackEvent.h"

#include <osipparser2/osip_parser.h>

#include <netinet/in.h>

#include <cstddef>

class SipStack;
class SipStackCall;
class SipStackTransaction;
struct osip_event;

// The stack's receive path: a datagram becomes an answer to a response's transaction, or a
// server transaction with, where the application answers, an event. It works on the stack's
// transactions and calls; everything runs under the stack lock on the thread that reads the
// socket (or injects a datagram).
class SipStackReceiver
{
public:
    explicit SipStackReceiver(SipStack& stack) : m_stack(stack) {}
    SipStackReceiver(const SipStackReceiver&) = delete;
    SipStackReceiver& operator=(const SipStackReceiver&) = delete;

    // One datagram from from, sent to local: CRLF keep-alives and what does not parse are
    // dropped (400 when a Via is usable).
    void handleDatagram(const char* data, size_t size, const sockaddr_in& from, const in_addr& local);

private:
    using Tx = SipStackTransaction;
    using Call = SipStackCall;

    static bool wellFormed(osip_message_t* message);
    // A new request gets a transaction only within its address's share and the stack's table;
    // otherwise it is refused at once: a 503 while the stateless budget allows, else dropped.
    bool admit(osip_message_t* request, const sockaddr_in& from);
    // A 503 outside any transaction when the budget allows: whether it was sent.
    bool refuse(osip_message_t* request, const sockaddr_in& from);
    void handleRequest(osip_event* event, const sockaddr_in& from, const in_addr& local);
    void handleNewInvite(osip_event* event, const sockaddr_in& from, const in_addr& local);
    void handleCancel(osip_event* event, const sockaddr_in& from, const in_addr& local);
    void handleInDialog(osip_event* event, Call* call, const sockaddr_in& from, const in_addr& local);
    void handleOutOfDialog(osip_event* event, const sockaddr_in& from, const in_addr& local);
    void handleDialogAck(osip_message_t* ack);

    // The steps of a request in a dialog.
    void inDialogInvite(Tx* tx, Call* call);
    void inDialogBye(Tx* tx, Call* call);
    // The request is the application's to answer: the dialog takes its CSeq, the event goes out.
    void acceptInDialog(Tx* tx, Call* call, SipStackEvent::Type type, const char* text);

    Tx* createServerTx(osip_event* event, int kind, const sockaddr_in& from, const in_addr& local);
    Call* findDialog(osip_message_t* request);
    Call* findCallByInvite(osip_message_t* invite);
    Call* newCall(osip_message_t* invite, const sockaddr_in& from, const in_addr& local);
    // A repeated INVITE of the call's last 2xx gets that 2xx again: whether it was one.
    bool resendOk(Call* call, osip_message_t* invite);

    SipStack& m_stack;
};
