#include "ZAVezeTestFrames.h"

#include "ZAVezeFrame.h"
#include "ZAVezeReply.h"

#include <QJsonDocument>

namespace ZAVezeTestFrames {

QByteArray reply(const QByteArray& json)
{
    // A reply is shaped like a request, from the device to the adapter.
    return ZAVezeFrame::build(adapterMac(), adapterIp(), deviceMac(), deviceIp(), json);
}

QByteArray reply(const QJsonObject& json)
{
    return reply(ZAVezeFrame::jsonText(json));
}

ZAVezeReply replyOf(const char* json)
{
    ZAVezeReply reply;
    reply.json = QJsonDocument::fromJson(json).object();
    return reply;
}

} // namespace ZAVezeTestFrames
