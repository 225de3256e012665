#pragma once

#include <cstddef>
#include <string>

// The one parser of decimal numbers in protocol fields and settings (ports, CSeq numbers,
// lengths). The whole text must be the number: no blanks, no '+', no trailing text; a '-' only
// when min is negative. Numbers of any length are read without overflow, so "99999" is 99999
// and is then refused by a max of 65535 instead of wrapping or being clamped.

// True and *value set when text is such a number within min..max; false (value untouched)
// otherwise. length counts the bytes of text; text need not end with a zero byte.
bool parseDecimal(const char* text, size_t length, long long min, long long max, long long* value);
bool parseDecimal(const std::string& text, long long min, long long max, long long* value);
// An int within min..max, else fallback.
int decimalOr(const std::string& text, int min, int max, int fallback);
// A UDP or TCP port 1..65535 as text; -1 for anything else (0 included).
int parsePort(const std::string& text);
