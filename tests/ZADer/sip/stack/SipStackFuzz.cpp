// Feeds datagrams to the SIP stack's receive path. An input holds one or more datagrams split
// by a line "~~~~"; after each one the events are answered the way the SIP agent answers them,
// so dialogs, CANCEL, BYE and the answer paths are reached as well as the parser. "@TAG@" in a
// datagram stands for the To tag the stack gave the last call, so seeds can stay in its dialog.
#include "SipStack.h"
#include "SipStackSdp.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

void answerEvents(SipStack* stack, std::string* tag)
{
    while (SipStackEvent* event = stack->eventWait(0, 0)) {
        stack->lock();
        switch (event->type) {
        case SipStackEvent::CallInvite: {
            osip_generic_param_t* param = nullptr;
            if (event->response && event->response->to &&
                osip_generic_param_get_byname(&event->response->to->gen_params, const_cast<char*>("tag"), &param) == 0 &&
                param && param->gvalue)
                *tag = param->gvalue;
            stack->callSendAnswer(event->tid, 180, nullptr);
            // "Subject: ring" leaves the call ringing, so that CANCEL and time-outs are reached.
            osip_header_t* subject = nullptr;
            if (event->request && osip_message_get_subject(event->request, 0, &subject) >= 0 && subject &&
                subject->hvalue && std::strcmp(subject->hvalue, "ring") == 0)
                break;
            if (sdp_message_t* sdp = stack->remoteSdp(event->tid)) {
                SipStackSdp::connectionOf(sdp, SipStackSdp::firstMedia(sdp, "audio"));
                sdp_message_free(sdp);
            }
            osip_message_t* answer = nullptr;
            if (stack->callBuildAnswer(event->tid, 200, &answer) == 0) {
                static const char kSdp[] = "v=0\r\no=a 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\n"
                                           "t=0 0\r\nm=audio 40000 RTP/AVP 0\r\n";
                osip_message_set_body(answer, kSdp, sizeof(kSdp) - 1);
                osip_message_set_content_type(answer, "application/sdp");
                stack->callSendAnswer(event->tid, 200, answer);
            }
            break;
        }
        case SipStackEvent::CallReinvite:
            stack->callSendAnswer(event->tid, 200, nullptr);
            break;
        case SipStackEvent::CallMessageNew:
            stack->callSendAnswer(event->tid, 200, nullptr);
            // An INFO makes the application hang up, so that our own BYE is reached.
            if (event->request && event->request->sip_method && std::strcmp(event->request->sip_method, "INFO") == 0)
                stack->callTerminate(event->cid, event->did);
            break;
        case SipStackEvent::MessageNew:
            stack->messageSendAnswer(event->tid, 202, nullptr);
            break;
        default:
            break;
        }
        stack->unlock();
        SipStack::eventFree(event);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SipStackPtr stack = SipStack::create();
    if (!stack)
        return 0;
    const std::string input(reinterpret_cast<const char*>(data), size);
    static const std::string kSplit = "\n~~~~\n";
    static const std::string kTag = "@TAG@";
    std::string tag = "none";
    size_t start = 0;
    for (int count = 0; start <= input.size() && count < 16; ++count) {
        size_t end = input.find(kSplit, start);
        if (end == std::string::npos)
            end = input.size();
        std::string datagram = input.substr(start, end - start);
        for (size_t at = datagram.find(kTag); at != std::string::npos; at = datagram.find(kTag, at + tag.size()))
            datagram.replace(at, kTag.size(), tag);
        stack->injectDatagram(datagram.data(), datagram.size(), "127.0.0.2", 5062, "127.0.0.1");
        answerEvents(stack.get(), &tag);
        start = end + kSplit.size();
    }
    stack->pump();
    answerEvents(stack.get(), &tag);
    stack.reset();
    return 0;
}
