#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

// One IPv4 address of one network adapter, and the machine-wide services that go with the
// adapters: the adapter list and the choice of the saved adapter, start at log-on and the
// packet-capture driver check. A default record (all fields empty) means "no adapter chosen".
class RDSystemNetwork : public QObject
{
    Q_OBJECT

public:
    RDSystemNetwork();
    RDSystemNetwork(const RDSystemNetwork& other);
    RDSystemNetwork& operator=(const RDSystemNetwork& other);
    ~RDSystemNetwork() override;

    const QByteArray& mac() const { return m_mac; }
    // The packet-capture device name of the adapter.
    const QString& name() const { return m_name; }
    // What the user sees and what the setting "network name" stores.
    const QString& description() const { return m_description; }
    const QString& ip() const { return m_ip; }
    const QString& netmask() const { return m_netmask; }
    const QString& gateway() const { return m_gateway; }
    // The four address bytes, empty when ip is not four numbers.
    const QByteArray& ipBytes() const { return m_ipBytes; }

    void setMac(const QByteArray& mac) { m_mac = mac; }
    void setName(const QString& name) { m_name = name; }
    void setDescription(const QString& description) { m_description = description; }
    void setIp(const QString& ip) { m_ip = ip; }
    void setNetmask(const QString& netmask) { m_netmask = netmask; }
    void setGateway(const QString& gateway) { m_gateway = gateway; }
    void setIpBytes(const QByteArray& ipBytes) { m_ipBytes = ipBytes; }

    // The system queries below (networks, select, the log-on start and isInstalled) sit on the
    // platform layer: they are defined in the system utilities (sonaris_rdsystem), which a
    // caller links to use them.

    // One record per IPv4 address of every adapter, read afresh; addresses 0.0.0.0 and
    // link-local ones (169.254.0.0/16) are left out.
    static QList<RDSystemNetwork> networks();
    // The record with exactly this description, else the first whose gateway is 192.168.x.x,
    // else the first; an empty record for an empty list.
    static RDSystemNetwork selectFrom(const QList<RDSystemNetwork>& networks, const QString& description);
    static RDSystemNetwork select(const QString& description);

    // Start the application at log-on of this user; false when that cannot be recorded.
    static bool setAutoStart();
    static bool removeAutoStart();

    // Whether the named program is installed. The only program the application asks about is
    // the packet-capture driver ("npcap", any case), which counts as installed when capture
    // works here; any other name is not known.
    static bool isInstalled(const QString& displayName);

    // The address bytes for dotted text read as four numbers (each number's low 8 bits), empty
    // otherwise.
    static QByteArray parseIpBytes(const QString& ip);

private:
    QByteArray m_mac;
    QString m_name;
    QString m_description;
    QString m_ip;
    QString m_netmask;
    QString m_gateway;
    QByteArray m_ipBytes;
};

Q_DECLARE_METATYPE(RDSystemNetwork)
