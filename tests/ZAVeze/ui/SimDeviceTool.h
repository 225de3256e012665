#pragma once

#include "ZAVezeDevice.h"

#include <QVector>

class ZAVeze;

// The device tool as the window tests drive it against the simulated devices of netns-run.sh:
// opened on the interface the simulator sits behind, and searched through the search dialog.
class SimDeviceTool
{
public:
    // Starts tool on the simulator's interface; false when it did not open in time.
    static bool open(ZAVeze& tool);
    // What a one-second search from the dialog found (gtest failures when it did not finish).
    static QVector<ZAVezeDevice> search(ZAVeze& tool);
};
