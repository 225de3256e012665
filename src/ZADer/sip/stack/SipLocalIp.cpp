#include "SipLocalIp.h"

#include "NetworkAdapters.h"

#include <cstdio>

std::string SipLocalIp::defaultRouteInterface(const std::string& routeTable)
{
    const QList<NetworkAdapters::DefaultRoute> routes =
        NetworkAdapters::defaultRoutes(QByteArray::fromStdString(routeTable));
    return routes.isEmpty() ? std::string() : routes.first().iface.toStdString();
}

int SipLocalIp::guess(char* address, int size)
{
    if (!address || size < 1)
        return -1;
    address[0] = 0;
    const QString iface = NetworkAdapters::defaultRouteInterface();
    if (iface.isEmpty())
        return -1;
    for (const NetworkAdapters::Adapter& adapter : NetworkAdapters::list()) {
        if (adapter.name != iface || adapter.addresses.isEmpty())
            continue;
        const std::string text = adapter.addresses.first().ip.toStdString();
        if (text.empty() || static_cast<int>(text.size()) >= size)
            return -1;
        std::snprintf(address, static_cast<size_t>(size), "%s", text.c_str());
        return 0;
    }
    return -1;
}
