#include "RDIpv4.h"

#include <arpa/inet.h>
#include <cstdio>

bool parseIpv4(const std::string& text, uint32_t* hostOrder)
{
    uint32_t value = 0;
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return false;
            ++pos;
        }
        int digits = 0;
        unsigned number = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            number = number * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || number > 255)
            return false;
        value = (value << 8) | number;
    }
    if (pos != text.size())
        return false;
    if (hostOrder)
        *hostOrder = value;
    return true;
}

bool isIpv4(const std::string& text)
{
    return parseIpv4(text, nullptr);
}

std::string ipv4Text(uint32_t hostOrder)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", unsigned(hostOrder >> 24), unsigned((hostOrder >> 16) & 0xFF),
                  unsigned((hostOrder >> 8) & 0xFF), unsigned(hostOrder & 0xFF));
    return text;
}

std::string ipv4Text(const in_addr& networkOrder)
{
    return ipv4Text(ntohl(networkOrder.s_addr));
}
