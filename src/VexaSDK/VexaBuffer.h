#pragma once

#include <cstdint>
#include <vector>

// The holder of messages and payloads in the remote-access layer: the bytes meant are `length`
// bytes of `data` from index `offset`. A received message can so be handed on, or an audio
// payload referred to inside it, without copying.
//
// The three fields are public and may disagree (a careless writer, a hostile length): bytes()
// and size() check them, and every reader in this layer goes through those two.
class VexaBuffer
{
public:
    VexaBuffer() = default;
    // A copy of length bytes at offset 0; null bytes or a length below 1 give an empty buffer.
    VexaBuffer(const void* bytes, int length);

    // Empties the vector (its capacity is kept), offset and length 0.
    void clear();
    // Replaces the contents with a copy of length bytes, at offset 0 (capacity reused).
    void assign(const void* bytes, int length);

    // True when offset and length lie inside the vector.
    bool isValid() const;
    // The first byte meant, or null when the buffer is empty or not valid.
    const uint8_t* bytes() const;
    // The number of bytes meant: length when the buffer is valid, else 0.
    int size() const;

    std::vector<uint8_t> data;
    int offset = 0;
    int length = 0;
};
