#pragma once

#include <QString>

// Address settings to apply to a device: mode ("dhcp" or "static"), address, netmask, gateway
// and two name servers, as dotted texts.
class ZAVezeIpInfo
{
public:
    virtual ~ZAVezeIpInfo() = default;

    // The settings with the next host address in the subnet of ip and netmask (a /24 when the
    // netmask does not read as four numbers), so that several devices get consecutive
    // addresses. ok is false, and the copy unchanged, when ip does not read as four numbers or
    // the next address is the subnet's broadcast address or outside the subnet.
    ZAVezeIpInfo nextAddress(bool* ok = nullptr) const;
    // Whether ip is a host address of its subnet (neither the network nor the broadcast
    // address).
    bool isHostAddress() const;

    QString mode;
    QString ip;
    QString netmask;
    QString gateway;
    QString dns1;
    QString dns2;
};
