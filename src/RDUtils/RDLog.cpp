#include "RDLog.h"

#include <QDebug>
#include <QString>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace {

const char kCutMark[] = "...\n";

// Largest length <= n that does not split a UTF-8 sequence of text.
size_t utf8Boundary(const char* text, size_t n)
{
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

} // namespace

RDLog* RDLog::instance()
{
    // Never destroyed: threads may still log while static objects are torn down at exit.
    static RDLog* log = new RDLog;
    return log;
}

void RDLog::init(const std::string& folder, int maxBytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    closeFile();
    m_folder = folder;
    m_maxBytes = maxBytes;
    if (!m_folder.empty())
        openFile();
}

void RDLog::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    closeFile();
    m_folder.clear();
    m_maxBytes = 0;
}

std::string RDLog::currentPath()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_file ? m_path : std::string();
}

const char* RDLog::baseName(const char* path)
{
    if (!path)
        return path;
    const char* last = nullptr;
    for (const char* p = path; *p; ++p) {
        if (*p == '/' || *p == '\\')
            last = p;
    }
    if (!last || last[1] == '\0')
        return path;
    return last + 1;
}

int RDLog::timestamp(char* buffer, size_t size)
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    int n = snprintf(buffer, size, "[%04d-%02d-%02d %02d:%02d:%02d.%03d]", local.tm_year + 1900,
                     local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                     static_cast<int>(now.tv_nsec / 1000000));
    return n < 0 ? 0 : n;
}

int RDLog::linePrefix(char* buffer, size_t size, const char* file, int line)
{
    int n = timestamp(buffer, size);
    const char* base = baseName(file);
    int m = snprintf(buffer + n, size - n, " %s:%d ", base ? base : "(null)", line);
    return n + (m < 0 ? 0 : m);
}

int RDLog::log(const char* file, const char* function, int line, int level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vlog(file, function, line, level, format, args);
    va_end(args);
    return n;
}

int RDLog::vlog(const char* file, const char*, int line, int level, const char* format,
                va_list args)
{
    if (level < kThreshold)
        return 0;
    char buffer[kLineBytes];
    size_t length = static_cast<size_t>(linePrefix(buffer, sizeof buffer, file, line));
    int message = 0;
    if (format) {
        message = vsnprintf(buffer + length, sizeof buffer - length, format, args);
        if (message < 0)
            message = 0;
    } else {
        buffer[length] = '\0';
    }
    // Room for the message and its "\n" within kLineBytes - 1 characters.
    const size_t room = sizeof buffer - 1 - length - 1;
    if (static_cast<size_t>(message) <= room) {
        length += message;
    } else {
        // Cut on a character boundary and mark it; the line still ends with "\n".
        const size_t keep = utf8Boundary(buffer + length, room + 1 - (sizeof kCutMark - 1));
        length += keep;
        memcpy(buffer + length, kCutMark, sizeof kCutMark - 2);
        length += sizeof kCutMark - 2;
    }
    buffer[length++] = '\n';
    buffer[length] = '\0';
    writePiece(buffer, length);
    return static_cast<int>(length);
}

RDLog::Line RDLog::beginLine(const char* file, const char*, int line)
{
    char buffer[256];
    int n = linePrefix(buffer, sizeof buffer, file, line);
    return Line(this, std::string(buffer, static_cast<size_t>(n)));
}

void RDLog::writePiece(const char* text, size_t length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file) {
        fwrite(text, 1, length, m_file);
        // Flushed per line so that the last lines before a crash are on disk.
        fflush(m_file);
        m_byteCount += static_cast<int64_t>(length);
    }
    if (!m_folder.empty() && m_maxBytes > 0 && m_byteCount >= m_maxBytes) {
        closeFile();
        openFile();
    }
    size_t echo = length;
    if (echo > 0 && text[echo - 1] == '\n')
        --echo;
    qDebug("%.*s", static_cast<int>(echo), text);
}

void RDLog::openFile()
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    char name[64];
    snprintf(name, sizeof name, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900,
             local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    m_byteCount = 0;

    std::error_code ignored;
    std::filesystem::create_directories(m_folder, ignored);
    for (int suffix = 0; suffix < 1000; ++suffix) {
        std::string path = m_folder + "/" + name;
        if (suffix > 0)
            path += "-" + std::to_string(suffix);
        path += ".log";
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            qDebug("log file %s cannot be opened: %s", path.c_str(), strerror(errno));
            return;
        }
        m_file = fdopen(fd, "a");
        if (!m_file) {
            ::close(fd);
            return;
        }
        m_path = path;
        return;
    }
}

void RDLog::closeFile()
{
    if (m_file) {
        fclose(m_file);
        m_file = nullptr;
    }
    m_path.clear();
    m_byteCount = 0;
}

RDLog::Line::Line(RDLog* log, std::string prefix) : m_log(log), m_text(std::move(prefix)) {}

RDLog::Line::Line(Line&& other) noexcept : m_log(other.m_log), m_text(std::move(other.m_text))
{
    other.m_log = nullptr;
    other.m_text.clear();
}

RDLog::Line::~Line()
{
    if (m_log && !m_text.empty()) {
        m_text += '\n';
        flush();
    }
}

RDLog::Line& RDLog::Line::operator<<(const char* text)
{
    if (!text)
        text = "NULL";
    append(text, strlen(text));
    return *this;
}

RDLog::Line& RDLog::Line::operator<<(const std::string& text)
{
    append(text.data(), text.size());
    return *this;
}

RDLog::Line& RDLog::Line::operator<<(const QString& text)
{
    QByteArray utf8 = text.toUtf8();
    append(utf8.constData(), static_cast<size_t>(utf8.size()));
    return *this;
}

void RDLog::Line::append(const char* text, size_t length)
{
    // Every "\n" ends a line: what is collected so far is written as one piece.
    while (length > 0) {
        const char* newline = static_cast<const char*>(memchr(text, '\n', length));
        size_t chunk = newline ? static_cast<size_t>(newline - text) + 1 : length;
        m_text.append(text, chunk);
        if (newline)
            flush();
        text += chunk;
        length -= chunk;
    }
}

void RDLog::Line::flush()
{
    if (m_log && !m_text.empty())
        m_log->writePiece(m_text.data(), m_text.size());
    m_text.clear();
}
