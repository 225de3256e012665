#pragma once

// Whether packet capture works on this machine: libpcap can list at least one device. Setting
// the environment variable SONARIS_FAKE_NO_CAPTURE_DRIVER=1 makes it report "missing", so that
// the start-up path for a missing driver can be tested.
class CaptureDriver
{
public:
    static bool installed();
};
