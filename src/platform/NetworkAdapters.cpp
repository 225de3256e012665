#include "NetworkAdapters.h"

#include "RDIpv4.h"
#include "RDLog.h"

#include <QFile>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>

namespace {

constexpr unsigned kRouteUp = 0x0001;      // RTF_UP
constexpr unsigned kRouteGateway = 0x0002; // RTF_GATEWAY

QString dotted(const sockaddr* address)
{
    if (!address || address->sa_family != AF_INET)
        return QString();
    return QString::fromStdString(ipv4Text(reinterpret_cast<const sockaddr_in*>(address)->sin_addr));
}

// A route table of many routes outgrows a page.
constexpr qint64 kRouteTableLimit = 1 << 20;

QByteArray readSmallFile(const QString& path, qint64 limit = 4096)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(limit);
}

bool parseHex32(const QByteArray& field, quint32* value)
{
    bool ok = false;
    const qulonglong v = field.toULongLong(&ok, 16);
    if (!ok || v > 0xFFFFFFFFull)
        return false;
    *value = quint32(v);
    return true;
}

} // namespace

QList<NetworkAdapters::DefaultRoute> NetworkAdapters::defaultRoutes(const QByteArray& routeTable)
{
    QList<DefaultRoute> routes;
    const QList<QByteArray> lines = routeTable.split('\n');
    // The first line names the columns.
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines[i].simplified().split(' ');
        if (f.size() < 8)
            continue;
        quint32 destination = 0, gateway = 0, flags = 0, mask = 0;
        if (!parseHex32(f[1], &destination) || !parseHex32(f[2], &gateway) ||
            !parseHex32(f[3], &flags) || !parseHex32(f[7], &mask))
            continue;
        bool metricOk = false;
        const qlonglong metric = f[6].toLongLong(&metricOk);
        if (!metricOk || destination != 0 || mask != 0 || (flags & kRouteUp) == 0)
            continue;
        DefaultRoute route;
        route.iface = QString::fromLatin1(f[0]);
        route.metric = metric;
        if ((flags & kRouteGateway) != 0 && gateway != 0) {
            // The kernel prints the address as the hex of its in-memory (network order) value.
            in_addr in;
            in.s_addr = gateway;
            route.gateway = QString::fromStdString(ipv4Text(in));
        }
        routes.append(route);
    }
    std::stable_sort(routes.begin(), routes.end(),
                     [](const DefaultRoute& a, const DefaultRoute& b) { return a.metric < b.metric; });
    return routes;
}

QMap<QString, QStringList> NetworkAdapters::defaultGateways(const QByteArray& routeTable)
{
    QMap<QString, QStringList> result;
    for (const DefaultRoute& r : defaultRoutes(routeTable)) {
        if (!r.gateway.isEmpty() && !result[r.iface].contains(r.gateway))
            result[r.iface].append(r.gateway);
    }
    return result;
}

QString NetworkAdapters::defaultRouteInterface()
{
    // thread-self: /proc/net is the thread group's namespace, not the calling thread's.
    const QList<DefaultRoute> routes = defaultRoutes(readSmallFile(QStringLiteral("/proc/thread-self/net/route"), kRouteTableLimit));
    return routes.isEmpty() ? QString() : routes.first().iface;
}

QByteArray NetworkAdapters::parseMac(const QByteArray& text)
{
    const QByteArray trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QByteArray();
    QByteArray mac;
    for (const QByteArray& part : trimmed.split(':')) {
        bool ok = false;
        const uint value = part.toUInt(&ok, 16);
        if (!ok || part.size() > 2 || value > 0xFF)
            return QByteArray();
        mac.append(char(value));
    }
    return mac;
}

QList<NetworkAdapters::Adapter> NetworkAdapters::list()
{
    QList<Adapter> adapters;
    ifaddrs* head = nullptr;
    if (getifaddrs(&head) != 0) {
        RDLOG("getifaddrs failed: %s", strerror(errno));
        return adapters;
    }

    const QMap<QString, QStringList> gateways =
        defaultGateways(readSmallFile(QStringLiteral("/proc/net/route"), kRouteTableLimit));

    QMap<unsigned, int> byIndex; // interface index -> position in adapters
    QMap<unsigned, QByteArray> packetMacs;
    for (ifaddrs* entry = head; entry; entry = entry->ifa_next) {
        if (!entry->ifa_name || (entry->ifa_flags & IFF_LOOPBACK) || !(entry->ifa_flags & IFF_UP))
            continue;
        const unsigned index = if_nametoindex(entry->ifa_name);
        if (index == 0)
            continue;
        if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_PACKET) {
            const auto* ll = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
            const int length = std::min<int>(ll->sll_halen, int(sizeof(ll->sll_addr)));
            packetMacs[index] = QByteArray(reinterpret_cast<const char*>(ll->sll_addr), length);
        }
        if (!byIndex.contains(index)) {
            Adapter adapter;
            adapter.name = QString::fromLocal8Bit(entry->ifa_name);
            adapter.description = adapter.name;
            byIndex.insert(index, adapters.size());
            adapters.append(adapter);
        }
        if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET) {
            Address address;
            address.ip = dotted(entry->ifa_addr);
            address.netmask = dotted(entry->ifa_netmask);
            adapters[byIndex.value(index)].addresses.append(address);
        }
    }
    freeifaddrs(head);

    QList<Adapter> ordered;
    for (auto it = byIndex.constBegin(); it != byIndex.constEnd(); ++it) {
        Adapter adapter = adapters[it.value()];
        if (adapter.addresses.isEmpty())
            continue;
        adapter.mac = parseMac(readSmallFile(QStringLiteral("/sys/class/net/%1/address").arg(adapter.name)));
        if (adapter.mac.isEmpty())
            adapter.mac = packetMacs.value(it.key());
        adapter.gateways = gateways.value(adapter.name);
        ordered.append(adapter);
    }
    return ordered;
}
