#include "ZAVezeTestFrames.h"

#include "ZAVezeFrame.h"

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

} // namespace ZAVezeTestFrames
