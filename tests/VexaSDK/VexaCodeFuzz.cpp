// A connection code arrives from outside (a setting typed or imported, a scanned QR code): any
// text decodes or not without reading past it, and what decodes encodes back to itself.
#include "VexaCode.h"
#include "VexaCodeInfo.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0;
    const QString code = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));
    VexaCodeInfo info;
    if (!VexaCode::decode(code, info))
        return 0;
    if (info.payload.size() > VexaCode::kMaxPayload)
        std::abort();
    // What decodes, encodes back to a code of the same payload (the code itself may differ in
    // the case of its hex digits, or in a length field that was not hexadecimal), unless the
    // payload alone holds an odd number of characters above 0x7F (the other fields made up for
    // them).
    if (VexaCode::checksum(info.payload, 0, info.payload.size()).size() != 2)
        return 0;
    VexaCodeInfo again;
    if (!VexaCode::decode(VexaCode::encode(info.payload), again) || again.payload != info.payload)
        std::abort();
    return 0;
}
