#include "RDDigest.h"

#include "RDBigEndian.h"

#include <cstring>

namespace {

// The 64 characters of the standard alphabet followed by the pad character.
const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
const char kBase64Pad = kBase64Alphabet[64];

uint32_t rotateLeft(uint32_t value, int bits)
{
    return (value << bits) | (value >> (32 - bits));
}

} // namespace

std::string base64Encode(const unsigned char* data, int length)
{
    std::string out;
    if (!data || length <= 0)
        return out;
    out.reserve(static_cast<size_t>((length + 2) / 3) * 4);
    int i = 0;
    for (; i + 2 < length; i += 3) {
        const uint32_t group = (uint32_t(data[i]) << 16) | (uint32_t(data[i + 1]) << 8) | data[i + 2];
        out.push_back(kBase64Alphabet[(group >> 18) & 63]);
        out.push_back(kBase64Alphabet[(group >> 12) & 63]);
        out.push_back(kBase64Alphabet[(group >> 6) & 63]);
        out.push_back(kBase64Alphabet[group & 63]);
    }
    const int rest = length - i;
    if (rest > 0) {
        const uint32_t group = (uint32_t(data[i]) << 16) | (rest == 2 ? uint32_t(data[i + 1]) << 8 : 0);
        out.push_back(kBase64Alphabet[(group >> 18) & 63]);
        out.push_back(kBase64Alphabet[(group >> 12) & 63]);
        out.push_back(rest == 2 ? kBase64Alphabet[(group >> 6) & 63] : kBase64Pad);
        out.push_back(kBase64Pad);
    }
    return out;
}

std::string base64Encode(const std::string& bytes)
{
    return base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
}

void sha1ProcessBlock(uint32_t state[5], const unsigned char block[64])
{
    uint32_t w[80];
    for (int t = 0; t < 16; ++t)
        w[t] = readBe32(block + t * 4);
    for (int t = 16; t < 80; ++t)
        w[t] = rotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const uint32_t temp = rotateLeft(a, 5) + f + e + w[t] + k;
        e = d;
        d = c;
        c = rotateLeft(b, 30);
        b = a;
        a = temp;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

int sha1(const char* data, int length, unsigned char* digest)
{
    if (!digest || length < 0 || (!data && length > 0))
        return 1;
    uint32_t state[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    int offset = 0;
    for (; offset + 64 <= length; offset += 64)
        sha1ProcessBlock(state, bytes + offset);

    // Padding: 0x80, zeros, then the message length in bits as a 64-bit big-endian number.
    unsigned char tail[128] = {};
    const int rest = length - offset;
    if (rest > 0)
        std::memcpy(tail, bytes + offset, static_cast<size_t>(rest));
    tail[rest] = 0x80;
    const int tailSize = rest + 1 + 8 <= 64 ? 64 : 128;
    const uint64_t bits = static_cast<uint64_t>(length) * 8;
    for (int i = 0; i < 8; ++i)
        tail[tailSize - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    sha1ProcessBlock(state, tail);
    if (tailSize == 128)
        sha1ProcessBlock(state, tail + 64);

    for (int i = 0; i < 5; ++i)
        writeBe32(digest + i * 4, state[i]);
    return 0;
}
