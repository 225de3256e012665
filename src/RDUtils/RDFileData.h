#pragma once

#include "RDData.h"
#include "RDFile.h"

#include <cstdint>
#include <string>

// A byte queue through a file: one stream appends, another reads from the start. A write of
// length 0 ends the data; the store is empty only once it has ended and all bytes were read.
// The file stays on disk when the store goes; its creator removes it.
class RDFileData : public RDData
{
public:
    RDFileData() = default;
    ~RDFileData() override;

    // Creates the file (it must not exist yet) and opens both streams; false when either fails.
    bool create(const std::string& path);

    bool isEmpty() const override;
    int write(const char* data, int length) override;
    int read(char* buffer, int length) override;
    int skip(int length) override;
    int size() const override;

    int64_t bytesWritten() const { return m_written; }
    int64_t bytesRead() const { return m_read; }

private:
    RDFile m_writeFile;
    int64_t m_written = 0;
    RDFile m_readFile;
    int64_t m_read = 0;
    int64_t m_available = 0;
};
