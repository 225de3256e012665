#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// The machine's network adapters as the system reports them: one entry per interface that is up
// and not loopback, with its hardware address, its IPv4 addresses and its default gateways.
// Interface name, description and capture device name are all the kernel's interface name.
class NetworkAdapters
{
public:
    struct Address
    {
        QString ip;       // dotted text
        QString netmask;  // dotted text
    };

    struct Adapter
    {
        QString name;
        QString description;
        QByteArray mac;           // as many bytes as the interface reports
        QList<Address> addresses; // in the order the kernel lists them
        QStringList gateways;     // default routes through this interface, preferred first
    };

    struct DefaultRoute
    {
        QString iface;
        QString gateway; // dotted text; empty for a route straight onto the link
        qlonglong metric = 0;
    };

    // Adapters in interface-index order. Empty when the list cannot be read.
    static QList<Adapter> list();

    // The default routes that are up in the text of /proc/net/route, lowest metric first (ties
    // keep file order).
    static QList<DefaultRoute> defaultRoutes(const QByteArray& routeTable);
    // The interface of the preferred default route in the calling thread's network namespace
    // (a thread may have entered another one); empty when there is none.
    static QString defaultRouteInterface();

    // Default gateways per interface from the text of /proc/net/route: for every interface, the
    // gateways of its default routes that are up, lowest metric first (ties keep file order).
    static QMap<QString, QStringList> defaultGateways(const QByteArray& routeTable);

    // Hardware address from the text of /sys/class/net/<if>/address ("02:00:00:00:00:01").
    // Empty when the text is not colon-separated hex bytes.
    static QByteArray parseMac(const QByteArray& text);
};
