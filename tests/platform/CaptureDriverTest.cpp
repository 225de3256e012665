#include "CaptureDriver.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QtGlobal>

#include <pcap/pcap.h>

TEST(CaptureDriverTest, ReportsWhetherCaptureListsDevices)
{
    qunsetenv("SONARIS_FAKE_NO_CAPTURE_DRIVER");
    char error[PCAP_ERRBUF_SIZE];
    pcap_if_t* devices = nullptr;
    const bool listed = pcap_findalldevs(&devices, error) == 0 && devices;
    if (devices)
        pcap_freealldevs(devices);
    EXPECT_EQ(CaptureDriver::installed(), listed);

    qputenv("SONARIS_FAKE_NO_CAPTURE_DRIVER", "1");
    EXPECT_FALSE(CaptureDriver::installed());
    qputenv("SONARIS_FAKE_NO_CAPTURE_DRIVER", "0");
    EXPECT_EQ(CaptureDriver::installed(), listed);
    qunsetenv("SONARIS_FAKE_NO_CAPTURE_DRIVER");
}
