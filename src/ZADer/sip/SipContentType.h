#pragma once

#include <map>
#include <string>

struct osip_content_type;

// A Content-Type value: type, subtype and the parameters in name order.
class SipContentType
{
public:
    std::string type;
    std::string subtype;
    std::map<std::string, std::string> params;

    // From a parsed header; parameter names and values trimmed of blanks, CR and LF. A null
    // header gives an empty value.
    static SipContentType fromHeader(const osip_content_type* header);
    // From text such as "text/plain; charset=utf-8": pieces at ';', the first at '/', the others
    // at '=' (trimmed); pieces with an empty name are skipped.
    static SipContentType parse(const std::string& text);

    bool isEmpty() const { return type.empty() && subtype.empty() && params.empty(); }
    // Type and subtype compared ignoring case (as media types are), parameters exactly.
    bool sameAs(const SipContentType& other) const;

    // Byte for byte.
    bool operator==(const SipContentType& other) const;
    bool operator!=(const SipContentType& other) const { return !(*this == other); }
};
