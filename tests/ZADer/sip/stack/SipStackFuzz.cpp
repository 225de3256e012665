// Feeds datagrams to the SIP stack's receive path. An input holds one or more datagrams split
// by a line "~~~~"; after each one the events are answered the way the SIP agent answers them,
// so dialogs, CANCEL, BYE and the answer paths are reached as well as the parser.
#include "SipStack.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

void answerEvents(SipStack* stack)
{
    while (SipStackEvent* event = stack->eventWait(0, 0)) {
        stack->lock();
        switch (event->type) {
        case SipStackEvent::CallInvite: {
            stack->callSendAnswer(event->tid, 180, nullptr);
            if (sdp_message_t* sdp = stack->remoteSdp(event->tid)) {
                SipStack::connectionOf(sdp, SipStack::firstMedia(sdp, "audio"));
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
        case SipStackEvent::CallMessageNew:
            stack->callSendAnswer(event->tid, 200, nullptr);
            break;
        case SipStackEvent::CallAck:
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
    SipStack* stack = SipStack::create();
    if (!stack)
        return 0;
    const std::string input(reinterpret_cast<const char*>(data), size);
    static const std::string kSplit = "\n~~~~\n";
    size_t start = 0;
    for (int count = 0; start <= input.size() && count < 16; ++count) {
        size_t end = input.find(kSplit, start);
        if (end == std::string::npos)
            end = input.size();
        stack->injectDatagram(input.data() + start, end - start, "127.0.0.2", 5062, "127.0.0.1");
        answerEvents(stack);
        start = end + kSplit.size();
    }
    stack->pump();
    answerEvents(stack);
    delete stack;
    return 0;
}
