// A remote app's audio frame is network input: read in both forms at any position, checked,
// and written back, it must stay inside its bytes and come out as it went in.
#include "VexaAudioPacket.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first byte picks the position inside the message; the frame is the rest.
    if (size < 1 || size > (1 << 20))
        return 0;
    const int position = data[0] % 16;
    const std::vector<uint8_t> message(data + 1, data + size);
    const int count = static_cast<int>(message.size()) - position;

    VexaAudioPacket inside;
    const bool read = inside.readFrom(message, position, count);
    VexaAudioPacket raw;
    const bool copied = count >= 0 && raw.readFrom(message.data(), position, count);
    if (read != copied)
        std::abort();
    if (!read)
        return 0;
    if (inside.length() != count - VexaAudioPacket::kHeaderSize || raw.length() != inside.length())
        std::abort();

    VexaAudioPacket parsed;
    const VexaAudioPacket::HeaderStatus status = parsed.parse(message.data() + position, count);
    if (status != inside.checkHeader() || !VexaAudioPacket::headerStatusText(status))
        std::abort();

    // Written back, it is the same bytes (the header fields of a read frame all fit the wire).
    std::vector<uint8_t> out(static_cast<size_t>(inside.writeTo(nullptr, 0, 0)));
    if (inside.writeTo(out, 0, static_cast<int>(out.size())) != count)
        std::abort();
    if (!std::equal(out.begin(), out.end(), message.begin() + position))
        std::abort();
    // One byte short: nothing written.
    std::vector<uint8_t> small(out.size() - 1, 0);
    inside.writeTo(small, 0, static_cast<int>(small.size()));
    for (uint8_t b : small) {
        if (b != 0)
            std::abort();
    }
    return 0;
}
