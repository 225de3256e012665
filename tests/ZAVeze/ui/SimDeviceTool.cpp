#include "SimDeviceTool.h"

#include "GuiTest.h"
#include "RDSystemNetwork.h"
#include "TestDeviceSim.h"
#include "ZAVeze.h"
#include "ZAVezeDeviceSearchDialog.h"

#include <gtest/gtest.h>

bool SimDeviceTool::open(ZAVeze& tool)
{
    for (const RDSystemNetwork& network : RDSystemNetwork::networks())
        if (network.name() == TestDeviceSim::interfaceName())
            tool.setNetwork(network);
    tool.start();
    return GuiTest::waitFor([&] { return tool.isOpen(); });
}

QVector<ZAVezeDevice> SimDeviceTool::search(ZAVeze& tool)
{
    ZAVezeDeviceSearchDialog dialog;
    EXPECT_TRUE(dialog.startSearch(&tool, 1.0));
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    return dialog.devices();
}
