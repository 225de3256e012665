#include "VexaAudioPacket.h"

#include "RDBigEndian.h"

#include <cstring>

const char* VexaAudioPacket::headerStatusText(HeaderStatus status)
{
    switch (status) {
    case kHeaderOk:
        return "ok";
    case kHeaderShort:
        return "shorter than its header";
    case kHeaderPayloadType:
        return "unknown payload type";
    case kHeaderChannels:
        return "channel count not 1 or 2";
    case kHeaderDuration:
        return "duration not 1 us to 1 s";
    }
    return "unknown";
}

void VexaAudioPacket::clear()
{
    payloadType = 0;
    channels = 0;
    sampleRate = 0;
    duration = 0;
    payload.clear();
}

void VexaAudioPacket::setPayload(const void* bytes, int length)
{
    payload.assign(bytes, length);
}

void VexaAudioPacket::writeHeader(uint8_t* at) const
{
    at[0] = static_cast<uint8_t>(payloadType);
    at[1] = static_cast<uint8_t>(channels);
    writeBe16(at + 2, static_cast<uint16_t>(sampleRate));
    writeBe32(at + 4, static_cast<uint32_t>(duration));
}

void VexaAudioPacket::readHeader(const uint8_t* at)
{
    payloadType = static_cast<int8_t>(at[0]);
    channels = static_cast<int8_t>(at[1]);
    sampleRate = readBe16(at + 2);
    duration = static_cast<int32_t>(readBe32(at + 4));
}

int VexaAudioPacket::writeTo(std::vector<uint8_t>& buffer, int position, int capacity) const
{
    const int need = length() + kHeaderSize;
    if (capacity < 0 || static_cast<size_t>(capacity) > buffer.size())
        return need;
    return writeTo(buffer.data(), position, capacity);
}

int VexaAudioPacket::writeTo(uint8_t* buffer, int position, int capacity) const
{
    const int need = length() + kHeaderSize;
    // In 64 bits: a position near INT_MAX must not wrap into "fits".
    if (!buffer || position < 0 || int64_t(position) + need > int64_t(capacity))
        return need;
    writeHeader(buffer + position);
    if (const uint8_t* bytes = payloadBytes())
        std::memcpy(buffer + position + kHeaderSize, bytes, static_cast<size_t>(length()));
    return need;
}

bool VexaAudioPacket::readFrom(const std::vector<uint8_t>& bytes, int position, int count)
{
    if (count < kHeaderSize || position < 0 || int64_t(position) + count > int64_t(bytes.size()))
        return false;
    readHeader(bytes.data() + position);
    payload.data = bytes;
    payload.offset = position + kHeaderSize;
    payload.length = count - kHeaderSize;
    return true;
}

bool VexaAudioPacket::readFrom(const uint8_t* bytes, int position, int count)
{
    if (!bytes || count < kHeaderSize || position < 0)
        return false;
    readHeader(bytes + position);
    payload.assign(bytes + position + kHeaderSize, count - kHeaderSize);
    return true;
}

VexaAudioPacket::HeaderStatus VexaAudioPacket::checkHeader() const
{
    switch (payloadType) {
    case kPayloadPcmu:
    case kPayloadPcma:
    case kPayloadG722:
    case kPayloadL16Stereo:
    case kPayloadL16Mono:
    case kPayloadMpa:
        break;
    default:
        return kHeaderPayloadType;
    }
    if (channels != 1 && channels != 2)
        return kHeaderChannels;
    if (duration < 1 || duration > kMaxDurationUs)
        return kHeaderDuration;
    return kHeaderOk;
}

VexaAudioPacket::HeaderStatus VexaAudioPacket::parse(const uint8_t* bytes, int count)
{
    if (!bytes || count < kHeaderSize)
        return kHeaderShort;
    VexaAudioPacket read;
    read.readHeader(bytes);
    const HeaderStatus status = read.checkHeader();
    if (status != kHeaderOk)
        return status;
    payloadType = read.payloadType;
    channels = read.channels;
    sampleRate = read.sampleRate;
    duration = read.duration;
    payload.assign(bytes + kHeaderSize, count - kHeaderSize);
    return kHeaderOk;
}
