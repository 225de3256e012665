#include "RDFileData.h"

#include <algorithm>
#include <climits>
#include <cstdio>

RDFileData::~RDFileData()
{
    m_writeFile.close();
    m_readFile.close();
}

bool RDFileData::create(const std::string& path)
{
    if (!m_writeFile.create(path))
        return false;
    if (!m_readFile.open(path, "rb")) {
        m_writeFile.close();
        return false;
    }
    return true;
}

bool RDFileData::isEmpty() const
{
    return !m_writeFile.isOpen() && m_available <= 0;
}

int RDFileData::write(const char* data, int length)
{
    if (length <= 0) {
        m_writeFile.close();
        return 0;
    }
    if (!m_writeFile.isOpen() || !data)
        return 0;
    const size_t n = m_writeFile.write(data, 1, static_cast<size_t>(length));
    // What stays in the stream's buffer after a failed flush never reached the file.
    if (m_writeFile.flush() != 0)
        return 0;
    m_written += static_cast<int64_t>(n);
    m_available += static_cast<int64_t>(n);
    return static_cast<int>(n);
}

int RDFileData::read(char* buffer, int length)
{
    if (!m_readFile.isOpen() || m_available <= 0 || length <= 0 || !buffer)
        return 0;
    const size_t want = static_cast<size_t>(std::min<int64_t>(length, m_available));
    m_readFile.clearError();
    const size_t n = m_readFile.read(buffer, 1, want);
    m_read += static_cast<int64_t>(n);
    m_available -= static_cast<int64_t>(n);
    return static_cast<int>(n);
}

int RDFileData::skip(int length)
{
    if (!m_readFile.isOpen() || m_available <= 0 || length <= 0)
        return 0;
    const int64_t n = std::min<int64_t>(length, m_available);
    if (m_readFile.seek(n, SEEK_CUR) != 0)
        return 0;
    m_read += n;
    m_available -= n;
    return static_cast<int>(n);
}

int RDFileData::size() const
{
    return static_cast<int>(std::min<int64_t>(m_available, INT_MAX));
}
