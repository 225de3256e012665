#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Where the stack's messages say they come from: per destination the masquerade (NAT address)
// set for it, else the source address the kernel routes to it from; and the name lookups of
// destinations, kept for a while. Under the stack lock.
class SipRoutes
{
public:
    // How long a lookup and a route's source address are kept, and how many of each.
    static constexpr int64_t kResolvedMs = 60000;
    static constexpr int64_t kUnresolvedMs = 10000;
    static constexpr size_t kCacheLimit = 256;

    struct Lookup
    {
        bool ok = false;
        in_addr address{};
    };

    // Messages to destHost:destPort (0 = any port), and answers to requests from it, carry
    // ip:port in Contact and Via sent-by: 0, or OSIP_BADPARAMETER.
    int masquerade(const char* destHost, int destPort, const char* ip, int port);

    // A lookup of host younger than its time-out: true with *lookup set.
    bool cachedLookup(const std::string& host, int64_t nowMs, Lookup* lookup) const;
    void storeLookup(const std::string& host, bool ok, const in_addr& address, int64_t nowMs);

    // The address and port our Contact and Via carry toward host:port, reached at address:
    // the masquerade when one matches (true); else the source address the kernel picks for
    // that destination (the default-route address, then 127.0.0.1, when it picks none) and
    // listenPort (5060 when not listening), false.
    bool localAddressFor(const std::string& host, int port, const in_addr& address, int listenPort, int64_t nowMs,
                         in_addr* ip, int* natPort);

private:
    struct Masquerade
    {
        std::string host;
        int port = 0;
        std::string ip;
        int natPort = 0;
    };
    struct CacheEntry
    {
        bool ok = false;
        in_addr address{};
        int64_t expiresMs = 0;
    };

    const Masquerade* masqueradeOf(const std::string& host, int port, const in_addr* address) const;

    std::vector<Masquerade> m_masquerades;
    std::map<std::string, CacheEntry> m_resolved;
    std::map<uint32_t, std::pair<in_addr, int64_t>> m_routeSource;
};
