#pragma once

// A byte queue: bytes are written at one end and read or skipped at the other. Stores are not
// locked; each is used by one thread at a time.
class RDData
{
public:
    RDData() = default;
    virtual ~RDData() = default;
    RDData(const RDData&) = delete;
    RDData& operator=(const RDData&) = delete;

    virtual bool isEmpty() const = 0;
    // Bytes taken; -1 (and nothing taken) when the store refuses them.
    virtual int write(const char* data, int length) = 0;
    // Bytes delivered (0 when none are available).
    virtual int read(char* buffer, int length) = 0;
    // Bytes dropped from the front.
    virtual int skip(int length) = 0;
    // Bytes available to read.
    virtual int size() const = 0;
};
