#include "RDString.h"

#include <QString>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

int upper(char c)
{
    return std::toupper(static_cast<unsigned char>(c));
}

int signedByte(int c)
{
    return static_cast<signed char>(static_cast<unsigned char>(c));
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

template <typename Fold>
int compareCStrings(const char* a, const char* b, Fold fold)
{
    if (!a && !b)
        return 0;
    if (!b)
        return isEmptyString(a) ? 0 : 1;
    if (!a)
        a = "";
    while (*a && fold(*a) == fold(*b)) {
        ++a;
        ++b;
    }
    return signedByte(fold(*a)) - signedByte(fold(*b));
}

int lower(char c)
{
    return std::tolower(static_cast<unsigned char>(c));
}

} // namespace

const char* const kHiddenValue = "(hidden)";

bool equalsIgnoreCase(const char* a, const char* b)
{
    if (!a || !b)
        return false;
    while (*a && lower(*a) == lower(*b)) {
        ++a;
        ++b;
    }
    return *a == '\0' && *b == '\0';
}

bool lessIgnoreCase(const std::string& a, const std::string& b)
{
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const int ca = lower(a[i]);
        const int cb = lower(b[i]);
        if (ca != cb)
            return ca < cb;
    }
    return a.size() < b.size();
}

bool isCredentialHeader(const std::string& name)
{
    return compareIgnoreCase(name, "Authorization") == 0 || compareIgnoreCase(name, "Proxy-Authorization") == 0 ||
           compareIgnoreCase(name, "Cookie") == 0;
}

int compareIgnoreCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (size_t i = 0; i < a.size(); ++i) {
        const int d = upper(a[i]) - upper(b[i]);
        if (d != 0)
            return d;
    }
    return 0;
}

int compareString(const std::string& a, const std::string& b)
{
    return a.compare(b);
}

int compareString(const char* a, const char* b)
{
    return compareCStrings(a, b, [](char c) { return static_cast<int>(static_cast<unsigned char>(c)); });
}

int compareStringIgnoreCase(const char* a, const char* b)
{
    return compareCStrings(a, b, upper);
}

bool isEmptyString(const char* s)
{
    return !s || !*s;
}

std::string stringFromCStr(const char* s)
{
    return s ? std::string(s) : std::string();
}

std::string stringFromBytes(const char* data, int length)
{
    if (!data || length <= 0)
        return std::string();
    return std::string(data, static_cast<size_t>(length));
}

std::string joinUrlPath(const std::string& a, const std::string& b)
{
    const bool aSlash = !a.empty() && a.back() == '/';
    const bool bSlash = !b.empty() && b.front() == '/';
    if (aSlash && bSlash)
        return a + b.substr(1);
    if (aSlash || bSlash)
        return a + b;
    return a + "/" + b;
}

std::vector<std::string> splitString(const std::string& text, const std::string& delimiter, int maxParts)
{
    std::vector<std::string> parts;
    if (delimiter.empty()) {
        parts.push_back(text);
        return parts;
    }
    size_t start = 0;
    while (maxParts <= 0 || static_cast<int>(parts.size()) < maxParts) {
        const size_t found = text.find(delimiter, start);
        if (found == std::string::npos) {
            parts.push_back(text.substr(start));
            break;
        }
        parts.push_back(text.substr(start, found - start));
        start = found + delimiter.size();
    }
    return parts;
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

int toInt(const std::string& text, int defaultValue)
{
    if (text.empty())
        return defaultValue;
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(start, &end, 10);
    if (end == start || errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return defaultValue;
    return static_cast<int>(value);
}

std::wstring utf8ToWide(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<int>(utf8.size())).toStdWString();
}

std::string& trim(std::string& text)
{
    static const char* const kBlanks = " \r\n";
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        text.clear();
        return text;
    }
    const size_t last = text.find_last_not_of(kBlanks);
    text.erase(last + 1);
    text.erase(0, first);
    return text;
}

namespace {

std::string decodeEscapes(const std::string& text, bool plusIsSpace)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+' && plusIsSpace) {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

} // namespace

std::string percentDecode(const std::string& text)
{
    return decodeEscapes(text, false);
}

std::string urlDecode(const std::string& text)
{
    return decodeEscapes(text, true);
}
