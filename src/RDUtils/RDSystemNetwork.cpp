#include "RDSystemNetwork.h"

#include <cstdio>

namespace {

void registerType()
{
    static const int id = qRegisterMetaType<RDSystemNetwork>("RDSystemNetwork");
    (void)id;
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
