#include "RDFile.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

RDFile::~RDFile()
{
    close();
}

bool RDFile::open(const std::string& utf8Path, const char* mode)
{
    close();
    if (!mode)
        return false;
    const std::string flags = std::string(mode) + "e";
    m_file = std::fopen(utf8Path.c_str(), flags.c_str());
    return m_file != nullptr;
}

bool RDFile::create(const std::string& utf8Path)
{
    close();
    const int fd = ::open(utf8Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    m_file = ::fdopen(fd, "wb");
    if (!m_file)
        ::close(fd);
    return m_file != nullptr;
}

void RDFile::close()
{
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

size_t RDFile::read(void* buffer, size_t size, size_t count)
{
    return m_file ? std::fread(buffer, size, count, m_file) : 0;
}

size_t RDFile::write(const void* data, size_t size, size_t count)
{
    return m_file ? std::fwrite(data, size, count, m_file) : 0;
}

int RDFile::seek(long long offset, int origin)
{
    return m_file ? ::fseeko(m_file, static_cast<off_t>(offset), origin) : -1;
}

int RDFile::flush()
{
    return m_file ? std::fflush(m_file) : -1;
}

void RDFile::clearError()
{
    if (m_file)
        std::clearerr(m_file);
}

bool removeFile(const std::string& path)
{
    return !path.empty() && std::remove(path.c_str()) == 0;
}
