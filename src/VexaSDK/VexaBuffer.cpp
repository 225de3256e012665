#include "VexaBuffer.h"

#include <cstddef>

VexaBuffer::VexaBuffer(const void* bytes, int length)
{
    assign(bytes, length);
}

void VexaBuffer::clear()
{
    data.clear();
    offset = 0;
    length = 0;
}

void VexaBuffer::assign(const void* bytes, int length)
{
    clear();
    if (!bytes || length < 1)
        return;
    const auto* first = static_cast<const uint8_t*>(bytes);
    data.assign(first, first + length);
    this->length = length;
}

bool VexaBuffer::isValid() const
{
    return offset >= 0 && length >= 0 && static_cast<size_t>(offset) + static_cast<size_t>(length) <= data.size();
}

const uint8_t* VexaBuffer::bytes() const
{
    if (length < 1 || !isValid())
        return nullptr;
    return data.data() + offset;
}

int VexaBuffer::size() const
{
    return isValid() ? length : 0;
}
