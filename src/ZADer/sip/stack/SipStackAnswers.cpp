#include "SipStackAnswers.h"

#include "RDIpv4.h"
#include "SipMessage.h"
#include "SipStack.h"
#include "SipStackCall.h"
#include "SipStackTransaction.h"

#include <osip2/osip.h>
#include <osip2/osip_dialog.h>

#include <arpa/inet.h>

#include <string>

namespace {

const char* const kAllow = "INVITE, ACK, CANCEL, BYE, OPTIONS, INFO, UPDATE, NOTIFY, MESSAGE";
// An INVITE that the application has answered with a provisional response may ring this long.
constexpr int kRingingLimitMs = 180000;

} // namespace

osip_message_t* SipStackAnswers::buildResponse(const osip_message_t* request, int status, const std::string& toTag)
{
    osip_message_t* response = nullptr;
    if (osip_message_init(&response) != 0)
        return nullptr;
    osip_message_set_version(response, osip_strdup("SIP/2.0"));
    osip_message_set_status_code(response, status);
    const char* reason = osip_message_get_reason(status);
    osip_message_set_reason_phrase(response, osip_strdup(reason && *reason ? reason : "Unknown"));
    for (int i = 0; !osip_list_eol(&request->vias, i); ++i) {
        osip_via_t* copy = nullptr;
        if (osip_via_clone(static_cast<osip_via_t*>(osip_list_get(&request->vias, i)), &copy) == 0)
            osip_list_add(&response->vias, copy, -1);
    }
    if (request->from)
        osip_from_clone(request->from, &response->from);
    if (request->to) {
        osip_to_clone(request->to, &response->to);
        if (response->to && !toTag.empty() && !SipMessage::tagOf(response->to))
            osip_to_set_tag(response->to, osip_strdup(toTag.c_str()));
    }
    if (request->call_id)
        osip_call_id_clone(request->call_id, &response->call_id);
    if (request->cseq)
        osip_cseq_clone(request->cseq, &response->cseq);
    if (!m_stack.m_userAgent.empty())
        osip_message_set_header(response, "User-Agent", m_stack.m_userAgent.c_str());
    return response;
}

std::string SipStackAnswers::toTagFor(Tx* tx, Call* call)
{
    if (SipMessage::tagOf(tx->request->to))
        return std::string();
    if (call)
        return call->localTag;
    if (tx->toTag.empty())
        tx->toTag = m_stack.randomHex(8);
    return tx->toTag;
}

void SipStackAnswers::answer(Tx* tx, int status, const char* extraName, const char* extraValue)
{
    auto it = m_stack.m_calls.find(tx->cid);
    osip_message_t* response = buildResponse(tx->request.get(), status, toTagFor(tx, it == m_stack.m_calls.end() ? nullptr : it->second.get()));
    if (!response)
        return;
    if (status == 405 || status == 501)
        osip_message_set_header(response, "Allow", kAllow);
    if (extraName)
        osip_message_set_header(response, extraName, extraValue);
    sendResponse(tx, response);
}

void SipStackAnswers::sendResponse(Tx* tx, osip_message_t* response)
{
    if (!tx->tr) {
        osip_message_free(response);
        return;
    }
    if (response->status_code >= 200)
        tx->finalSent = true;
    osip_event_t* event = osip_new_outgoing_sipmessage(response);
    if (!event) {
        osip_message_free(response);
        return;
    }
    osip_transaction_add_event(tx->tr, event);
    m_stack.wake();
}

void SipStackAnswers::sendStateless(osip_message_t* request, int status, const sockaddr_in& to)
{
    osip_message_t* response = buildResponse(request, status, m_stack.randomHex(8));
    if (!response)
        return;
    char* text = nullptr;
    size_t length = 0;
    if (osip_message_to_str(response, &text, &length) == 0 && text)
        m_stack.m_transport.send(text, length, to);
    if (text)
        osip_free(text);
    osip_message_free(response);
}

void SipStackAnswers::contactAddressFor(const sockaddr_in& peer, const in_addr& local, in_addr* ip, int* port)
{
    if (!m_stack.localAddressFor(ipv4Text(peer.sin_addr), ntohs(peer.sin_port), peer.sin_addr, ip, port) &&
        local.s_addr != htonl(INADDR_ANY))
        *ip = local; // the address the request was sent to
}

void SipStackAnswers::addContact(osip_message_t* message, const std::string& user, const in_addr& ip, int port)
{
    osip_contact_t* contact = nullptr;
    osip_uri_t* uri = nullptr;
    if (osip_contact_init(&contact) != 0)
        return;
    if (osip_uri_init(&uri) != 0) {
        osip_contact_free(contact);
        return;
    }
    osip_uri_set_scheme(uri, osip_strdup("sip"));
    if (!user.empty())
        osip_uri_set_username(uri, osip_strdup(user.c_str()));
    osip_uri_set_host(uri, osip_strdup(ipv4Text(ip).c_str()));
    osip_uri_set_port(uri, osip_strdup(std::to_string(port).c_str()));
    contact->url = uri;
    osip_list_add(&message->contacts, contact, -1);
}

int SipStackAnswers::answerTarget(int tid, bool forCall, Tx** found, Call** foundCall)
{
    auto it = m_stack.m_txs.find(tid);
    if (it == m_stack.m_txs.end())
        return OSIP_NOTFOUND;
    Tx* tx = it->second.get();
    const bool server = tx->kind == Tx::ServerInvite || tx->kind == Tx::ServerRequest;
    const bool ofCall = tx->kind == Tx::ServerInvite || tx->inDialog;
    if (!server || ofCall != forCall)
        return OSIP_BADPARAMETER;
    Call* call = nullptr;
    if (forCall) {
        auto callIt = m_stack.m_calls.find(tx->cid);
        if (callIt == m_stack.m_calls.end())
            return OSIP_NOTFOUND;
        call = callIt->second.get();
    }
    if (tx->finalSent || !tx->tr)
        return OSIP_WRONG_STATE;
    *found = tx;
    *foundCall = call;
    return 0;
}

int SipStackAnswers::buildAnswer(int tid, int status, osip_message_t** answer, bool forCall)
{
    if (!answer)
        return OSIP_BADPARAMETER;
    *answer = nullptr;
    if (status < 101 || status > 699)
        return OSIP_BADPARAMETER;
    Tx* tx = nullptr;
    Call* call = nullptr;
    const int result = answerTarget(tid, forCall, &tx, &call);
    if (result != 0)
        return result;
    osip_message_t* response = buildResponse(tx->request.get(), status, toTagFor(tx, call));
    if (!response)
        return OSIP_NOMEM;
    if (tx->kind == Tx::ServerInvite && status < 300) {
        in_addr ip{};
        int port = 0;
        contactAddressFor(tx->peer, tx->local, &ip, &port);
        const char* user = tx->request->req_uri ? tx->request->req_uri->username : nullptr;
        addContact(response, user ? user : "", ip, port);
        SipMessage::copyRecordRoutes(tx->request.get(), &response->record_routes);
    }
    if (status >= 200 && status < 300 && (tx->kind == Tx::ServerInvite || SipMessage::isMethod(tx->request.get(), "OPTIONS")))
        osip_message_set_header(response, "Allow", kAllow);
    if (status >= 200 && status < 300 && SipMessage::isMethod(tx->request.get(), "OPTIONS"))
        osip_message_set_header(response, "Accept", "application/sdp");
    *answer = response;
    return 0;
}

int SipStackAnswers::takeAnswer(int tid, int status, osip_message_t** answer, bool forCall, Tx** tx, Call** call)
{
    const int result = answerTarget(tid, forCall, tx, call);
    if (result != 0) {
        if (*answer)
            osip_message_free(*answer);
        *answer = nullptr;
        return result;
    }
    if (!*answer) {
        const int built = buildAnswer(tid, status, answer, forCall);
        if (built != 0)
            return built;
    }
    if ((*answer)->status_code < 101 || (*answer)->status_code > 699) {
        osip_message_free(*answer);
        *answer = nullptr;
        return OSIP_BADPARAMETER;
    }
    return 0;
}

int SipStackAnswers::sendAnswer(int tid, int status, osip_message_t* answer, bool forCall)
{
    Tx* tx = nullptr;
    Call* call = nullptr;
    const int result = takeAnswer(tid, status, &answer, forCall, &tx, &call);
    if (result != 0)
        return result;
    const int code = answer->status_code;
    if (!forCall || tx->kind != Tx::ServerInvite) {
        sendResponse(tx, answer);
        return 0;
    }
    if (code >= 200 && code < 300) {
        call->okCseq = SipMessage::cseqOf(tx->request.get());
        call->okTid = tid;
        call->okInvite.reset(SipMessage::clone(tx->request.get()));
        call->okBytes.clear();
        call->okWaitingAck = true;
        if (tid == call->inviteTid) {
            call->state = Call::Confirmed;
            if (call->dialog)
                osip_dialog_set_state(call->dialog, DIALOG_CONFIRMED);
        } else if (call->reinviteTid == tid) {
            call->reinviteTid = 0;
        }
        sendResponse(tx, answer);
        return 0;
    }
    if (code >= 300) {
        sendResponse(tx, answer);
        if (tid == call->inviteTid)
            m_stack.releaseCall(call);
        else if (call->reinviteTid == tid)
            call->reinviteTid = 0;
        return 0;
    }
    tx->deadlineMs = m_stack.nowMs() + kRingingLimitMs;
    sendResponse(tx, answer);
    return 0;
}

void SipStackAnswers::okSent(Tx* tx, const char* bytes, size_t size)
{
    auto it = m_stack.m_calls.find(tx->cid);
    if (it == m_stack.m_calls.end() || it->second->okTid != tx->tid)
        return;
    Call* call = it->second.get();
    call->okBytes.assign(bytes, size);
    call->okPeer = tx->peer;
    call->okIntervalMs = m_stack.m_t1;
    const int64_t now = m_stack.nowMs();
    call->okNextMs = now + m_stack.m_t1;
    call->okDeadlineMs = now + 64LL * m_stack.m_t1;
}
