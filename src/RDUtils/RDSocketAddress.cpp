#include "RDSocketAddress.h"

#include "RDIpv4.h"
#include "RDLog.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

RDSocketAddress::RDSocketAddress(const std::string& host, int port) : m_host(host), m_port(port) {}

RDSocketAddress& RDSocketAddress::operator=(const RDSocketAddress& other)
{
    if (this != &other) {
        m_host = other.m_host;
        m_port = other.m_port;
    }
    return *this;
}

void RDSocketAddress::clear()
{
    m_host.clear();
    m_port = 0;
}

std::string RDSocketAddress::toString() const
{
    return m_host + ":" + std::to_string(m_port);
}

void RDSocketAddress::setSockAddr(const sockaddr_in& address)
{
    m_host = ipv4Text(address.sin_addr);
    m_port = ntohs(address.sin_port);
}

int RDSocketAddress::toSockAddr(sockaddr_in* address) const
{
    unsigned int ip = 0;
    if (!address || !isValidPort(m_port))
        return -1;
    if (!m_host.empty() && !parseDottedQuad(m_host, &ip))
        return -1;
    std::memset(address, 0, sizeof(*address));
    address->sin_family = AF_INET;
    address->sin_port = htons(static_cast<uint16_t>(m_port));
    address->sin_addr.s_addr = m_host.empty() ? htonl(INADDR_ANY) : ip;
    return 0;
}

bool RDSocketAddress::parseDottedQuad(const std::string& host, unsigned int* networkOrder)
{
    uint32_t value = 0;
    if (!parseIpv4(host, &value))
        return false;
    if (networkOrder)
        *networkOrder = htonl(value);
    return true;
}

bool RDSocketAddress::isDottedQuad(const std::string& host)
{
    return parseDottedQuad(host, nullptr);
}

int RDSocketAddress::resolve(std::string& host)
{
    if (isDottedQuad(host))
        return 0;
    if (host.empty() || host.size() > 253)
        return -1;
    in_addr numeric{};
    if (inet_aton(host.c_str(), &numeric)) {
        // The resolver would read this as an address ("127.1", "0x7f.0.0.1", "010.1.1.1" in
        // octal); an operator who typed it meant something else.
        RDLOG("host %s is not a dotted-quad address", host.c_str());
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* results = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &results);
    if (rc != 0) {
        RDLOG("resolve %s failed: %s", host.c_str(), gai_strerror(rc));
        return -1;
    }
    int result = -1;
    for (addrinfo* ai = results; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || !ai->ai_addr)
            continue;
        host = ipv4Text(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr);
        result = 0;
        break;
    }
    freeaddrinfo(results);
    if (result != 0)
        RDLOG("resolve %s: no IPv4 address", host.c_str());
    return result;
}

int RDSocketAddress::numericHost(const std::string& host, bool emptyMeansAny, std::string* numeric)
{
    std::string text = host;
    if (text.empty()) {
        if (!emptyMeansAny)
            return -1;
        text = "0.0.0.0";
    }
    if (resolve(text) != 0)
        return -1;
    if (numeric)
        *numeric = text;
    return 0;
}
