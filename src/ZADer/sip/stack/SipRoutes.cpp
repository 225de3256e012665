#include "SipRoutes.h"

#include "SipLocalIp.h"
#include "SipText.h"

#include <osipparser2/osip_port.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

int SipRoutes::masquerade(const char* destHost, int destPort, const char* ip, int port)
{
    in_addr address{};
    if (!destHost || !*destHost || SipText::hasControl(destHost) || !ip || inet_pton(AF_INET, ip, &address) != 1 ||
        port < 1 || port > 65535 || destPort < 0 || destPort > 65535)
        return OSIP_BADPARAMETER;
    for (Masquerade& entry : m_masquerades) {
        if (entry.host == destHost && entry.port == destPort) {
            entry.ip = ip;
            entry.natPort = port;
            return 0;
        }
    }
    m_masquerades.push_back({destHost, destPort, ip, port});
    return 0;
}

const SipRoutes::Masquerade* SipRoutes::masqueradeOf(const std::string& host, int port, const in_addr* address) const
{
    for (const Masquerade& entry : m_masquerades) {
        if (entry.port != 0 && entry.port != port)
            continue;
        if (entry.host == host)
            return &entry;
        if (!address)
            continue;
        in_addr literal{};
        if (inet_pton(AF_INET, entry.host.c_str(), &literal) == 1) {
            if (literal.s_addr == address->s_addr)
                return &entry;
            continue;
        }
        auto cached = m_resolved.find(entry.host);
        if (cached != m_resolved.end() && cached->second.ok && cached->second.address.s_addr == address->s_addr)
            return &entry;
    }
    return nullptr;
}

bool SipRoutes::localAddressFor(const std::string& host, int port, const in_addr& address, int listenPort,
                                int64_t nowMs, in_addr* ip, int* natPort)
{
    if (const Masquerade* entry = masqueradeOf(host, port, &address)) {
        inet_pton(AF_INET, entry->ip.c_str(), ip);
        *natPort = entry->natPort;
        return true;
    }
    *natPort = listenPort > 0 ? listenPort : 5060;
    const int64_t now = nowMs;
    auto cached = m_routeSource.find(address.s_addr);
    if (cached != m_routeSource.end() && cached->second.second > now) {
        *ip = cached->second.first;
        return false;
    }
    // The source address the kernel picks for this destination (connecting sends nothing).
    in_addr source{};
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe >= 0) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr = address;
        to.sin_port = htons(static_cast<uint16_t>(port > 0 ? port : 5060));
        sockaddr_in mine{};
        socklen_t length = sizeof(mine);
        if (connect(probe, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0 &&
            getsockname(probe, reinterpret_cast<sockaddr*>(&mine), &length) == 0)
            source = mine.sin_addr;
        ::close(probe);
    }
    if (source.s_addr == htonl(INADDR_ANY)) {
        char text[INET_ADDRSTRLEN] = {};
        if (SipLocalIp::guess(text, sizeof(text)) != 0 || inet_pton(AF_INET, text, &source) != 1)
            inet_pton(AF_INET, "127.0.0.1", &source);
    }
    if (m_routeSource.size() >= kCacheLimit)
        m_routeSource.clear();
    m_routeSource[address.s_addr] = {source, now + kResolvedMs};
    *ip = source;
    return false;
}

bool SipRoutes::cachedLookup(const std::string& host, int64_t nowMs, Lookup* lookup) const
{
    auto cached = m_resolved.find(host);
    if (cached == m_resolved.end() || cached->second.expiresMs <= nowMs)
        return false;
    if (lookup) {
        lookup->ok = cached->second.ok;
        lookup->address = cached->second.address;
    }
    return true;
}

void SipRoutes::storeLookup(const std::string& host, bool ok, const in_addr& address, int64_t nowMs)
{
    if (m_resolved.size() >= kCacheLimit && !m_resolved.count(host)) {
        for (auto it = m_resolved.begin(); it != m_resolved.end();)
            it = it->second.expiresMs <= nowMs ? m_resolved.erase(it) : std::next(it);
    }
    CacheEntry& entry = m_resolved[host];
    entry.ok = ok;
    entry.address = address;
    entry.expiresMs = nowMs + (ok ? kResolvedMs : kUnresolvedMs);
}
