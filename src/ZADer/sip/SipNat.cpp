#include "SipNat.h"

#include "RDString.h"

#include <osipparser2/osip_parser.h>

#include <arpa/inet.h>

bool SipNat::masqueradeTarget(osip_message_t* response, osip_message_t* request, std::string* received,
                              int* rport)
{
    if (!response || !request)
        return false;
    auto* via = static_cast<osip_via_t*>(osip_list_get(&response->vias, 0));
    if (!via)
        return false;
    osip_generic_param_t* receivedParam = nullptr;
    osip_generic_param_t* rportParam = nullptr;
    osip_via_param_get_byname(via, const_cast<char*>("received"), &receivedParam);
    osip_via_param_get_byname(via, const_cast<char*>("rport"), &rportParam);
    if (!receivedParam || isEmptyString(receivedParam->gvalue) || !rportParam || isEmptyString(rportParam->gvalue))
        return false;
    const std::string receivedText = receivedParam->gvalue;
    const std::string rportText = rportParam->gvalue;
    const int port = toInt(rportText, 0);
    in_addr address{};
    if (port < 1 || port > 65535 || std::to_string(port) != rportText ||
        inet_pton(AF_INET, receivedText.c_str(), &address) != 1)
        return false;
    auto* contact = static_cast<osip_contact_t*>(osip_list_get(&request->contacts, 0));
    if (!contact || !contact->url)
        return false;
    // A Contact without a port stands for 5060.
    const std::string host = stringFromCStr(contact->url->host);
    const std::string contactPort = isEmptyString(contact->url->port) ? "5060" : contact->url->port;
    if (compareString(host, receivedText) == 0 && compareString(contactPort, rportText) == 0)
        return false;
    *received = receivedText;
    *rport = port;
    return true;
}
