#include "RDLog.h"

#include <QDebug>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace {

// A source file name longer than this is cut in the prefix, so that the prefix always leaves
// most of a line to the message.
constexpr int kNameBytes = 128;
// Room for " ... (N bytes)" with any N.
constexpr size_t kCutMarkBytes = 32;

static_assert(RDLog::kLineBytes > 25 + kNameBytes + 16 + kCutMarkBytes + 256,
              "a line leaves room for its message after the longest prefix and the cut mark");

// Largest length <= n that does not split a UTF-8 sequence of text; text[n] must be readable.
size_t utf8Boundary(const char* text, size_t n)
{
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

// Ends the line in buffer (kLineBytes long): prefix bytes, then kept bytes of a message of
// messageBytes in all (kept is all of it, or at least as much as a line can hold). A message
// that does not fit is cut and marked with its length. Returns the line's length, "\n"
// included; the text is terminated.
size_t endLine(char* buffer, size_t prefix, size_t kept, size_t messageBytes)
{
    // The message's share of the buffer: what is left after the "\n" and the terminator.
    const size_t room = RDLog::kLineBytes - 2 - prefix;
    size_t length = prefix;
    if (messageBytes <= room) {
        length += messageBytes;
    } else {
        char mark[kCutMarkBytes];
        const int markBytes = snprintf(mark, sizeof mark, "... (%zu bytes)", messageBytes);
        const size_t keep = utf8Boundary(buffer + prefix, std::min(kept, room - size_t(markBytes)));
        length += keep;
        memcpy(buffer + length, mark, size_t(markBytes));
        length += size_t(markBytes);
    }
    buffer[length++] = '\n';
    buffer[length] = '\0';
    return length;
}

} // namespace

RDLog* RDLog::instance()
{
    // Never destroyed: threads may still log while static objects are torn down at exit.
    static RDLog* log = new RDLog;
    return log;
}

RDLog::RDLog() : m_sites(new Site[kSites]) {}

void RDLog::init(const std::string& folder, int maxBytes, int64_t folderBytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    writeAllCountsLocked();
    closeFile();
    std::fill(m_sites.get(), m_sites.get() + kSites, Site());
    m_folder = folder;
    m_maxBytes = maxBytes;
    m_folderBytes = folderBytes;
    if (!m_folder.empty())
        openFile();
}

void RDLog::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    writeAllCountsLocked();
    closeFile();
    m_folder.clear();
    m_maxBytes = 0;
    m_folderBytes = 0;
}

std::string RDLog::currentPath()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_file ? m_path : std::string();
}

void RDLog::setSiteLimit(int lines, int windowMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_siteLines = lines;
    m_siteWindowMs = std::max(windowMs, 1);
}

void RDLog::setClock(std::function<int64_t()> nowMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_clock = std::move(nowMs);
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

bool RDLog::isLogFileName(const std::string& name)
{
    // "yyyyMMddHHmmss", an optional "-N" of a name taken in the same second, ".log".
    size_t i = 0;
    while (i < name.size() && isdigit(static_cast<unsigned char>(name[i])))
        ++i;
    if (i != 14)
        return false;
    if (i < name.size() && name[i] == '-') {
        const size_t digits = ++i;
        while (i < name.size() && isdigit(static_cast<unsigned char>(name[i])))
            ++i;
        if (i == digits)
            return false;
    }
    return name.compare(i, std::string::npos, ".log") == 0;
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
    int m = snprintf(buffer + n, size - n, " %.*s:%d ", kNameBytes, base ? base : "(null)", line);
    return std::min(n + (m < 0 ? 0 : m), int(size) - 1);
}

uint64_t RDLog::siteKey(const char* file, int line)
{
    // FNV-1a over the path's text, not its address: a file's __FILE__ may be one string in
    // one translation unit and another in the next.
    uint64_t hash = 14695981039346656037ull;
    for (const char* p = file ? file : ""; *p; ++p)
        hash = (hash ^ static_cast<unsigned char>(*p)) * 1099511628211ull;
    hash = (hash ^ static_cast<uint32_t>(line)) * 1099511628211ull;
    return hash ? hash : 1;
}

int64_t RDLog::nowMs() const
{
    if (m_clock)
        return m_clock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
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
    // Before formatting: a flood of dropped lines costs a hash and a lock each, no more.
    if (!admit(file, line))
        return 0;
    char buffer[kLineBytes];
    const size_t prefix = static_cast<size_t>(linePrefix(buffer, sizeof buffer, file, line));
    size_t message = 0;
    if (format) {
        const int n = vsnprintf(buffer + prefix, sizeof buffer - prefix, format, args);
        message = n < 0 ? 0 : size_t(n);
    }
    const size_t length = endLine(buffer, prefix, std::min(message, sizeof buffer - prefix - 1), message);
    writePiece(buffer, length);
    return static_cast<int>(length);
}

RDLog::Line RDLog::beginLine(const char* file, const char*, int line)
{
    if (!admit(file, line))
        return Line(nullptr, std::string());
    char buffer[256];
    int n = linePrefix(buffer, sizeof buffer, file, line);
    return Line(this, std::string(buffer, static_cast<size_t>(n)));
}

bool RDLog::admit(const char* file, int line)
{
    const uint64_t key = siteKey(file, line);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_siteLines <= 0)
        return true;
    const int64_t now = nowMs();
    if (now >= m_countDue)
        writeDueCountsLocked(now);
    Site* site = findSiteLocked(key, file, line, now);
    if (!site) {
        if (m_untracked++ == 0)
            m_countDue = std::min(m_countDue, now + m_siteWindowMs);
        return false;
    }
    if (now - site->windowStart >= m_siteWindowMs) {
        if (site->suppressed > 0)
            writeCountLocked(*site);
        site->windowStart = now;
        site->written = 0;
    }
    if (site->written < m_siteLines) {
        ++site->written;
        return true;
    }
    if (site->suppressed++ == 0)
        m_countDue = std::min(m_countDue, site->windowStart + m_siteWindowMs);
    return false;
}

RDLog::Site* RDLog::findSiteLocked(uint64_t key, const char* file, int line, int64_t now)
{
    // Open addressing without removal: a slot once taken is only ever given to another site,
    // so a site is never found beyond a free slot of its probe sequence.
    Site* reusable = nullptr;
    for (int i = 0; i < kSiteProbes; ++i) {
        Site& site = m_sites[(key + uint64_t(i)) % kSites];
        if (site.key == key)
            return &site;
        if (site.key == 0) {
            reusable = &site;
            break;
        }
        if (!reusable && now - site.windowStart >= m_siteWindowMs)
            reusable = &site;
    }
    if (!reusable)
        return nullptr;
    if (reusable->suppressed > 0)
        writeCountLocked(*reusable);
    *reusable = Site();
    reusable->key = key;
    reusable->line = line;
    reusable->windowStart = now;
    const char* base = baseName(file);
    snprintf(reusable->name, sizeof reusable->name, "%s", base ? base : "(null)");
    return reusable;
}

void RDLog::writeDueCountsLocked(int64_t now)
{
    int64_t next = INT64_MAX;
    for (int i = 0; i < kSites; ++i) {
        Site& site = m_sites[i];
        if (site.key == 0 || site.suppressed == 0)
            continue;
        const int64_t end = site.windowStart + m_siteWindowMs;
        if (now >= end)
            writeCountLocked(site);
        else
            next = std::min(next, end);
    }
    if (m_untracked > 0) {
        writeNoteLocked(__FILE__, __LINE__, "%lld lines suppressed: their call sites found no free slot",
                        static_cast<long long>(m_untracked));
        m_untracked = 0;
    }
    m_countDue = next;
}

void RDLog::writeAllCountsLocked()
{
    for (int i = 0; i < kSites; ++i) {
        if (m_sites[i].key != 0 && m_sites[i].suppressed > 0)
            writeCountLocked(m_sites[i]);
    }
    if (m_untracked > 0) {
        writeNoteLocked(__FILE__, __LINE__, "%lld lines suppressed: their call sites found no free slot",
                        static_cast<long long>(m_untracked));
        m_untracked = 0;
    }
    m_countDue = INT64_MAX;
}

void RDLog::writeCountLocked(Site& site)
{
    writeNoteLocked(site.name, site.line, "%lld similar lines suppressed", static_cast<long long>(site.suppressed));
    site.suppressed = 0;
}

void RDLog::writeNoteLocked(const char* file, int line, const char* format, ...)
{
    char buffer[kLineBytes];
    const size_t prefix = static_cast<size_t>(linePrefix(buffer, sizeof buffer, file, line));
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(buffer + prefix, sizeof buffer - prefix, format, args);
    va_end(args);
    const size_t message = n < 0 ? 0 : size_t(n);
    writeLocked(buffer, endLine(buffer, prefix, std::min(message, sizeof buffer - prefix - 1), message));
}

void RDLog::writePiece(const char* text, size_t length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    writeLocked(text, length);
}

void RDLog::writeLocked(const char* text, size_t length)
{
    if (m_file) {
        fwrite(text, 1, length, m_file);
        // Flushed per line so that the last lines before a crash are on disk.
        fflush(m_file);
        m_byteCount += static_cast<int64_t>(length);
    }
    size_t echo = length;
    if (echo > 0 && text[echo - 1] == '\n')
        --echo;
    qDebug("%.*s", static_cast<int>(echo), text);
    if (!m_folder.empty() && m_maxBytes > 0 && m_byteCount >= m_maxBytes) {
        closeFile();
        openFile();
    }
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
    // Within one second the suffix only grows: a name whose file the folder cap removed is not
    // taken again by a newer file.
    const int first = m_lastName == name ? m_lastSuffix + 1 : 0;
    for (int suffix = first; suffix < first + 1000; ++suffix) {
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
        m_lastName = name;
        m_lastSuffix = suffix;
        trimFolderLocked();
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

void RDLog::trimFolderLocked()
{
    if (m_folderBytes <= 0)
        return;
    struct Old
    {
        std::filesystem::file_time_type written;
        std::string name;
        int64_t bytes;
        // The "-N" of a name taken in the same second; 0 without.
        long suffix;
    };
    std::vector<Old> files;
    int64_t total = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(m_folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code ignored;
        if (!isLogFileName(name) || it->path().string() == m_path || !it->is_regular_file(ignored))
            continue;
        const auto bytes = it->file_size(ignored);
        const auto written = it->last_write_time(ignored);
        if (ignored)
            continue;
        const long suffix = name[14] == '-' ? std::strtol(name.c_str() + 15, nullptr, 10) : 0;
        files.push_back({written, name, static_cast<int64_t>(bytes), suffix});
        total += static_cast<int64_t>(bytes);
    }
    // The running file may reach the roll-over size and its last line before it rolls over.
    const int64_t running = m_maxBytes > 0 ? int64_t(m_maxBytes) + kLineBytes : 0;
    const int64_t budget = m_folderBytes - running;
    if (total <= budget)
        return;
    // Oldest first by the last write; files written within one tick of the file system's clock
    // go by the order of their names' time and suffix, the order they were opened in.
    std::sort(files.begin(), files.end(), [](const Old& a, const Old& b) {
        if (a.written != b.written)
            return a.written < b.written;
        const int stamp = a.name.compare(0, 14, b.name, 0, 14);
        return stamp != 0 ? stamp < 0 : a.suffix < b.suffix;
    });
    for (const Old& old : files) {
        if (total <= budget)
            break;
        std::error_code removeError;
        if (!std::filesystem::remove(m_folder + "/" + old.name, removeError)) {
            writeNoteLocked(__FILE__, __LINE__, "log folder over %lld bytes: cannot remove %s: %s",
                            static_cast<long long>(m_folderBytes), old.name.c_str(), removeError.message().c_str());
            continue;
        }
        total -= old.bytes;
        writeNoteLocked(__FILE__, __LINE__, "log folder over %lld bytes: removed %s (%lld bytes)",
                        static_cast<long long>(m_folderBytes), old.name.c_str(), static_cast<long long>(old.bytes));
    }
}

RDLog::Line::Line(RDLog* log, std::string prefix) : m_log(log), m_prefix(std::move(prefix)), m_text(m_prefix) {}

RDLog::Line::Line(Line&& other) noexcept
    : m_log(other.m_log)
    , m_prefix(std::move(other.m_prefix))
    , m_text(std::move(other.m_text))
    , m_messageBytes(other.m_messageBytes)
    , m_written(other.m_written)
{
    other.m_log = nullptr;
}

RDLog::Line::~Line()
{
    // A builder that wrote no line writes at least its prefix, as a one-piece call would.
    if (m_log && (m_messageBytes > 0 || !m_written))
        flush();
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
    if (!m_log)
        return *this;
    QByteArray utf8 = text.toUtf8();
    append(utf8.constData(), static_cast<size_t>(utf8.size()));
    return *this;
}

void RDLog::Line::append(const char* text, size_t length)
{
    if (!m_log)
        return;
    // Every "\n" ends a line; bytes beyond what a line holds are only counted.
    const size_t held = kLineBytes - 1;
    while (length > 0) {
        const char* newline = static_cast<const char*>(memchr(text, '\n', length));
        const size_t chunk = newline ? static_cast<size_t>(newline - text) : length;
        if (m_text.size() < held)
            m_text.append(text, std::min(chunk, held - m_text.size()));
        m_messageBytes += chunk;
        const size_t used = newline ? chunk + 1 : chunk;
        if (newline)
            flush();
        text += used;
        length -= used;
    }
}

void RDLog::Line::flush()
{
    char buffer[kLineBytes];
    memcpy(buffer, m_text.data(), m_text.size());
    const size_t prefix = m_prefix.size();
    const size_t length = endLine(buffer, prefix, m_text.size() - prefix, m_messageBytes);
    m_log->writePiece(buffer, length);
    m_text = m_prefix;
    m_messageBytes = 0;
    m_written = true;
}
