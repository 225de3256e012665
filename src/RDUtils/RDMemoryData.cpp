#include "RDMemoryData.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

RDMemoryData::RDMemoryData(int capacity)
{
    reserve(capacity);
}

RDMemoryData::~RDMemoryData()
{
    std::free(m_buffer);
}

int RDMemoryData::reserve(int size)
{
    if (size > kMaxCapacity)
        return -1;
    char* block = nullptr;
    if (size > 0) {
        block = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
        if (!block)
            return -1;
    }
    const int keep = std::min(m_length, std::max(size, 0));
    if (keep > 0)
        std::memcpy(block, m_buffer + m_offset, static_cast<size_t>(keep));
    std::free(m_buffer);
    m_buffer = block;
    m_capacity = std::max(size, 0);
    m_length = keep;
    m_offset = 0;
    return m_capacity;
}

int RDMemoryData::write(const char* data, int length)
{
    if (length < 0 || (length > 0 && !data))
        return -1;
    const int64_t n = length;
    if (m_offset > 0 && m_capacity < m_offset + m_length + n) {
        std::memmove(m_buffer, m_buffer + m_offset, static_cast<size_t>(m_length));
        m_offset = 0;
    }
    const int64_t need = n + m_offset + m_length;
    if (need > kMaxCapacity)
        return -1;
    if (m_capacity < need) {
        int64_t grown = m_capacity < 5 ? 4 : int64_t(m_capacity) * 2;
        while (grown < need)
            grown *= 2;
        if (reserve(static_cast<int>(std::min<int64_t>(grown, kMaxCapacity))) < 0)
            return -1;
    }
    if (length > 0)
        std::memcpy(m_buffer + m_offset + m_length, data, static_cast<size_t>(length));
    m_length += length;
    return length;
}

int RDMemoryData::read(char* buffer, int length)
{
    if (!buffer)
        return 0;
    const int n = skip(length);
    if (n > 0)
        std::memcpy(buffer, m_buffer + m_offset - n, static_cast<size_t>(n));
    return n;
}

int RDMemoryData::skip(int length)
{
    if (length <= 0 || m_length == 0)
        return 0;
    const int n = std::min(length, m_length);
    m_offset += n;
    m_length -= n;
    return n;
}
