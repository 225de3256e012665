// Feeds arbitrary bytes to the opening-handshake reader, whole and as every prefix a slow client
// could have sent so far.
#include "WSHandshake.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    const int length = static_cast<int>(std::min<size_t>(size, 4 * WSHandshake::kMaxRequestBytes));
    WSHandshake whole;
    const WSHandshake::Status status = whole.parse(text, length);
    if (status == WSHandshake::Status::Ok) {
        if (whole.headLength() <= 0 || whole.headLength() > length || whole.key().empty())
            __builtin_trap();
        WSHandshake::acceptResponse(whole.key());
    } else {
        WSHandshake::refusalResponse(status);
    }
    // A prefix that ends before the head's blank line can never be Ok.
    for (int n = 0; n < std::min(length, 512); ++n) {
        WSHandshake part;
        if (part.parse(text, n) == WSHandshake::Status::Ok && part.headLength() > n)
            __builtin_trap();
    }
    return 0;
}
