#pragma once

#include <cstdint>
#include <string>

struct in_addr;

// IPv4 addresses as text, the one place that converts both ways. Addresses are held in host
// byte order unless the name says otherwise.

// Exactly four decimal numbers of 0 to 255 (at most three digits each, leading zeros read as
// decimal) with one dot between them and nothing before or after. The C library's parsers
// also take signs, octal, hex and short forms such as "127.1"; none of those count here.
bool parseIpv4(const std::string& text, uint32_t* hostOrder);
bool isIpv4(const std::string& text);
// "a.b.c.d".
std::string ipv4Text(uint32_t hostOrder);
std::string ipv4Text(const in_addr& networkOrder);
