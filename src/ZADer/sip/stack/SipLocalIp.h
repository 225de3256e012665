#pragma once

#include <string>

// The machine's own IPv4 address as a SIP agent announces it: the address of the interface that
// holds the default route. Reads the routing table of the calling thread's network namespace and
// the adapter list (NetworkAdapters).
class SipLocalIp
{
public:
    // Writes the dotted address into address (size bytes, always terminated); 0 on success,
    // negative when there is no default route or its interface has no IPv4 address.
    static int guess(char* address, int size);
    // The interface of the default route with the lowest metric; empty when none.
    static std::string defaultRouteInterface(const std::string& routeTable);
};
