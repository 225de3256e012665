#include "SipStackRegistrations.h"

#include "RDLog.h"
#include "SipMessage.h"
#include "SipStack.h"
#include "SipStackTransaction.h"
#include "SipText.h"

#include <cstdlib>
#include <memory>
#include <string>

void SipStackRegistrations::handleResponse(Tx* tx, osip_message_t* response)
{
    const int status = response->status_code;
    if (status < 200) {
        osip_message_free(response);
        return;
    }
    tx->finalSeen = true;
    auto it = m_registrations.find(tx->rid);
    if (it == m_registrations.end() || it->second->pendingTid != tx->tid) {
        osip_message_free(response); // removed meanwhile: its outcome is dropped
        return;
    }
    SipRegistration* reg = it->second.get();
    reg->pending = false;
    reg->pendingTid = 0;
    if (status == 423) {
        const char* minimum = SipMessage::headerValue(response, "min-expires");
        const int raised = minimum ? std::atoi(minimum) : 0;
        if (reg->consecutive423 == 0 && raised > reg->expires) {
            // The registrar asks for a longer lifetime: ask again at once with it.
            ++reg->consecutive423;
            RDLOG("registrar wants an expiry of %d s (asked %d), registering again", raised, reg->expires);
            reg->expires = raised;
            osip_message_free(response);
            osip_message_t* raisedRegister = next(reg, reg->expires);
            if (raisedRegister && transmit(reg, raisedRegister) == 0)
                return;
            response = nullptr;
        }
    }
    reg->consecutive423 = status == 423 ? reg->consecutive423 : 0;
    if (status == 401 || status == 407)
        reg->keepChallenge(response);
    const bool success = status >= 200 && status < 300;
    auto* event = m_stack.makeEvent(success ? SipStackEvent::RegistrationSuccess : SipStackEvent::RegistrationFailure,
                            success ? "Registration succeeded" : "Registration failed");
    event->rid = reg->rid;
    event->request = SipMessage::clone(tx->request.get());
    event->response = response;
    m_stack.pushEvent(event);
}

osip_message_t* SipStackRegistrations::next(SipRegistration* reg, int expires)
{
    return reg->next(expires, m_credentials, [this] { return m_stack.randomHex(8); });
}

int SipStackRegistrations::transmit(SipRegistration* reg, osip_message_t* message)
{
    osip_uri_t* uri = message->req_uri;
    const int port = uri ? SipMessage::portOf(uri->port, 5060) : -1;
    if (!uri || !uri->host || !*uri->host || port < 0 || !message->cseq) {
        osip_message_free(message);
        return OSIP_BADPARAMETER;
    }
    const std::string host = uri->host;
    int cseq = 0;
    if (SipMessage::parseCseq(message->cseq->number, &cseq))
        reg->cseq = cseq;
    reg->keepLast(message);
    auto tx = std::make_unique<Tx>();
    tx->tid = SipStack::nextId();
    tx->kind = Tx::ClientRegister;
    tx->rid = reg->rid;
    tx->request.reset(SipMessage::clone(message));
    Tx* raw = tx.get();
    m_stack.m_txs[raw->tid] = std::move(tx);
    reg->pending = true;
    reg->pendingTid = raw->tid;
    return m_stack.transmit(raw, message, host, port);
}

int SipStackRegistrations::buildInitial(const char* from, const char* registrar, const char* contact, int expires,
                           osip_message_t** registerMessage)
{
    if (!registerMessage)
        return OSIP_BADPARAMETER;
    *registerMessage = nullptr;
    if (!from || !registrar || expires < 0)
        return OSIP_BADPARAMETER;
    if (SipText::hasControl(from) || SipText::hasControl(registrar) || SipText::hasControl(contact)) {
        RDLOG("REGISTER refused: a control character in its address texts");
        return OSIP_SYNTAXERROR;
    }
    osip_uri_t* uri = nullptr;
    if (osip_uri_init(&uri) != 0)
        return OSIP_NOMEM;
    if (osip_uri_parse(uri, registrar) != 0 || !uri->host || !*uri->host || SipMessage::portOf(uri->port, 5060) < 0) {
        RDLOG("REGISTER refused: registrar %s is not a SIP URI", registrar);
        osip_uri_free(uri);
        return OSIP_SYNTAXERROR;
    }
    osip_message_t* message = nullptr;
    if (osip_message_init(&message) != 0) {
        osip_uri_free(uri);
        return OSIP_NOMEM;
    }
    osip_message_set_method(message, osip_strdup("REGISTER"));
    osip_message_set_version(message, osip_strdup("SIP/2.0"));
    osip_message_set_uri(message, uri);
    const auto refuse = [&](const char* what, const char* text) {
        RDLOG("REGISTER refused: %s %s does not parse", what, text);
        osip_message_free(message);
        return OSIP_SYNTAXERROR;
    };
    if (osip_message_set_from(message, from) != 0 || !message->from || !message->from->url ||
        !message->from->url->host || SipMessage::portOf(message->from->url->port, 5060) < 0)
        return refuse("address", from);
    if (osip_message_set_to(message, from) != 0 || !message->to)
        return refuse("address", from);
    osip_from_set_tag(message->from, osip_strdup(m_stack.randomHex(8).c_str()));
    osip_message_set_call_id(message, m_stack.randomHex(16).c_str());
    osip_message_set_cseq(message, "1 REGISTER");
    osip_message_set_max_forwards(message, "70");
    if (!m_stack.m_userAgent.empty())
        osip_message_set_header(message, "User-Agent", m_stack.m_userAgent.c_str());
    osip_message_set_header(message, "Expires", std::to_string(expires).c_str());
    const bool autoContact = !contact || !*contact;
    if (!autoContact) {
        osip_contact_t* parsed = nullptr;
        if (osip_message_set_contact(message, contact) != 0 || osip_message_get_contact(message, 0, &parsed) < 0 ||
            !parsed || !parsed->url || !parsed->url->host)
            return refuse("contact", contact);
    }
    auto reg = std::make_unique<SipRegistration>();
    reg->rid = SipStack::nextId();
    reg->expires = expires;
    reg->cseq = 1;
    reg->autoContact = autoContact;
    reg->last = SipMessage::clone(message);
    const int rid = reg->rid;
    m_registrations[rid] = std::move(reg);
    *registerMessage = message;
    return rid;
}

int SipStackRegistrations::send(int rid, osip_message_t* registerMessage)
{
    auto it = m_registrations.find(rid);
    const int refused = it == m_registrations.end() ? OSIP_NOTFOUND
                        : it->second->pending      ? OSIP_WRONG_STATE
                        : !m_stack.m_listening             ? OSIP_NO_NETWORK
                                                   : 0;
    if (refused != 0) {
        if (registerMessage)
            osip_message_free(registerMessage);
        return refused;
    }
    SipRegistration* reg = it->second.get();
    if (!registerMessage) {
        registerMessage = next(reg, reg->expires);
        if (!registerMessage)
            return OSIP_NOMEM;
    }
    reg->consecutive423 = 0;
    return transmit(reg, registerMessage);
}

int SipStackRegistrations::build(int rid, int expires, osip_message_t** registerMessage)
{
    if (!registerMessage)
        return OSIP_BADPARAMETER;
    *registerMessage = nullptr;
    auto it = m_registrations.find(rid);
    if (it == m_registrations.end())
        return OSIP_NOTFOUND;
    if (it->second->pending)
        return OSIP_WRONG_STATE;
    if (expires < 0)
        return OSIP_BADPARAMETER;
    it->second->expires = expires;
    *registerMessage = next(it->second.get(), expires);
    return *registerMessage ? 0 : OSIP_NOMEM;
}

int SipStackRegistrations::remove(int rid)
{
    return m_registrations.erase(rid) ? 0 : OSIP_NOTFOUND;
}

void SipStackRegistrations::failed(Tx* tx)
{
    auto it = m_registrations.find(tx->rid);
    if (it == m_registrations.end() || it->second->pendingTid != tx->tid)
        return;
    it->second->pending = false;
    it->second->pendingTid = 0;
    auto* failed = m_stack.makeEvent(SipStackEvent::RegistrationFailure, "Registration failed: no answer");
    failed->rid = tx->rid;
    failed->request = SipMessage::clone(tx->request ? tx->request.get() : tx->waiting.get());
    m_stack.pushEvent(failed);
}

const SipRegistration* SipStackRegistrations::find(int rid) const
{
    auto it = m_registrations.find(rid);
    return it == m_registrations.end() ? nullptr : it->second.get();
}

void SipStackRegistrations::clear()
{
    m_registrations.clear();
    m_credentials.clear();
}
