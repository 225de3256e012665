#include "WSFrameHeader.h"

#include "RDBigEndian.h"

namespace {

constexpr uint8_t kFinBit = 0x80;
constexpr uint8_t kReservedBits = 0x70;
constexpr uint8_t kOpcodeBits = 0x0f;
constexpr uint8_t kMaskBit = 0x80;
constexpr uint8_t kLengthBits = 0x7f;
constexpr uint8_t kLength16 = 126;
constexpr uint8_t kLength64 = 127;

bool isKnownOpcode(int opcode)
{
    switch (static_cast<WSOpcode>(opcode)) {
    case WSOpcode::Continuation:
    case WSOpcode::Text:
    case WSOpcode::Binary:
    case WSOpcode::Close:
    case WSOpcode::Ping:
    case WSOpcode::Pong:
        return true;
    }
    return false;
}

} // namespace

WSFrameHeader::Status WSFrameHeader::parse(const uint8_t* data, size_t length)
{
    if (!data || length < 2)
        return Status::Incomplete;
    const uint8_t first = data[0];
    const uint8_t second = data[1];
    const int code = first & kOpcodeBits;
    // RFC 6455 5.2: no extension is negotiated, so every reserved bit must be 0.
    if (first & kReservedBits)
        return Status::ReservedBits;
    if (!isKnownOpcode(code))
        return Status::UnknownOpcode;
    const bool final = (first & kFinBit) != 0;
    const bool hasMask = (second & kMaskBit) != 0;
    const uint8_t lengthCode = second & kLengthBits;

    size_t need = 2;
    uint64_t payload = lengthCode;
    if (lengthCode == kLength16) {
        need += 2;
        if (length < need)
            return Status::Incomplete;
        payload = readBe16(data + 2);
    } else if (lengthCode == kLength64) {
        need += 8;
        if (length < need)
            return Status::Incomplete;
        payload = (uint64_t(readBe32(data + 2)) << 32) | readBe32(data + 6);
    }
    // RFC 6455 5.5: control frames are short and never fragmented.
    if (isControl(code) && payload > kMaxControlPayload)
        return Status::ControlTooLong;
    if (isControl(code) && !final)
        return Status::ControlFragmented;
    if (payload > kMaxPayloadLength)
        return Status::LengthTooLarge;
    const size_t keyAt = need;
    if (hasMask)
        need += 4;
    if (length < need)
        return Status::Incomplete;

    fin = final;
    opcode = code;
    masked = hasMask;
    for (int i = 0; i < 4; ++i)
        mask[i] = hasMask ? data[keyAt + i] : 0;
    payloadLength = payload;
    size = static_cast<int>(need);
    return Status::Ok;
}

std::string WSFrameHeader::encode(WSOpcode opcode, const char* payload, size_t length, const uint8_t* key)
{
    uint8_t head[kMaxSize];
    size_t size = 2;
    head[0] = static_cast<uint8_t>(kFinBit | static_cast<uint8_t>(opcode));
    const uint8_t maskBit = key ? kMaskBit : 0;
    // RFC 6455 5.2: the shortest form that holds the length.
    if (length < kLength16) {
        head[1] = static_cast<uint8_t>(maskBit | length);
    } else if (length <= 0xffff) {
        head[1] = maskBit | kLength16;
        writeBe16(head + 2, static_cast<uint16_t>(length));
        size += 2;
    } else {
        head[1] = maskBit | kLength64;
        writeBe32(head + 2, static_cast<uint32_t>(uint64_t(length) >> 32));
        writeBe32(head + 6, static_cast<uint32_t>(length));
        size += 8;
    }
    if (key) {
        for (int i = 0; i < 4; ++i)
            head[size + i] = key[i];
        size += 4;
    }
    std::string frame(reinterpret_cast<const char*>(head), size);
    if (payload && length > 0)
        frame.append(payload, length);
    if (key)
        unmask(&frame[size], length, key);
    return frame;
}

std::string WSFrameHeader::encodeClose(WSCloseCode code)
{
    return encodeClose(static_cast<uint16_t>(code));
}

std::string WSFrameHeader::encodeClose(uint16_t code)
{
    if (code == static_cast<uint16_t>(WSCloseCode::NoStatus))
        return encode(WSOpcode::Close, nullptr, 0);
    uint8_t body[2];
    writeBe16(body, code);
    return encode(WSOpcode::Close, reinterpret_cast<const char*>(body), sizeof(body));
}

void WSFrameHeader::unmask(char* data, size_t length, const uint8_t key[4], size_t offset)
{
    for (size_t j = 0; j < length; ++j)
        data[j] = static_cast<char>(static_cast<uint8_t>(data[j]) ^ key[(offset + j) & 3]);
}

WSCloseCode WSFrameHeader::closeCodeFor(Status status)
{
    return status == Status::LengthTooLarge ? WSCloseCode::MessageTooBig : WSCloseCode::ProtocolError;
}

const char* WSFrameHeader::describe(Status status)
{
    switch (status) {
    case Status::Ok:
        return "ok";
    case Status::Incomplete:
        return "incomplete";
    case Status::ReservedBits:
        return "reserved bits set";
    case Status::UnknownOpcode:
        return "unknown opcode";
    case Status::ControlTooLong:
        return "control frame over 125 bytes";
    case Status::ControlFragmented:
        return "fragmented control frame";
    case Status::LengthTooLarge:
        return "length of 2^31 or more";
    }
    return "unknown";
}
