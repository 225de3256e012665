#include "SipPacket.h"

#include <cstdlib>
#include <cstring>

SipPacket::~SipPacket()
{
    std::free(data);
}

SipPacket* SipPacket::create(int payloadType, uint8_t* data, int size, int tag, double duration)
{
    auto* packet = new SipPacket();
    packet->payloadType = payloadType;
    packet->data = data;
    packet->size = data && size > 0 ? size : 0;
    packet->capacity = packet->size;
    packet->tag = tag;
    packet->duration = duration;
    return packet;
}

SipPacket* SipPacket::copy(int payloadType, const void* data, int size, double duration)
{
    uint8_t* bytes = nullptr;
    if (data && size > 0) {
        bytes = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
        if (!bytes)
            return nullptr;
        std::memcpy(bytes, data, static_cast<size_t>(size));
    }
    return create(payloadType, bytes, bytes ? size : 0, 0, duration);
}
