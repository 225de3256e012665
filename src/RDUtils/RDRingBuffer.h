#pragma once

// A byte ring of fixed capacity. When a write does not fit, the oldest bytes give way, so a
// reader always gets the newest bytes in the order they were written.
class RDRingBuffer
{
public:
    RDRingBuffer();
    explicit RDRingBuffer(int capacity);
    ~RDRingBuffer();

    RDRingBuffer(const RDRingBuffer&) = delete;
    RDRingBuffer& operator=(const RDRingBuffer&) = delete;

    // Bytes stored.
    int size() const { return m_length; }
    int capacity() const { return m_capacity; }

    // Appends n bytes (at most the capacity: the last capacity bytes of src); returns the count
    // taken. A null source or n <= 0 writes nothing.
    int write(const void* src, int n);
    // Moves up to n stored bytes, oldest first, into dst; returns the count. A null destination
    // or n <= 0 reads nothing.
    int read(void* dst, int n);
    // Forgets the stored bytes; the buffer is kept.
    void clear();
    // Gives the ring a new capacity, keeping the stored bytes (the newest of them when they do
    // not all fit). Returns false when the memory cannot be had; the ring is then unchanged.
    bool resize(int capacity);

private:
    unsigned char* m_buffer;
    int m_readPos;
    int m_length;
    int m_capacity;
};
