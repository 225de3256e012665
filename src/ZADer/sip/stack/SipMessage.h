#pragma once

#include <osipparser2/osip_parser.h>

#include <initializer_list>
#include <string>

// Reading and editing libosip2 messages: the small steps every part of the stack takes on a
// request or answer. Texts returned as const char* belong to the message.
class SipMessage
{
public:
    // The request's method; "" for an answer or no message.
    static const char* methodOf(const osip_message_t* message);
    static bool isMethod(const osip_message_t* message, const char* method);
    static bool isMethodIn(const osip_message_t* message, std::initializer_list<const char*> methods);
    // A CSeq number: 1 to 10 digits below 2^31 (RFC 3261 8.1.1.5).
    static bool parseCseq(const char* text, int* value);
    // The message's CSeq number; -1 when it has none that parses.
    static int cseqOf(const osip_message_t* message);
    // A port text of a URI; fallback when absent, -1 when it is not a port.
    static int portOf(const char* text, int fallback);
    // The value of a ;name=value parameter; null when absent or bare.
    static const char* paramOf(osip_list_t* params, const char* name);
    static const char* tagOf(osip_from_t* header);
    // The branch of the top Via.
    static const char* branchOf(const osip_message_t* message);
    // Both present and equal.
    static bool sameText(const char* a, const char* b);
    // Empties a header list of a message, freeing its entries.
    template <typename Header>
    static void clearList(osip_list_t* list, void (*release)(Header*))
    {
        while (!osip_list_eol(list, 0)) {
            auto* header = static_cast<Header*>(osip_list_get(list, 0));
            osip_list_remove(list, 0);
            release(header);
        }
    }
    // Sets a header that occurs once, replacing an earlier value.
    static void replaceHeader(osip_message_t* message, const char* name, const std::string& value);
    // The first header of that name; null when absent.
    static const char* headerValue(const osip_message_t* message, const char* name);
    // The option tags of every Require header, comma-separated.
    static std::string requiredOptions(const osip_message_t* message);
    // Same user, host (any case) and port (5060 when absent): RFC 3261 19.1.4, as far as a
    // registrar's Contact needs.
    static bool sameUri(const osip_uri_t* a, const osip_uri_t* b);
    // Appends copies of the message's Record-Route entries, in order.
    static void copyRecordRoutes(const osip_message_t* message, osip_list_t* to);
    // A copy the caller frees; null for no message or when it cannot be copied.
    static osip_message_t* clone(const osip_message_t* message);
    // The lifetime the registrar granted: the expires parameter of our Contact in the 2xx, else
    // its Expires header, else the Expires of the request; -1 when none is known
    // (RFC 3261 10.2.4).
    static int grantedExpires(const osip_message_t* response, const osip_message_t* request);
};
