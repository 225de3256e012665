#pragma once

#include "ZAVezeReply.h"

#include <QByteArray>
#include <QJsonObject>

// Addresses and frames shared by the device tool's tests: the tool-side adapter of the test
// namespaces and one simulated device.
namespace ZAVezeTestFrames {

inline QByteArray adapterMac() { return QByteArray::fromHex("02000000dd01"); }
inline QByteArray adapterIp() { return QByteArray::fromHex("c0000201"); } // 192.0.2.1
inline QByteArray deviceMac() { return QByteArray::fromHex("02005e00000a"); }
inline QByteArray deviceIp() { return QByteArray::fromHex("c000020a"); } // 192.0.2.10

// A reply from the device to the adapter with this JSON text, its header consistent.
QByteArray reply(const QByteArray& json);
QByteArray reply(const QJsonObject& json);

// A reply record holding only the object of this JSON text.
ZAVezeReply replyOf(const char* json);

} // namespace ZAVezeTestFrames
