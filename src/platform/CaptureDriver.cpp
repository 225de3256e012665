#include "CaptureDriver.h"

#include "RDLog.h"

#include <cstdlib>
#include <cstring>
#include <pcap/pcap.h>

bool CaptureDriver::installed()
{
    const char* fake = std::getenv("SONARIS_FAKE_NO_CAPTURE_DRIVER");
    if (fake && std::strcmp(fake, "1") == 0)
        return false;
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* devices = nullptr;
    if (pcap_findalldevs(&devices, error) != 0) {
        RDLOG("pcap_findalldevs failed: %s", error);
        return false;
    }
    const bool any = devices != nullptr;
    pcap_freealldevs(devices);
    return any;
}
