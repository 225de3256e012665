#include "RTPAudioPacket.h"

#include <cstdlib>
#include <cstring>

RTPAudioPacket::~RTPAudioPacket()
{
    release();
}

bool RTPAudioPacket::reserve(int bytes)
{
    if (capacity >= bytes)
        return true;
    std::free(data);
    data = static_cast<unsigned char*>(std::calloc(size_t(bytes), 1));
    capacity = data ? bytes : 0;
    return data != nullptr;
}

void RTPAudioPacket::setData(const void* bytes, int length)
{
    if (!bytes || length <= 0 || !reserve(length)) {
        this->length = 0;
        return;
    }
    std::memcpy(data, bytes, size_t(length));
    this->length = length;
}

bool RTPAudioPacket::hasMp3Header(const void* bytes, int length)
{
    const unsigned char* b = static_cast<const unsigned char*>(bytes);
    return b && length >= kMp3HeaderBytes && b[0] == 0 && b[1] == 0;
}

void RTPAudioPacket::setPayload(const void* bytes, int length)
{
    if (payloadType != kMp3PayloadType || hasMp3Header(bytes, length)) {
        setData(bytes, length);
        return;
    }
    if (!bytes || length <= 0 || length > 0x7fffffff - kMp3HeaderBytes
        || !reserve(length + kMp3HeaderBytes)) {
        this->length = 0;
        return;
    }
    // Must-be-zero field and fragment offset: each packet holds whole frames.
    std::memset(data, 0, kMp3HeaderBytes);
    std::memcpy(data + kMp3HeaderBytes, bytes, size_t(length));
    this->length = length + kMp3HeaderBytes;
}

void RTPAudioPacket::release()
{
    std::free(data);
    data = nullptr;
    capacity = 0;
    length = 0;
}
