// A datagram on the discovery port, from anyone on the LAN: any bytes are taken as a request or
// dropped, without reading past them and without leaking.
#include "VexaDiscovery.h"

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    (void)quiet;
    if (size >= size_t(VexaDiscovery::kReceiveBufferSize))
        return 0;
    // The thread receives into a larger buffer and ends the datagram with a zero byte.
    std::vector<char> buffer(data, data + size);
    buffer.push_back('\0');
    (void)VexaDiscovery::isRequest(buffer.data(), int(size));
    return 0;
}
