#include "SipStackReceiver.h"

#include "RDIpv4.h"
#include "RDLog.h"
#include "SipMessage.h"
#include "SipStack.h"
#include "SipStackAnswers.h"
#include "SipStackCall.h"
#include "SipStackTransaction.h"

#include <osip2/osip.h>
#include <osip2/osip_dialog.h>

#include <arpa/inet.h>

#include <cstring>
#include <memory>
#include <string>

void SipStackReceiver::handleDatagram(const char* data, size_t size, const sockaddr_in& from, const in_addr& local)
{
    if (size == 0 || size > SipStack::kMaxDatagram)
        return;
    bool blank = true;
    for (size_t i = 0; i < size && blank; ++i)
        blank = data[i] == '\r' || data[i] == '\n' || data[i] == ' ' || data[i] == '\t';
    if (blank)
        return; // keep-alive
    const std::string text(data, size);
    osip_event_t* event = osip_parse(text.c_str(), text.size());
    if (!event || !event->sip) {
        RDLOG("dropped a datagram from %s:%d that is not a SIP message", ipv4Text(from.sin_addr).c_str(),
              ntohs(from.sin_port));
        if (event)
            osip_event_free(event);
        return;
    }
    osip_message_t* message = event->sip;
    if (!wellFormed(message)) {
        RDLOG("dropped a malformed SIP message from %s:%d", ipv4Text(from.sin_addr).c_str(), ntohs(from.sin_port));
        osip_via_t* via = static_cast<osip_via_t*>(osip_list_get(&message->vias, 0));
        if (MSG_IS_REQUEST(message) && message->sip_method && std::strcmp(message->sip_method, "ACK") != 0 && via &&
            via->host && m_stack.m_shares.spendStateless(from.sin_addr, m_stack.nowMs()))
            m_stack.m_answers.sendStateless(message, 400, from);
        osip_event_free(event);
        return;
    }
    if (MSG_IS_RESPONSE(message)) {
        if (osip_find_transaction_and_add_event(m_stack.m_osip, event) != OSIP_SUCCESS)
            osip_event_free(event);
        return;
    }
    handleRequest(event, from, local);
}

bool SipStackReceiver::wellFormed(osip_message_t* message)
{
    if (!message->from || !message->from->url || !message->to || !message->to->url)
        return false;
    if (!message->call_id || !message->call_id->number || !*message->call_id->number)
        return false;
    if (!message->cseq || !message->cseq->method || !SipMessage::parseCseq(message->cseq->number, nullptr))
        return false;
    osip_via_t* via = static_cast<osip_via_t*>(osip_list_get(&message->vias, 0));
    if (!via || !via->host || !*via->host || !via->protocol || !via->version)
        return false;
    if (MSG_IS_REQUEST(message)) {
        if (!message->sip_method || !message->req_uri || !message->req_uri->scheme)
            return false;
        return std::strcmp(message->sip_method, message->cseq->method) == 0;
    }
    return message->status_code >= 100 && message->status_code <= 699;
}

void SipStackReceiver::handleRequest(osip_event_t* event, const sockaddr_in& from, const in_addr& local)
{
    osip_message_t* request = event->sip;
    osip_message_fix_last_via_header(request, ipv4Text(from.sin_addr).c_str(), ntohs(from.sin_port));
    osip_message_force_update(request);
    if (SipMessage::isMethod(request, "ACK")) {
        if (osip_find_transaction_and_add_event(m_stack.m_osip, event) == OSIP_SUCCESS)
            return; // the ACK of a final non-2xx answer, absorbed by its transaction
        handleDialogAck(request);
        osip_event_free(event);
        return;
    }
    if (osip_find_transaction_and_add_event(m_stack.m_osip, event) == OSIP_SUCCESS)
        return; // a retransmission; the transaction repeats its last answer
    if (!admit(request, from)) {
        osip_event_free(event);
        return;
    }
    if (SipMessage::isMethod(request, "CANCEL")) {
        handleCancel(event, from, local);
        return;
    }
    if (SipMessage::tagOf(request->to)) {
        handleInDialog(event, findDialog(request), from, local);
        return;
    }
    if (SipMessage::isMethod(request, "INVITE")) {
        handleNewInvite(event, from, local);
        return;
    }
    handleOutOfDialog(event, from, local);
}

bool SipStackReceiver::admit(osip_message_t* request, const sockaddr_in& from)
{
    using Kind = SipStackShares::Kind;
    SipStackShares& shares = m_stack.m_shares;
    if (!shares.hasRoom(Kind::Transaction, from.sin_addr))
        m_stack.reclaimAnswered(&from.sin_addr);
    if (!shares.hasRoom(Kind::Transaction, from.sin_addr)) {
        const bool answered = refuse(request, from);
        RDLOG("%s holds %d SIP transactions, its share: %s from port %d %s", ipv4Text(from.sin_addr).c_str(),
              shares.held(Kind::Transaction, from.sin_addr), SipMessage::methodOf(request), ntohs(from.sin_port),
              answered ? "answered 503" : "dropped");
        return false;
    }
    if (m_stack.m_txs.size() >= static_cast<size_t>(SipStack::kMaxTransactions))
        m_stack.reclaimAnswered();
    if (m_stack.m_txs.size() >= static_cast<size_t>(SipStack::kMaxTransactions)) {
        const bool answered = refuse(request, from);
        RDLOG("%zu SIP transactions open: %s from %s:%d %s", m_stack.m_txs.size(), SipMessage::methodOf(request),
              ipv4Text(from.sin_addr).c_str(), ntohs(from.sin_port), answered ? "answered 503" : "dropped");
        return false;
    }
    return true;
}

bool SipStackReceiver::refuse(osip_message_t* request, const sockaddr_in& from)
{
    if (!m_stack.m_shares.spendStateless(from.sin_addr, m_stack.nowMs()))
        return false;
    m_stack.m_answers.sendStateless(request, 503, from);
    return true;
}

SipStackReceiver::Tx* SipStackReceiver::createServerTx(osip_event_t* event, int kind, const sockaddr_in& from, const in_addr& local)
{
    osip_message_t* copy = SipMessage::clone(event->sip);
    if (!copy) {
        RDLOG("cannot copy a %s request; dropped", SipMessage::methodOf(event->sip));
        osip_event_free(event);
        return nullptr;
    }
    osip_transaction_t* transaction = osip_create_transaction(m_stack.m_osip, event);
    if (!transaction) {
        RDLOG("cannot open a transaction for %s; dropped", SipMessage::methodOf(event->sip));
        osip_message_free(copy);
        osip_event_free(event);
        return nullptr;
    }
    m_stack.scaledTimers(transaction);
    auto tx = std::make_unique<Tx>();
    tx->tid = SipStack::nextId();
    tx->kind = kind;
    tx->tr = transaction;
    tx->request.reset(copy);
    tx->peer = from;
    tx->local = local;
    tx->share = m_stack.m_shares.take(SipStackShares::Kind::Transaction, from.sin_addr);
    osip_transaction_set_your_instance(transaction, tx.get());
    osip_transaction_add_event(transaction, event);
    Tx* raw = tx.get();
    m_stack.m_txs[raw->tid] = std::move(tx);
    return raw;
}

SipStackReceiver::Call* SipStackReceiver::findDialog(osip_message_t* request)
{
    for (auto& entry : m_stack.m_calls) {
        Call* call = entry.second.get();
        if (call->dialog && osip_dialog_match_as_uas(call->dialog, request) == 0)
            return call;
    }
    return nullptr;
}

SipStackReceiver::Call* SipStackReceiver::findCallByInvite(osip_message_t* invite)
{
    const char* fromTag = SipMessage::tagOf(invite->from);
    for (auto& entry : m_stack.m_calls) {
        Call* call = entry.second.get();
        if (SipMessage::sameText(call->invite->call_id->number, invite->call_id->number) &&
            SipMessage::sameText(SipMessage::tagOf(call->invite->from), fromTag))
            return call;
    }
    return nullptr;
}

bool SipStackReceiver::resendOk(Call* call, osip_message_t* invite)
{
    if (call->okBytes.empty() || call->okCseq != SipMessage::cseqOf(invite))
        return false;
    m_stack.m_transport.send(call->okBytes.data(), call->okBytes.size(), call->okPeer);
    return true;
}

void SipStackReceiver::handleNewInvite(osip_event_t* event, const sockaddr_in& from, const in_addr& local)
{
    if (Call* call = findCallByInvite(event->sip)) {
        // Its transaction ended with the 2xx: a repeated INVITE gets that 2xx again. Another
        // INVITE of that call without a To tag (a fork or a loop back to us) is dropped.
        if (!resendOk(call, event->sip))
            RDLOG("dropped a second INVITE without To tag for call %d", call->cid);
        osip_event_free(event);
        return;
    }
    Tx* tx = createServerTx(event, Tx::ServerInvite, from, local);
    if (!tx)
        return;
    const std::string required = SipMessage::requiredOptions(tx->request.get());
    if (!required.empty()) {
        m_stack.m_answers.answer(tx, 420, "Unsupported", required.c_str());
        return;
    }
    if (m_stack.m_calls.size() >= static_cast<size_t>(SipStack::kMaxCalls)) {
        RDLOG("%d calls open: INVITE from %s:%d answered 503", SipStack::kMaxCalls, ipv4Text(from.sin_addr).c_str(),
              ntohs(from.sin_port));
        m_stack.m_answers.answer(tx, 503);
        return;
    }
    if (!m_stack.m_shares.hasRoom(SipStackShares::Kind::Call, from.sin_addr)) {
        RDLOG("%s holds %d calls, its share: INVITE from port %d answered 503", ipv4Text(from.sin_addr).c_str(),
              SipStackShares::kMaxCallsPerAddress, ntohs(from.sin_port));
        m_stack.m_answers.answer(tx, 503);
        return;
    }
    Call* call = newCall(tx->request.get(), from, local);
    osip_message_t* trying = call ? m_stack.m_answers.buildResponse(tx->request.get(), 100, call->localTag) : nullptr;
    if (!trying || osip_dialog_init_as_uas(&call->dialog, tx->request.get(), trying) != 0) {
        RDLOG("cannot open a dialog for the INVITE from %s:%d", ipv4Text(from.sin_addr).c_str(),
              ntohs(from.sin_port));
        if (trying)
            osip_message_free(trying);
        if (call)
            m_stack.m_calls.erase(call->cid);
        m_stack.m_answers.answer(tx, 400);
        return;
    }
    // The route set is the INVITE's Record-Route list as it stands (libosip2 takes it from the
    // answer, and a 100 carries none).
    if (osip_list_eol(&call->dialog->route_set, 0))
        SipMessage::copyRecordRoutes(tx->request.get(), &call->dialog->route_set);
    call->inviteTid = tx->tid;
    tx->cid = call->cid;
    tx->appAnswers = true;
    tx->deadlineMs = m_stack.nowMs() + 64LL * m_stack.m_t1;
    auto* incoming = m_stack.makeEvent(SipStackEvent::CallInvite, "New call received");
    incoming->cid = call->cid;
    incoming->did = call->did;
    incoming->tid = tx->tid;
    incoming->request = SipMessage::clone(tx->request.get());
    incoming->response = SipMessage::clone(trying);
    m_stack.m_answers.sendResponse(tx, trying);
    m_stack.pushEvent(incoming);
}

SipStackReceiver::Call* SipStackReceiver::newCall(osip_message_t* invite, const sockaddr_in& from, const in_addr& local)
{
    auto call = std::make_unique<Call>();
    call->invite.reset(SipMessage::clone(invite));
    if (!call->invite)
        return nullptr;
    call->cid = SipStack::nextId();
    call->did = SipStack::nextId();
    call->localTag = m_stack.randomHex(8);
    call->peer = from;
    call->local = local;
    call->share = m_stack.m_shares.take(SipStackShares::Kind::Call, from.sin_addr);
    Call* raw = call.get();
    m_stack.m_calls[raw->cid] = std::move(call);
    return raw;
}

void SipStackReceiver::handleCancel(osip_event_t* event, const sockaddr_in& from, const in_addr& local)
{
    osip_message_t* cancel = event->sip;
    const char* branch = SipMessage::branchOf(cancel);
    Tx* inviteTx = nullptr;
    for (auto& entry : m_stack.m_txs) {
        Tx* candidate = entry.second.get();
        if (candidate->kind == Tx::ServerInvite && candidate->request && branch &&
            SipMessage::sameText(SipMessage::branchOf(candidate->request.get()), branch) &&
            SipMessage::sameText(candidate->request->call_id->number, cancel->call_id->number)) {
            inviteTx = candidate;
            break;
        }
    }
    Tx* tx = createServerTx(event, Tx::ServerRequest, from, local);
    if (!tx)
        return;
    if (!inviteTx) {
        m_stack.m_answers.answer(tx, 481);
        return;
    }
    m_stack.m_answers.answer(tx, 200);
    if (inviteTx->finalSent || !inviteTx->tr)
        return;
    m_stack.m_answers.answer(inviteTx, 487);
    auto it = m_stack.m_calls.find(inviteTx->cid);
    if (it == m_stack.m_calls.end())
        return;
    Call* call = it->second.get();
    if (inviteTx->tid == call->inviteTid) {
        auto* cancelled = m_stack.makeEvent(SipStackEvent::CallCancelled, "Call cancelled");
        cancelled->cid = call->cid;
        cancelled->did = call->did;
        cancelled->tid = inviteTx->tid;
        m_stack.pushEvent(cancelled);
        m_stack.releaseCall(call);
    } else if (call->reinviteTid == inviteTx->tid) {
        call->reinviteTid = 0;
    }
}

void SipStackReceiver::handleInDialog(osip_event_t* event, Call* call, const sockaddr_in& from, const in_addr& local)
{
    osip_message_t* request = event->sip;
    const bool invite = SipMessage::isMethod(request, "INVITE");
    if (call && invite && resendOk(call, request)) {
        osip_event_free(event);
        return;
    }
    Tx* tx = createServerTx(event, invite ? Tx::ServerInvite : Tx::ServerRequest, from, local);
    if (!tx)
        return;
    tx->inDialog = true;
    if (!call) {
        m_stack.m_answers.answer(tx, 481);
        return;
    }
    tx->cid = call->cid;
    request = tx->request.get();
    // RFC 3261 12.2.2: a CSeq below the dialog's remote one is out of order.
    if (call->dialog && call->dialog->remote_cseq > SipMessage::cseqOf(request)) {
        m_stack.m_answers.answer(tx, 500);
        return;
    }
    if (invite) {
        inDialogInvite(tx, call);
        return;
    }
    if (SipMessage::isMethod(request, "BYE")) {
        inDialogBye(tx, call);
        return;
    }
    if (SipMessage::isMethodIn(request, {"INFO", "UPDATE", "NOTIFY", "OPTIONS", "MESSAGE"}))
        acceptInDialog(tx, call, SipStackEvent::CallMessageNew, "New request in call");
    else if (SipMessage::isMethodIn(request, {"REFER", "SUBSCRIBE", "PRACK", "PUBLISH", "REGISTER"}))
        m_stack.m_answers.answer(tx, 405);
    else
        m_stack.m_answers.answer(tx, 501);
}

void SipStackReceiver::inDialogInvite(Tx* tx, Call* call)
{
    osip_message_t* request = tx->request.get();
    const std::string required = SipMessage::requiredOptions(request);
    if (!required.empty()) {
        m_stack.m_answers.answer(tx, 420, "Unsupported", required.c_str());
        return;
    }
    // RFC 3261 14.2: a re-INVITE while another is unanswered gets 500 with Retry-After.
    auto pending = m_stack.m_txs.find(call->reinviteTid);
    const bool reinvitePending = pending != m_stack.m_txs.end() && !pending->second->finalSent;
    if (call->state != Call::Confirmed || reinvitePending) {
        m_stack.m_answers.answer(tx, 500, "Retry-After", std::to_string(m_stack.m_random() % 10 + 1).c_str());
        return;
    }
    // Target refresh: a new Contact becomes the dialog's remote target.
    osip_contact_t* contact = static_cast<osip_contact_t*>(osip_list_get(&request->contacts, 0));
    osip_contact_t* copy = nullptr;
    if (contact && contact->url && osip_contact_clone(contact, &copy) == 0 && call->dialog) {
        if (call->dialog->remote_contact_uri)
            osip_contact_free(call->dialog->remote_contact_uri);
        call->dialog->remote_contact_uri = copy;
    } else if (copy) {
        osip_contact_free(copy);
    }
    call->reinviteTid = tx->tid;
    acceptInDialog(tx, call, SipStackEvent::CallReinvite, "Call modified");
}

void SipStackReceiver::inDialogBye(Tx* tx, Call* call)
{
    if (call->dialog)
        call->dialog->remote_cseq = SipMessage::cseqOf(tx->request.get());
    m_stack.m_answers.answer(tx, 200);
    // RFC 3261 15.1.2: a BYE before the INVITE was answered ends that INVITE with 487.
    if (call->state == Call::Early) {
        auto it = m_stack.m_txs.find(call->inviteTid);
        if (it != m_stack.m_txs.end() && !it->second->finalSent && it->second->tr)
            m_stack.m_answers.answer(it->second.get(), 487);
    }
    call->okWaitingAck = false;
    if (call->state != Call::Ending) {
        auto* closed = m_stack.makeEvent(SipStackEvent::CallClosed, "Call closed");
        closed->cid = call->cid;
        closed->did = call->did;
        closed->request = SipMessage::clone(tx->request.get());
        m_stack.pushEvent(closed);
    }
    m_stack.releaseCall(call);
}

void SipStackReceiver::acceptInDialog(Tx* tx, Call* call, SipStackEvent::Type type, const char* text)
{
    if (call->dialog)
        call->dialog->remote_cseq = SipMessage::cseqOf(tx->request.get());
    tx->appAnswers = true;
    tx->deadlineMs = m_stack.nowMs() + 64LL * m_stack.m_t1;
    auto* incoming = m_stack.makeEvent(type, text);
    incoming->cid = call->cid;
    incoming->did = call->did;
    incoming->tid = tx->tid;
    incoming->request = SipMessage::clone(tx->request.get());
    m_stack.pushEvent(incoming);
}

void SipStackReceiver::handleOutOfDialog(osip_event_t* event, const sockaddr_in& from, const in_addr& local)
{
    Tx* tx = createServerTx(event, Tx::ServerRequest, from, local);
    if (!tx)
        return;
    osip_message_t* request = tx->request.get();
    if (SipMessage::isMethodIn(request, {"MESSAGE", "OPTIONS", "INFO", "NOTIFY"})) {
        tx->appAnswers = true;
        tx->deadlineMs = m_stack.nowMs() + 64LL * m_stack.m_t1;
        auto* incoming = m_stack.makeEvent(SipStackEvent::MessageNew, "New request");
        incoming->tid = tx->tid;
        incoming->request = SipMessage::clone(request);
        m_stack.pushEvent(incoming);
    } else if (SipMessage::isMethodIn(request, {"SUBSCRIBE", "REFER", "PUBLISH", "REGISTER", "PRACK"})) {
        m_stack.m_answers.answer(tx, 405);
    } else if (SipMessage::isMethodIn(request, {"BYE", "UPDATE"})) {
        // RFC 3261 12.2.2: no dialog for a request that needs one.
        m_stack.m_answers.answer(tx, 481);
    } else {
        m_stack.m_answers.answer(tx, 501);
    }
}

void SipStackReceiver::handleDialogAck(osip_message_t* ack)
{
    Call* call = findDialog(ack);
    if (!call || !call->okWaitingAck || call->okCseq != SipMessage::cseqOf(ack))
        return; // a stray or repeated ACK
    call->okWaitingAck = false;
    if (call->byeHeld) {
        call->byeHeld = false;
        m_stack.sendBye(call);
        return;
    }
    auto* acked = m_stack.makeEvent(SipStackEvent::CallAck, "ACK received");
    acked->cid = call->cid;
    acked->did = call->did;
    acked->tid = call->okTid;
    acked->request = SipMessage::clone(call->okInvite.get());
    acked->ack = SipMessage::clone(ack);
    m_stack.pushEvent(acked);
}
