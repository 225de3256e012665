#pragma once

#include "RDData.h"

#include <string>

class RDFileData;
class RDMemoryData;

// A byte queue that starts in memory and moves to a file once its memory block has grown
// beyond the threshold, keeping the order of the bytes. The file is created by this object
// (never an existing one) and deleted with it. When the file cannot be created the bytes stay
// in memory.
class RDMFData : public RDData
{
public:
    RDMFData();
    // threshold <= 0 or an empty path keeps everything in memory.
    RDMFData(const std::string& path, int threshold);
    ~RDMFData() override;

    bool isEmpty() const override;
    int write(const char* data, int length) override;
    int read(char* buffer, int length) override;
    int skip(int length) override;
    int size() const override;

    bool isInFile() const { return m_file != nullptr; }
    const std::string& path() const { return m_path; }

private:
    void moveToFile();

    std::string m_path;
    int m_threshold = 0;
    RDMemoryData* m_memory = nullptr;
    RDFileData* m_file = nullptr;
    bool m_created = false;
    bool m_moveFailed = false;
};
