#include "RtpManagerSip.h"

#include "RtpInfo.h"

void RtpManagerSip::addChannels(const QVector<RtpInfo>& infos)
{
    for (const RtpInfo& info : infos)
        addChannel(info);
}
