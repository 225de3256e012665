#pragma once

#include "ZAVezeIpInfo.h"

#include <QVector>

// The static address settings that "Set All" hands to several devices at once: the typed
// settings for the first device (in table row order), then each next host address of the same
// subnet for the following ones.
class ZAVezeStaticAddressPlan
{
public:
    // Fills addresses with count entries and returns true; returns false, with addresses
    // emptied, when the typed address is no host address of its subnet or the subnet has too
    // few host addresses from there on. No entry is ever the network or broadcast address and
    // no address appears twice, so two devices never end up answering on one address.
    static bool plan(const ZAVezeIpInfo& first, int count, QVector<ZAVezeIpInfo>* addresses);
};
