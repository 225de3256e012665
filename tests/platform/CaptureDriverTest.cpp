#include "CaptureDriver.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QtGlobal>

#include <net/if.h>

// libpcap lists every interface of the machine, and every machine (every network namespace)
// has its loopback interface: capture counts as installed. The switch for tests reports it
// missing, and only its value "1" does.
TEST(CaptureDriverTest, InstalledWhereTheLoopbackInterfaceExists)
{
    qunsetenv("SONARIS_FAKE_NO_CAPTURE_DRIVER");
    ASSERT_NE(if_nametoindex("lo"), 0u);
    EXPECT_TRUE(CaptureDriver::installed());

    qputenv("SONARIS_FAKE_NO_CAPTURE_DRIVER", "1");
    EXPECT_FALSE(CaptureDriver::installed());
    qputenv("SONARIS_FAKE_NO_CAPTURE_DRIVER", "0");
    EXPECT_TRUE(CaptureDriver::installed());
    qunsetenv("SONARIS_FAKE_NO_CAPTURE_DRIVER");
}
