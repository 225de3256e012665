#include "SipChannelCallEvents.h"

#include "RDLog.h"
#include "RDString.h"
#include "SipCall.h"
#include "SipCallOffer.h"
#include "SipChannel.h"
#include "SipChannelObserver.h"
#include "SipMedia.h"
#include "SipMessageInfo.h"
#include "SipNameAddr.h"
#include "SipSdp.h"
#include "SipStack.h"
#include "SipStackEvent.h"

#include <osipparser2/osip_parser.h>

bool SipChannelCallEvents::readOffer(int tid, SipMedia& audio, SipMedia& video)
{
    sdp_message_t* sdp = nullptr;
    {
        SipChannel::StackGuard stack(m_channel);
        if (stack)
            sdp = stack->remoteSdp(tid);
    }
    if (!sdp)
        return false;
    SipSdp::parseAudioMedia(sdp, audio);
    SipSdp::parseVideoMedia(sdp, video);
    sdp_message_free(sdp);
    return true;
}

void SipChannelCallEvents::onInvite(SipStackEvent* event)
{
    if (!event)
        return;
    const SipNameAddr from = SipNameAddr::fromHeader(event->request ? event->request->from : nullptr);
    RDLOG("onCallInvite from host = %s, port = %d, account = %s, username = %s", from.host.c_str(), from.port,
          from.username.c_str(), from.displayName.c_str());
    const SipAccountInfo info = m_channel.account();
    if (info.mode == SipAccountInfo::kModeDoNotDisturb) {
        {
            SipChannel::StackGuard stack(m_channel);
            if (stack)
                stack->callTerminate(event->cid, event->did);
        }
        RDLOG("channel terminate call(%d) because channel is do not disturb", event->cid);
        return;
    }
    if (!from.host.empty() && !from.username.empty()) {
        const auto existing = m_channel.findCall(from.host, from.port, from.username);
        if (existing && m_channel.now() - existing->createdTick() < 1.0) {
            {
                SipChannel::StackGuard stack(m_channel);
                if (stack)
                    stack->callTerminate(event->cid, event->did);
            }
            RDLOG("channel terminate call(%d) because is same call coming in 1 second", event->cid);
            return;
        }
    }
    // A channel plays one call; a second caller hears busy and the running call goes on.
    if (!m_channel.calls().empty()) {
        RDLOG("channel %d busy, call(%d) refused with 486", info.id, event->cid);
        m_channel.sendCallAnswer(event->tid, 486, nullptr, "busy");
        return;
    }
    const std::shared_ptr<SipCall> call = m_channel.newCall();
    if (!call) {
        m_channel.sendCallAnswer(event->tid, 503, nullptr, "no call");
        return;
    }
    call->cid = event->cid;
    call->tid = event->tid;
    call->did = event->did;
    call->fromUser = from.username;
    call->fromName = from.displayName;
    call->fromHost = from.host;
    call->fromPort = from.port;

    auto audio = std::make_shared<SipMedia>();
    auto video = std::make_shared<SipMedia>();
    readOffer(event->tid, *audio, *video);
    call->state = SipCall::New;
    int refusal = SipCallOffer::refusal(*audio, *video);
    if (!refusal)
        refusal = SipCallOffer::prepareAnswer(*audio, *video, nullptr, nullptr, info.id);
    call->setMedia(audio, video);
    if (refusal) {
        RDLOG("channel %d refuses call(%d) with %d (audio %s port %d, %d payloads)", info.id, event->cid, refusal,
              audio->protocol.c_str(), audio->remotePort, static_cast<int>(audio->remotePayloads.size()));
        m_channel.rejectCall(call, refusal);
        return;
    }
    if (SipChannelObserver* target = m_channel.observer())
        target->onCallIncoming(m_channel.self(), call);
    // The observer may have refused it.
    if (call->state == SipCall::Terminated)
        return;
    std::lock_guard<std::mutex> guard(m_channel.m_callMutex);
    m_channel.m_calls.push_back(call);
}

void SipChannelCallEvents::unhandledCallEvent(const char* what, SipStackEvent* event)
{
    RDLOG("channel %d drops %s of call(%d)", m_channel.id(), what, event ? event->cid : 0);
}

void SipChannelCallEvents::onReinvite(SipStackEvent* event, const std::shared_ptr<SipCall>& call)
{
    if (!event || !call)
        return;
    const auto running = call->audioMedia();
    const auto runningVideo = call->videoMedia();
    auto audio = std::make_shared<SipMedia>();
    auto video = std::make_shared<SipMedia>();
    if (!readOffer(event->tid, *audio, *video)) {
        // No offer: ours again, unchanged, for the ACK to answer.
        m_channel.sendCallAnswer(event->tid, 200, call.get(), "re-INVITE");
        return;
    }
    int refusal = SipCallOffer::refusal(*audio, *video);
    if (!refusal)
        refusal = SipCallOffer::prepareAnswer(*audio, *video, running.get(), runningVideo.get(), m_channel.id());
    if (!refusal && !call->updateMedia(audio, video))
        refusal = 488;
    if (refusal) {
        // The call goes on as it was.
        RDLOG("re-INVITE of call(%d) refused with %d", call->cid.load(), refusal);
        m_channel.sendCallAnswer(event->tid, refusal, nullptr, "re-INVITE");
        return;
    }
    call->tid = event->tid;
    if (SipChannelObserver* target = m_channel.observer())
        target->onCallReinvite(m_channel.self(), call);
    m_channel.sendCallAnswer(event->tid, 200, call.get(), "re-INVITE");
}

void SipChannelCallEvents::onAck(SipStackEvent* event, const std::shared_ptr<SipCall>& call)
{
    if (!event || !call)
        return;
    m_channel.logCall("onCallAck", *call);
    if (call->isMediaRunning())
        return;
    if (!call->start()) {
        m_channel.terminateCall(call);
        return;
    }
    if (call->isEnded()) {
        // Ended meanwhile (the channel unregistered): its media must not outlive it.
        call->stop();
        return;
    }
    const std::shared_ptr<SipChannel> channel = m_channel.self();
    if (SipChannelObserver* target = m_channel.observer())
        target->onCallStarted(channel, call);
    if (SipChannelObserver* target = m_channel.observer())
        target->onCallAck(channel, call);
    call->state = SipCall::Established;
}

void SipChannelCallEvents::endCall(const std::shared_ptr<SipCall>& call, Ending how)
{
    if (!call || !call->markEnded())
        return;
    const std::shared_ptr<SipChannel> channel = m_channel.self();
    if (SipChannelObserver* target = m_channel.observer()) {
        switch (how) {
        case Ending::Cancelled:
            target->onCallCancelled(channel, call);
            break;
        case Ending::Closed:
            target->onCallClosed(channel, call);
            break;
        case Ending::Released:
            target->onCallReleased(channel, call);
            break;
        }
    }
    call->stop();
    if (SipChannelObserver* target = m_channel.observer())
        target->onCallStopped(channel, call);
    m_channel.removeCall(call);
    if (SipChannelObserver* target = m_channel.observer())
        target->onCallRemoved(channel, call);
}

void SipChannelCallEvents::onCancelled(SipStackEvent*, const std::shared_ptr<SipCall>& call)
{
    endCall(call, Ending::Cancelled);
}

void SipChannelCallEvents::onClosed(SipStackEvent*, const std::shared_ptr<SipCall>& call)
{
    endCall(call, Ending::Closed);
}

void SipChannelCallEvents::onReleased(SipStackEvent*, const std::shared_ptr<SipCall>& call)
{
    endCall(call, Ending::Released);
}

// The progress and failure events answer calls this agent places; it places none.
void SipChannelCallEvents::onNoAnswer(SipStackEvent*, const std::shared_ptr<SipCall>& call)
{
    if (SipChannelObserver* target = m_channel.observer())
        target->onCallNoAnswer(m_channel.self(), call);
}

void SipChannelCallEvents::onProceeding(SipStackEvent*, const std::shared_ptr<SipCall>& call)
{
    if (SipChannelObserver* target = m_channel.observer())
        target->onCallProceeding(m_channel.self(), call);
}

void SipChannelCallEvents::onRinging(SipStackEvent*, const std::shared_ptr<SipCall>& call)
{
    if (SipChannelObserver* target = m_channel.observer())
        target->onCallRinging(m_channel.self(), call);
}

void SipChannelCallEvents::onAnswered(SipStackEvent* event, const std::shared_ptr<SipCall>&)
{
    unhandledCallEvent("answer", event);
}

void SipChannelCallEvents::onRedirected(SipStackEvent*, const std::shared_ptr<SipCall>& call)
{
    if (SipChannelObserver* target = m_channel.observer())
        target->onCallRedirected(m_channel.self(), call);
}

void SipChannelCallEvents::onFailure(SipStackEvent*, const std::shared_ptr<SipCall>& call)
{
    if (SipChannelObserver* target = m_channel.observer())
        target->onCallFailure(m_channel.self(), call);
    m_channel.terminateCall(call);
}

void SipChannelCallEvents::onMessage(SipStackEvent* event, const std::shared_ptr<SipCall>& call)
{
    if (!event || !call)
        return;
    MessageKind kind = MessageKind::Failure;
    const char* what = "";
    switch (event->type) {
    case SipStackEvent::CallMessageNew:
        kind = MessageKind::New;
        what = "in-dialog request";
        break;
    case SipStackEvent::CallMessageProceeding:
        kind = MessageKind::Proceeding;
        what = "1xx";
        break;
    case SipStackEvent::CallMessageAnswered:
        kind = MessageKind::Answered;
        what = "2xx";
        break;
    case SipStackEvent::CallMessageRedirected:
        kind = MessageKind::Redirected;
        what = "3xx";
        break;
    case SipStackEvent::CallMessageRequestFailure:
        what = "4xx";
        break;
    case SipStackEvent::CallMessageServerFailure:
        what = "5xx";
        break;
    case SipStackEvent::CallMessageGlobalFailure:
        what = "6xx";
        break;
    default:
        return;
    }
    const SipMessageInfo info = SipMessageInfo::fromEvent(event);
    const std::shared_ptr<SipChannel> channel = m_channel.self();
    if (SipChannelObserver* target = m_channel.observer()) {
        switch (kind) {
        case MessageKind::New:
            target->onCallMessageNew(channel, call, info);
            break;
        case MessageKind::Proceeding:
            target->onCallMessageProceeding(channel, call, info);
            break;
        case MessageKind::Answered:
            target->onCallMessageAnswered(channel, call, info);
            break;
        case MessageKind::Redirected:
            target->onCallMessageRedirected(channel, call, info);
            break;
        case MessageKind::Failure:
            target->onCallMessageFailure(channel, call, info);
            break;
        }
    }
    // Only a request is answered; the other events are answers to our own BYE.
    if (kind != MessageKind::New || compareIgnoreCase(info.method, "BYE") == 0)
        return;
    // A new description in the dialog is refused: the media stay as they are.
    const bool offer = compareIgnoreCase(info.method, "UPDATE") == 0 && !info.body.empty();
    m_channel.sendCallAnswer(event->tid, offer ? 488 : 200, nullptr, what);
}

void SipChannelCallEvents::dispatch(SipStackEvent* event, const std::shared_ptr<SipCall>& call)
{
    switch (event->type) {
    case SipStackEvent::CallReinvite:
        onReinvite(event, call);
        break;
    case SipStackEvent::CallNoAnswer:
        onNoAnswer(event, call);
        break;
    case SipStackEvent::CallProceeding:
        onProceeding(event, call);
        break;
    case SipStackEvent::CallRinging:
        onRinging(event, call);
        break;
    case SipStackEvent::CallAnswered:
        onAnswered(event, call);
        break;
    case SipStackEvent::CallRedirected:
        onRedirected(event, call);
        break;
    case SipStackEvent::CallRequestFailure:
    case SipStackEvent::CallServerFailure:
    case SipStackEvent::CallGlobalFailure:
        onFailure(event, call);
        break;
    case SipStackEvent::CallAck:
        onAck(event, call);
        break;
    case SipStackEvent::CallCancelled:
        onCancelled(event, call);
        break;
    case SipStackEvent::CallMessageNew:
    case SipStackEvent::CallMessageProceeding:
    case SipStackEvent::CallMessageAnswered:
    case SipStackEvent::CallMessageRedirected:
    case SipStackEvent::CallMessageRequestFailure:
    case SipStackEvent::CallMessageServerFailure:
    case SipStackEvent::CallMessageGlobalFailure:
        onMessage(event, call);
        break;
    case SipStackEvent::CallClosed:
        onClosed(event, call);
        break;
    case SipStackEvent::CallReleased:
        onReleased(event, call);
        break;
    default:
        break;
    }
}
