#include "SipLocalIp.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/route.h>
#include <netinet/in.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

std::string SipLocalIp::defaultRouteInterface(const std::string& routeTable)
{
    std::istringstream in(routeTable);
    std::string line;
    std::getline(in, line); // column titles
    std::string best;
    long bestMetric = LONG_MAX;
    while (std::getline(in, line)) {
        char iface[64] = {};
        unsigned long destination = 1, gateway = 0, mask = 1;
        unsigned int flags = 0;
        int refCount = 0, use = 0;
        long metric = 0;
        if (std::sscanf(line.c_str(), "%63s %lx %lx %x %d %d %ld %lx", iface, &destination, &gateway,
                        &flags, &refCount, &use, &metric, &mask) != 8)
            continue;
        if (destination != 0 || mask != 0 || !(flags & RTF_UP))
            continue;
        if (metric < bestMetric) {
            bestMetric = metric;
            best = iface;
        }
    }
    return best;
}

int SipLocalIp::guess(char* address, int size)
{
    if (!address || size < 1)
        return -1;
    address[0] = 0;
    // thread-self: a thread moved into another network namespace sees that namespace's routes.
    std::ifstream file("/proc/thread-self/net/route");
    if (!file)
        return -1;
    std::stringstream content;
    content << file.rdbuf();
    const std::string iface = defaultRouteInterface(content.str());
    if (iface.empty())
        return -1;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return -1;
    int result = -1;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !entry->ifa_name)
            continue;
        if (iface != entry->ifa_name)
            continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text)))
            continue;
        if (static_cast<int>(std::strlen(text)) >= size)
            break;
        std::snprintf(address, static_cast<size_t>(size), "%s", text);
        result = 0;
        break;
    }
    freeifaddrs(list);
    return result;
}
