#include "RDRingBuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {
constexpr int kDefaultCapacity = 8192;
}

RDRingBuffer::RDRingBuffer() : RDRingBuffer(kDefaultCapacity)
{
}

RDRingBuffer::RDRingBuffer(int capacity)
    : m_buffer(nullptr), m_readPos(0), m_length(0), m_capacity(0)
{
    if (capacity > 0) {
        m_buffer = static_cast<unsigned char*>(std::malloc(size_t(capacity)));
        if (m_buffer)
            m_capacity = capacity;
    }
}

RDRingBuffer::~RDRingBuffer()
{
    std::free(m_buffer);
    m_buffer = nullptr;
    m_readPos = 0;
    m_length = 0;
    m_capacity = 0;
}

int RDRingBuffer::write(const void* src, int n)
{
    if (!src || n <= 0 || m_capacity <= 0)
        return 0;
    const unsigned char* bytes = static_cast<const unsigned char*>(src);
    if (n > m_capacity) {
        // Only the last capacity bytes could survive anyway.
        bytes += n - m_capacity;
        n = m_capacity;
    }
    const int start = int((int64_t(m_readPos) + m_length) % m_capacity);
    const int first = std::min(n, m_capacity - start);
    std::memcpy(m_buffer + start, bytes, size_t(first));
    if (first < n)
        std::memcpy(m_buffer, bytes + first, size_t(n - first));

    if (n > m_capacity - m_length) {
        m_length = m_capacity;
        m_readPos = int((int64_t(start) + n) % m_capacity);
    } else {
        m_length += n;
    }
    return n;
}

int RDRingBuffer::read(void* dst, int n)
{
    if (!dst || n <= 0 || m_length <= 0)
        return 0;
    n = std::min(n, m_length);
    unsigned char* out = static_cast<unsigned char*>(dst);
    const int first = std::min(n, m_capacity - m_readPos);
    std::memcpy(out, m_buffer + m_readPos, size_t(first));
    if (first < n)
        std::memcpy(out + first, m_buffer, size_t(n - first));
    m_readPos = (m_readPos + n) % m_capacity;
    m_length -= n;
    return n;
}

void RDRingBuffer::clear()
{
    m_readPos = 0;
    m_length = 0;
}

bool RDRingBuffer::resize(int capacity)
{
    if (capacity <= 0)
        return false;
    unsigned char* buffer = static_cast<unsigned char*>(std::malloc(size_t(capacity)));
    if (!buffer)
        return false;
    // Drop the oldest bytes that the new capacity cannot hold.
    const int keep = std::min(m_length, capacity);
    if (m_length > keep) {
        m_readPos = (m_readPos + (m_length - keep)) % m_capacity;
        m_length = keep;
    }
    const int copied = read(buffer, keep);
    std::free(m_buffer);
    m_buffer = buffer;
    m_capacity = capacity;
    m_readPos = 0;
    m_length = copied;
    return true;
}
