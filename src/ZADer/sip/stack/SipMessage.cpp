#include "SipMessage.h"

#include "SipText.h"

#include <cstdlib>
#include <cstring>

const char* SipMessage::methodOf(const osip_message_t* message)
{
    return message && message->sip_method ? message->sip_method : "";
}

bool SipMessage::isMethod(const osip_message_t* message, const char* method)
{
    return message && MSG_IS_REQUEST(message) && message->sip_method &&
           std::strcmp(message->sip_method, method) == 0;
}

bool SipMessage::parseCseq(const char* text, int* value)
{
    if (!text || !*text)
        return false;
    long long number = 0;
    int digits = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || ++digits > 10)
            return false;
        number = number * 10 + (*p - '0');
    }
    if (number > 0x7FFFFFFF)
        return false;
    if (value)
        *value = static_cast<int>(number);
    return true;
}

bool SipMessage::isMethodIn(const osip_message_t* message, std::initializer_list<const char*> methods)
{
    for (const char* method : methods) {
        if (isMethod(message, method))
            return true;
    }
    return false;
}

int SipMessage::cseqOf(const osip_message_t* message)
{
    int value = -1;
    if (message && message->cseq)
        parseCseq(message->cseq->number, &value);
    return value;
}

int SipMessage::portOf(const char* text, int fallback)
{
    if (!text || !*text)
        return fallback;
    int value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || value > 65535)
            return -1;
        value = value * 10 + (*p - '0');
    }
    return value >= 1 && value <= 65535 ? value : -1;
}

const char* SipMessage::paramOf(osip_list_t* params, const char* name)
{
    osip_generic_param_t* param = nullptr;
    if (osip_generic_param_get_byname(params, const_cast<char*>(name), &param) == 0 && param && param->gvalue)
        return param->gvalue;
    return nullptr;
}

const char* SipMessage::tagOf(osip_from_t* header)
{
    return header ? paramOf(&header->gen_params, "tag") : nullptr;
}

const char* SipMessage::branchOf(const osip_message_t* message)
{
    osip_via_t* via = static_cast<osip_via_t*>(osip_list_get(&message->vias, 0));
    return via ? paramOf(&via->via_params, "branch") : nullptr;
}

bool SipMessage::sameText(const char* a, const char* b)
{
    return a && b && std::strcmp(a, b) == 0;
}

void SipMessage::replaceHeader(osip_message_t* message, const char* name, const std::string& value)
{
    osip_header_t* header = nullptr;
    if (osip_message_header_get_byname(message, name, 0, &header) >= 0 && header) {
        osip_free(header->hvalue);
        header->hvalue = osip_strdup(value.c_str());
    } else {
        osip_message_set_header(message, name, value.c_str());
    }
}

const char* SipMessage::headerValue(const osip_message_t* message, const char* name)
{
    osip_header_t* header = nullptr;
    if (message && osip_message_header_get_byname(message, name, 0, &header) >= 0 && header)
        return header->hvalue;
    return nullptr;
}

std::string SipMessage::requiredOptions(const osip_message_t* message)
{
    std::string options;
    osip_header_t* header = nullptr;
    int position = 0;
    while ((position = osip_message_header_get_byname(message, "require", position, &header)) >= 0) {
        if (header && header->hvalue && *header->hvalue) {
            if (!options.empty())
                options += ", ";
            options += header->hvalue;
        }
        ++position;
    }
    return options;
}

bool SipMessage::sameUri(const osip_uri_t* a, const osip_uri_t* b)
{
    if (!a || !b || !a->host || !b->host)
        return false;
    const std::string userA = a->username ? a->username : "";
    const std::string userB = b->username ? b->username : "";
    return userA == userB && SipText::equalsIgnoreCase(a->host, b->host) &&
           portOf(a->port, 5060) == portOf(b->port, 5060);
}

void SipMessage::copyRecordRoutes(const osip_message_t* message, osip_list_t* to)
{
    for (int i = 0; !osip_list_eol(&message->record_routes, i); ++i) {
        osip_record_route_t* copy = nullptr;
        if (osip_record_route_clone(static_cast<osip_record_route_t*>(osip_list_get(&message->record_routes, i)),
                                    &copy) == 0)
            osip_list_add(to, copy, -1);
    }
}

osip_message_t* SipMessage::clone(const osip_message_t* message)
{
    osip_message_t* copy = nullptr;
    if (!message || osip_message_clone(message, &copy) != 0)
        return nullptr;
    return copy;
}

int SipMessage::grantedExpires(const osip_message_t* response, const osip_message_t* request)
{
    if (!response)
        return -1;
    const osip_contact_t* ours =
        request ? static_cast<const osip_contact_t*>(osip_list_get(&request->contacts, 0)) : nullptr;
    for (int i = 0; ours && !osip_list_eol(&response->contacts, i); ++i) {
        auto* contact = static_cast<osip_contact_t*>(osip_list_get(&response->contacts, i));
        if (!contact || !sameUri(contact->url, ours->url))
            continue;
        if (const char* expires = paramOf(&contact->gen_params, "expires"))
            return std::atoi(expires);
    }
    if (const char* value = headerValue(response, "expires"))
        return std::atoi(value);
    if (const char* value = headerValue(request, "expires"))
        return std::atoi(value);
    return -1;
}
