#include "SipContentType.h"

#include "RDString.h"

#include <osipparser2/osip_parser.h>

namespace {

std::string trimmed(const char* text)
{
    std::string value = stringFromCStr(text);
    return trim(value);
}

} // namespace

SipContentType SipContentType::fromHeader(const osip_content_type* header)
{
    SipContentType result;
    if (!header)
        return result;
    result.type = trimmed(header->type);
    result.subtype = trimmed(header->subtype);
    auto* list = const_cast<osip_list_t*>(&header->gen_params);
    for (int i = 0; !osip_list_eol(list, i); ++i) {
        auto* param = static_cast<osip_generic_param_t*>(osip_list_get(list, i));
        if (!param)
            continue;
        const std::string name = trimmed(param->gname);
        if (name.empty())
            continue;
        result.params[name] = trimmed(param->gvalue);
    }
    return result;
}

SipContentType SipContentType::parse(const std::string& text)
{
    SipContentType result;
    const std::vector<std::string> pieces = splitString(text, ";");
    if (pieces.empty())
        return result;
    std::string first = pieces[0];
    const size_t slash = first.find('/');
    std::string type = first.substr(0, slash);
    result.type = trim(type);
    if (slash != std::string::npos) {
        std::string subtype = first.substr(slash + 1);
        result.subtype = trim(subtype);
    }
    for (size_t i = 1; i < pieces.size(); ++i) {
        const size_t equals = pieces[i].find('=');
        std::string name = pieces[i].substr(0, equals);
        trim(name);
        if (name.empty())
            continue;
        std::string value = equals == std::string::npos ? std::string() : pieces[i].substr(equals + 1);
        result.params[name] = trim(value);
    }
    return result;
}

bool SipContentType::sameAs(const SipContentType& other) const
{
    return compareIgnoreCase(type, other.type) == 0 && compareIgnoreCase(subtype, other.subtype) == 0 &&
           params == other.params;
}

bool SipContentType::operator==(const SipContentType& other) const
{
    return type == other.type && subtype == other.subtype && params == other.params;
}
