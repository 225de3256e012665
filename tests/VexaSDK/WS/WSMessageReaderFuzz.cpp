// Feeds arbitrary bytes to the frame reader in pieces whose sizes the input's first byte picks,
// and checks that what it holds stays within one message plus the unread input.
#include "WSMessageReader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t chunk = 1 + data[0] % 64;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const size_t length = size - 1;
    WSMessageReader reader;
    std::string payload;
    for (size_t at = 0; at < length; at += chunk) {
        const size_t piece = std::min(chunk, length - at);
        reader.append(text + at, piece);
        for (;;) {
            const WSMessageReader::Event event = reader.next(&payload);
            if (payload.size() > static_cast<size_t>(WSMessageReader::kMaxMessageBytes))
                __builtin_trap();
            if (event == WSMessageReader::Event::NeedMore)
                break;
            if (event == WSMessageReader::Event::Close || event == WSMessageReader::Event::Error) {
                if (reader.held() != 0 || reader.closeCode() < 1000)
                    __builtin_trap();
                return 0;
            }
        }
        if (reader.held() > length)
            __builtin_trap();
    }
    return 0;
}
