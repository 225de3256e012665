#pragma once

#include "ZAVezeDevice.h"

#include <QVector>

// Device records as a search makes them: MAC 02:00:00:00:00:<index>, IPv4 192.168.1.<10 + index>
// unless given, and a name, netmask, gateway, SIP and RTP summary, firmware, volumes and account.
namespace DeviceFixtures {

ZAVezeDevice device(int index, const QString& ip = QString());
QVector<ZAVezeDevice> devices(int count);

} // namespace DeviceFixtures
