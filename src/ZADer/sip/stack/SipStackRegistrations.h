#pragma once

#include "SipCredentials.h"
#include "SipRegistration.h"

#include <osipparser2/osip_parser.h>

#include <map>
#include <memory>

class SipStack;
class SipStackTransaction;

// The stack's registrations (RFC 3261 10.2): each rid's REGISTER context, its sending, the
// outcome of each REGISTER as an event, the one retry a 423 asks for, and the credentials its
// challenges are answered with. Under the stack lock; REGISTERs leave through the stack.
class SipStackRegistrations
{
public:
    using Tx = SipStackTransaction;

    explicit SipStackRegistrations(SipStack& stack) : m_stack(stack) {}
    SipStackRegistrations(const SipStackRegistrations&) = delete;
    SipStackRegistrations& operator=(const SipStackRegistrations&) = delete;

    // SipStack::registerBuildInitial, registerSend, registerBuild and registerRemove.
    int buildInitial(const char* from, const char* registrar, const char* contact, int expires,
                     osip_message_t** registerMessage);
    int send(int rid, osip_message_t* registerMessage);
    int build(int rid, int expires, osip_message_t** registerMessage);
    int remove(int rid);

    // A final answer to a REGISTER transaction (taken over; 1xx are dropped).
    void handleResponse(Tx* tx, osip_message_t* response);
    // A REGISTER transaction ended without a final answer.
    void failed(Tx* tx);
    // Null for an unknown rid.
    const SipRegistration* find(int rid) const;
    // Forgets every registration and every credential.
    void clear();
    SipCredentials& credentials() { return m_credentials; }

private:
    osip_message_t* next(SipRegistration* reg, int expires);
    int transmit(SipRegistration* reg, osip_message_t* message);

    SipStack& m_stack;
    std::map<int, std::unique_ptr<SipRegistration>> m_registrations;
    SipCredentials m_credentials;
};
