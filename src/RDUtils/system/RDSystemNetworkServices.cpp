#include "RDSystemNetwork.h"

#include "AutoStartEntry.h"
#include "CaptureDriver.h"
#include "NetworkAdapters.h"
#include "RDIpv4.h"
#include "RDLog.h"

#include <QCoreApplication>
#include <QDir>

// The members of RDSystemNetwork that ask the system (adapters, log-on start, the capture
// driver): they sit on the platform layer, so they live here, above it, while the record itself
// stays with the core utilities for the layers below to pass around.

namespace {

bool isLinkLocal(const QString& ip)
{
    uint32_t address = 0;
    if (!parseIpv4(ip.toStdString(), &address))
        return false;
    return (address & 0xFFFF0000u) == 0xA9FE0000u;
}

} // namespace

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
