#include "SipMessageInfo.h"

#include "RDString.h"
#include "SipStackEvent.h"

#include <osipparser2/osip_parser.h>

SipMessageInfo SipMessageInfo::fromEvent(const SipStackEvent* event)
{
    SipMessageInfo info;
    if (!event)
        return info;
    info.tid = event->tid;
    info.cid = event->cid;
    osip_message_t* request = event->request;
    if (!request)
        return info;
    info.contentType = SipContentType::fromHeader(request->content_type);
    info.method = stringFromCStr(request->sip_method);
    osip_body_t* body = nullptr;
    if (osip_message_get_body(request, 0, &body) >= 0 && body) {
        if (body->body && body->length > 0)
            info.body.assign(body->body, body->length);
        info.bodyContentType = SipContentType::fromHeader(body->content_type);
    }
    info.from = SipNameAddr::fromHeader(request->from);
    info.to = SipNameAddr::fromHeader(request->to);
    return info;
}
