#include "ZAVezeStaticAddressPlan.h"

bool ZAVezeStaticAddressPlan::plan(const ZAVezeIpInfo& first, int count, QVector<ZAVezeIpInfo>* addresses)
{
    addresses->clear();
    if (count <= 0)
        return true;
    if (!first.isHostAddress())
        return false;
    QVector<ZAVezeIpInfo> planned;
    planned.reserve(count);
    planned.append(first);
    // nextAddress stops at the broadcast address and never leaves the subnet, and each entry
    // is one above the previous, so the list stays free of repeats.
    while (planned.size() < count) {
        bool ok = false;
        const ZAVezeIpInfo next = planned.constLast().nextAddress(&ok);
        if (!ok)
            return false;
        planned.append(next);
    }
    *addresses = planned;
    return true;
}
