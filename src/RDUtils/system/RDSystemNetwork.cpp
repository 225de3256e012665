#include "RDSystemNetwork.h"

#include "AutoStartEntry.h"
#include "CaptureDriver.h"
#include "NetworkAdapters.h"
#include "RDIpv4.h"
#include "RDLog.h"

#include <QCoreApplication>
#include <QDir>

#include <arpa/inet.h>
#include <cstdio>

namespace {

void registerType()
{
    static const int id = qRegisterMetaType<RDSystemNetwork>("RDSystemNetwork");
    (void)id;
}

bool isLinkLocal(const QString& ip)
{
    uint32_t address = 0;
    if (!parseIpv4(ip.toStdString(), &address))
        return false;
    return (address & 0xFFFF0000u) == 0xA9FE0000u;
}

bool gatewayIn192168(const QString& gateway)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    const QByteArray text = gateway.toLatin1();
    return std::sscanf(text.constData(), "%u.%u.%u.%u", &a, &b, &c, &d) == 4 && a == 192 && b == 168;
}

} // namespace

RDSystemNetwork::RDSystemNetwork() : QObject(nullptr)
{
    registerType();
}

RDSystemNetwork::RDSystemNetwork(const RDSystemNetwork& other)
    : QObject(nullptr), m_mac(other.m_mac), m_name(other.m_name), m_description(other.m_description),
      m_ip(other.m_ip), m_netmask(other.m_netmask), m_gateway(other.m_gateway), m_ipBytes(other.m_ipBytes)
{
}

RDSystemNetwork& RDSystemNetwork::operator=(const RDSystemNetwork& other)
{
    if (this == &other)
        return *this;
    m_mac = other.m_mac;
    m_name = other.m_name;
    m_description = other.m_description;
    m_ip = other.m_ip;
    m_netmask = other.m_netmask;
    m_gateway = other.m_gateway;
    m_ipBytes = other.m_ipBytes;
    return *this;
}

RDSystemNetwork::~RDSystemNetwork() = default;

QByteArray RDSystemNetwork::parseIpBytes(const QString& ip)
{
    int a = 0, b = 0, c = 0, d = 0;
    const QByteArray text = ip.toLatin1();
    if (std::sscanf(text.constData(), "%d.%d.%d.%d", &a, &b, &c, &d) != 4)
        return QByteArray();
    QByteArray bytes(4, '\0');
    bytes[0] = char(a & 0xFF);
    bytes[1] = char(b & 0xFF);
    bytes[2] = char(c & 0xFF);
    bytes[3] = char(d & 0xFF);
    return bytes;
}

QList<RDSystemNetwork> RDSystemNetwork::networks()
{
    QList<RDSystemNetwork> list;
    for (const NetworkAdapters::Adapter& adapter : NetworkAdapters::list()) {
        for (const NetworkAdapters::Address& address : adapter.addresses) {
            if (address.ip.isEmpty() || address.ip == QLatin1String("0.0.0.0") || isLinkLocal(address.ip))
                continue;
            RDSystemNetwork record;
            record.m_name = adapter.name;
            record.m_description = adapter.description;
            record.m_mac = adapter.mac;
            record.m_gateway = adapter.gateways.value(0);
            record.m_ip = address.ip;
            record.m_netmask = address.netmask;
            record.m_ipBytes = parseIpBytes(address.ip);
            list.append(record);
        }
    }
    return list;
}

RDSystemNetwork RDSystemNetwork::selectFrom(const QList<RDSystemNetwork>& networks, const QString& description)
{
    if (networks.isEmpty())
        return RDSystemNetwork();
    for (const RDSystemNetwork& n : networks) {
        if (n.m_description == description)
            return n;
    }
    for (const RDSystemNetwork& n : networks) {
        if (gatewayIn192168(n.m_gateway))
            return n;
    }
    return networks.first();
}

RDSystemNetwork RDSystemNetwork::select(const QString& description)
{
    return selectFrom(networks(), description);
}

bool RDSystemNetwork::setAutoStart()
{
    return AutoStartEntry::install(QCoreApplication::applicationName(),
                                   QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
}

bool RDSystemNetwork::removeAutoStart()
{
    return AutoStartEntry::remove(QCoreApplication::applicationName());
}

bool RDSystemNetwork::isInstalled(const QString& displayName)
{
    if (displayName.compare(QLatin1String("npcap"), Qt::CaseInsensitive) == 0)
        return CaptureDriver::installed();
    RDLOGLINE() << "no record of installed programs here; not installed: " << displayName;
    return false;
}
