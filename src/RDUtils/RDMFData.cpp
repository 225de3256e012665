#include "RDMFData.h"

#include "RDFile.h"
#include "RDFileData.h"
#include "RDLog.h"
#include "RDMemoryData.h"

#include <cerrno>

RDMFData::RDMFData() : RDMFData(std::string(), 0) {}

RDMFData::RDMFData(const std::string& path, int threshold)
    : m_path(path), m_threshold(threshold), m_memory(new RDMemoryData(4096))
{
}

RDMFData::~RDMFData()
{
    delete m_memory;
    delete m_file;
    if (m_created)
        removeFile(m_path);
    m_path.clear();
}

bool RDMFData::isEmpty() const
{
    if (m_memory)
        return m_memory->isEmpty();
    return m_file ? m_file->isEmpty() : true;
}

int RDMFData::write(const char* data, int length)
{
    if (!m_memory)
        return m_file ? m_file->write(data, length) : 0;
    const int result = m_memory->write(data, length);
    if (result >= 0 && m_threshold >= 1 && !m_path.empty() && !m_file && !m_moveFailed &&
        m_memory->capacity() > m_threshold)
        moveToFile();
    return result;
}

void RDMFData::moveToFile()
{
    auto* file = new RDFileData;
    if (!file->create(m_path)) {
        RDLOG("data store %s: cannot create the file (errno %d); the data stays in memory", m_path.c_str(),
              errno);
        delete file;
        m_moveFailed = true;
        return;
    }
    m_created = true;
    const int held = m_memory->size();
    if (held > 0 && file->write(m_memory->data(), held) != held) {
        RDLOG("data store %s: cannot write the file; the data stays in memory", m_path.c_str());
        delete file;
        removeFile(m_path);
        m_created = false;
        m_moveFailed = true;
        return;
    }
    delete m_memory;
    m_memory = nullptr;
    m_file = file;
}

int RDMFData::read(char* buffer, int length)
{
    if (m_memory)
        return m_memory->read(buffer, length);
    return m_file ? m_file->read(buffer, length) : 0;
}

int RDMFData::skip(int length)
{
    if (m_memory)
        return m_memory->skip(length);
    return m_file ? m_file->skip(length) : 0;
}

int RDMFData::size() const
{
    if (m_memory)
        return m_memory->size();
    return m_file ? m_file->size() : 0;
}
