#pragma once

#include "RDData.h"

#include <climits>

// A byte queue in one growable heap block: unread bytes start at the read offset and are moved
// to the front of the block before it grows.
class RDMemoryData : public RDData
{
public:
    // The block never grows beyond this; a write that needs more is refused.
    static constexpr int kMaxCapacity = INT_MAX / 2;

    explicit RDMemoryData(int capacity = 4096);
    ~RDMemoryData() override;

    // A block of exactly size bytes holding the unread bytes at its start (cut to size when
    // they do not fit). The new capacity, or -1 (store unchanged) when the block cannot be had.
    int reserve(int size);
    // The first unread byte; look without consuming.
    char* data() { return m_buffer + m_offset; }
    const char* data() const { return m_buffer + m_offset; }
    int capacity() const { return m_capacity; }

    bool isEmpty() const override { return m_length == 0; }
    int write(const char* data, int length) override;
    int read(char* buffer, int length) override;
    int skip(int length) override;
    int size() const override { return m_length; }

private:
    char* m_buffer = nullptr;
    int m_capacity = 0;
    int m_length = 0;
    int m_offset = 0;
};
