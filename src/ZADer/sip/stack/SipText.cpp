#include "SipText.h"

#include "RDString.h"

#include <cstring>
#include <strings.h>

bool SipText::hasControl(const char* text)
{
    if (!text)
        return false;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p < 0x20 || *p == 0x7F)
            return true;
    }
    return false;
}

bool SipText::hasControl(const std::string& text)
{
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

std::string SipText::escapeUser(const std::string& text)
{
    static const char* const kHex = "0123456789ABCDEF";
    static const char* const kAllowed = "-_.!~*'()&=+$,;?/";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alnum || (c != 0 && std::strchr(kAllowed, c))) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

std::string SipText::unescape(const std::string& text)
{
    return percentDecode(text);
}

std::string SipText::quote(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

std::string SipText::unquote(const char* text)
{
    if (!text)
        return std::string();
    const size_t length = std::strlen(text);
    if (length < 2 || text[0] != '"' || text[length - 1] != '"')
        return std::string(text, length);
    std::string out;
    for (size_t i = 1; i + 1 < length; ++i) {
        if (text[i] == '\\' && i + 2 < length)
            ++i;
        out.push_back(text[i]);
    }
    return out;
}

bool SipText::equalsIgnoreCase(const char* a, const char* b)
{
    if (!a || !b)
        return false;
    return strcasecmp(a, b) == 0;
}

std::string SipText::hex(const unsigned char* bytes, size_t size)
{
    static const char* const kHex = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(kHex[bytes[i] >> 4]);
        out.push_back(kHex[bytes[i] & 15]);
    }
    return out;
}
