#pragma once

#include "ZAVezeDevice.h"

#include <QJsonObject>
#include <QVector>

// Device records as a search makes them: MAC 02:00:00:00:00:<index>, IPv4 192.168.1.<10 + index>
// unless given, and a name, netmask, gateway, SIP and RTP summary, firmware, volumes and account.
namespace DeviceFixtures {

ZAVezeDevice device(int index, const QString& ip = QString());
QVector<ZAVezeDevice> devices(int count);
// A record from an object of tests/ZAVeze/ui/fixtures/panel-devices.json: "mac" and "ip" as
// text, "info" as the device sent it, "sip" its lines, "rtp" its destinations (any number).
ZAVezeDevice fromJson(const QJsonObject& object);
// The named object of that file (empty, with a test failure, when it cannot be read).
QJsonObject panelFixture(const QString& name);

} // namespace DeviceFixtures
