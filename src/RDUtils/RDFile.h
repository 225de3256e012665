#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// A C stream opened by a UTF-8 path (close-on-exec); closed when the object goes.
class RDFile
{
public:
    RDFile() = default;
    ~RDFile();
    RDFile(const RDFile&) = delete;
    RDFile& operator=(const RDFile&) = delete;

    bool open(const std::string& utf8Path, const char* mode);
    // Creates a new file for writing, readable by this user only; false when the path already
    // exists (a link included) or cannot be created.
    bool create(const std::string& utf8Path);
    void close();
    bool isOpen() const { return m_file != nullptr; }

    size_t read(void* buffer, size_t size, size_t count);
    size_t write(const void* data, size_t size, size_t count);
    int seek(long long offset, int origin);
    int flush();
    // Clears the end-of-file mark so that bytes appended since can be read.
    void clearError();

private:
    FILE* m_file = nullptr;
};

bool removeFile(const std::string& path);
