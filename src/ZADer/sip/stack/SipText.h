#pragma once

#include <string>

// Text rules for everything the stack writes into a SIP message: what may go into a URI or a
// header, and how user parts and display names are escaped.
class SipText
{
public:
    // True when text holds a byte below 0x20 or DEL. Such a byte in a header or URI would let a
    // caller end the line and inject headers of its own. A null pointer has none.
    static bool hasControl(const char* text);
    static bool hasControl(const std::string& text);

    // RFC 3261 user part: unreserved, user-unreserved and "%HH" for every other byte
    // ("a b@c" becomes "a%20b%40c").
    static std::string escapeUser(const std::string& text);
    // Undoes "%HH"; a malformed escape stays as written.
    static std::string unescape(const std::string& text);

    // A quoted-string with '"' and '\' escaped ("Desk \"A\"" for Desk "A").
    static std::string quote(const std::string& text);
    // Removes one pair of surrounding double quotes and the backslash escapes inside.
    static std::string unquote(const char* text);

    static bool equalsIgnoreCase(const char* a, const char* b);
    // Lower-case hex digits of the bytes.
    static std::string hex(const unsigned char* bytes, size_t size);
};
