#pragma once

#include <string>
#include <vector>

// Text helpers shared by the protocol code (HTTP, WebSocket, SIP) and the file stores. All are
// stateless and thread-safe. Bytes are compared as unsigned values wherever letter case is
// folded, so texts with bytes of 0x80 and above fold safely.

// Different lengths order by length (-1 shorter, 1 longer); equal lengths give the first
// difference of the upper-cased bytes, or 0. Meant for equality and keyed look-ups.
int compareIgnoreCase(const std::string& a, const std::string& b);
// The standard byte-wise comparison (negative, 0, positive).
int compareString(const std::string& a, const std::string& b);
// strcmp with null guards (a null text counts as empty, except that a non-empty a against a null
// b gives 1); the result is the difference of the first differing bytes as signed 8-bit values.
int compareString(const char* a, const char* b);
int compareStringIgnoreCase(const char* a, const char* b);
// Equal but for ASCII letter case; false when either text is null.
bool equalsIgnoreCase(const char* a, const char* b);
// A strict weak order that ignores ASCII letter case (lower-cased bytes compared as unsigned,
// then length), for maps keyed by header names.
bool lessIgnoreCase(const std::string& a, const std::string& b);
// Headers whose values are secrets (Authorization, Proxy-Authorization, Cookie): log lines
// show kHiddenValue in their place.
bool isCredentialHeader(const std::string& name);
extern const char* const kHiddenValue;

bool isEmptyString(const char* s);
std::string stringFromCStr(const char* s);
// The first length bytes, zero bytes included; empty for length <= 0 or null data.
std::string stringFromBytes(const char* data, int length);

// Joins two URL or file path parts with exactly one '/' between them.
std::string joinUrlPath(const std::string& a, const std::string& b);
// Splits at every delimiter, keeping empty parts. maxParts > 0 keeps only the first maxParts
// parts and drops the rest of the text. An empty delimiter gives the whole text as one part.
std::vector<std::string> splitString(const std::string& text, const std::string& delimiter,
                                     int maxParts = 0);
bool startsWith(const std::string& text, const std::string& prefix);
// The decimal integer at the start of the text (leading blanks skipped, trailing text
// ignored); the default when there is none or it does not fit an int.
int toInt(const std::string& text, int defaultValue);
std::wstring utf8ToWide(const std::string& utf8);
// Removes ' ', '\r' and '\n' from both ends in place (tabs stay); returns the same text.
std::string& trim(std::string& text);
// '%' with two hex digits becomes that byte; a '%' not followed by two hex digits is copied as it
// is. Never reads past the input.
std::string percentDecode(const std::string& text);
// percentDecode, and '+' becomes ' ' (a form or query value).
std::string urlDecode(const std::string& text);
