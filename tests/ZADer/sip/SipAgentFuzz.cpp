// What the SIP agent reads of messages from the network, past the stack's parser: the summary
// of out-of-dialog requests (content types, addresses, bodies), the INVITE lookup (Request-URI,
// To, Via) and the NAT check of a registrar's 200 (Via received/rport against our Contact).
// Input: one line naming the kind ("request" or "response"), then the message text.
#include "SipChannel.h"
#include "SipContentType.h"
#include "SipManager.h"
#include "SipNat.h"
#include "SipMessageInfo.h"
#include "SipMessage.h"
#include "SipStack.h"
#include "SipStackEvent.h"

#include <osipparser2/osip_parser.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

osip_message_t* parse(const std::string& text)
{
    osip_message_t* message = nullptr;
    if (osip_message_init(&message) != 0)
        return nullptr;
    if (osip_message_parse(message, text.data(), text.size()) != 0) {
        osip_message_free(message);
        return nullptr;
    }
    return message;
}

// A manager that never listens, with accounts that never register.
SipManager& manager()
{
    static SipManager* instance = [] {
        auto* made = new SipManager();
        made->setLocalIp("127.0.0.1");
        const char* users[][2] = {{"alice", "a1"}, {"12", ""}, {"bob", "shared"}};
        int id = 5;
        for (const auto& user : users) {
            SipAccountInfo info;
            info.id = id++;
            info.mode = SipAccountInfo::kModeRegistrationOff;
            info.server = "127.0.0.5";
            info.serverPort = 5070;
            info.username = user[0];
            info.authId = user[1];
            info.password = "pw";
            made->addChannel(info);
        }
        return made;
    }();
    return *instance;
}

const char kRegister[] = "REGISTER sip:127.0.0.2:5060 SIP/2.0\r\n"
                         "Via: SIP/2.0/UDP 127.0.0.1:5062;rport;branch=z9hG4bK1\r\n"
                         "From: <sip:alice@127.0.0.2:5060>;tag=1\r\nTo: <sip:alice@127.0.0.2:5060>\r\n"
                         "Call-ID: fuzz@127.0.0.1\r\nCSeq: 1 REGISTER\r\n"
                         "Contact: <sip:alice@127.0.0.1:5062>\r\nExpires: 60\r\nContent-Length: 0\r\n\r\n";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The stack initialises libosip2's parser.
    static SipStackPtr stack = SipStack::create();
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t line = input.find('\n');
    if (line == std::string::npos)
        return 0;
    const std::string kind = input.substr(0, line);
    const std::string text = input.substr(line + 1);

    const SipContentType type = SipContentType::parse(text.substr(0, 512));
    (void)type.sameAs(SipContentType::parse("message/imdn+xml"));

    osip_message_t* message = parse(text);
    if (!message)
        return 0;
    if (kind == "request" && MSG_IS_REQUEST(message)) {
        SipStackEvent event;
        event.request = message;
        event.tid = 1;
        event.cid = 1;
        event.did = 1;
        event.type = SipStackEvent::CallInvite;
        osip_message_clone(message, &event.response);
        manager().findInviteChannel(&event);
        manager().readEvent(&event);
        event.type = SipStackEvent::MessageNew;
        manager().readEvent(&event);
        const SipMessageInfo info = SipMessageInfo::fromEvent(&event);
        (void)info;
        return 0; // the event frees its messages
    }
    if (kind == "response" && MSG_IS_RESPONSE(message)) {
        osip_message_t* request = parse(kRegister);
        std::string received;
        int rport = 0;
        SipNat::masqueradeTarget(message, request, &received, &rport);
        SipMessage::grantedExpires(message, request);
        osip_message_free(request);
    }
    osip_message_free(message);
    return 0;
}
