#include "RDDecimal.h"

#include <cstring>

bool parseDecimal(const char* text, size_t length, long long min, long long max, long long* value)
{
    if (!text || length == 0 || min > max)
        return false;
    size_t pos = 0;
    const bool negative = text[0] == '-';
    if (negative) {
        if (min >= 0)
            return false;
        ++pos;
    }
    if (pos == length)
        return false;
    // Accumulate toward the sign so that the most negative value fits; stop as soon as the
    // number leaves the range, since more digits only take it further out.
    const unsigned long long limit =
        negative ? 0ULL - static_cast<unsigned long long>(min) : static_cast<unsigned long long>(max < 0 ? 0 : max);
    unsigned long long magnitude = 0;
    for (; pos < length; ++pos) {
        const char c = text[pos];
        if (c < '0' || c > '9')
            return false;
        const unsigned digit = static_cast<unsigned>(c - '0');
        if (magnitude > (limit - digit) / 10)
            return false;
        magnitude = magnitude * 10 + digit;
    }
    long long result = 0;
    if (negative)
        result = magnitude == 0 ? 0 : -static_cast<long long>(magnitude - 1) - 1;
    else
        result = static_cast<long long>(magnitude);
    if (result < min || result > max)
        return false;
    if (value)
        *value = result;
    return true;
}

bool parseDecimal(const std::string& text, long long min, long long max, long long* value)
{
    return parseDecimal(text.data(), text.size(), min, max, value);
}

int decimalOr(const std::string& text, int min, int max, int fallback)
{
    long long value = 0;
    return parseDecimal(text, min, max, &value) ? static_cast<int>(value) : fallback;
}

int parsePort(const std::string& text)
{
    return decimalOr(text, 1, 65535, -1);
}
