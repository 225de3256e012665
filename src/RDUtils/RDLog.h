#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

class QString;

// The process-wide text log: one file per run, every line stamped with the local time and the
// caller's file and line, echoed to the Qt debug output.
class RDLog
{
public:
    // A stream-style line. Pieces collect here and reach the log as one whole line at "\n" (or
    // when the builder goes away), so lines from several threads never interleave.
    class Line
    {
    public:
        Line(RDLog* log, std::string prefix);
        Line(Line&& other) noexcept;
        ~Line();
        Line(const Line&) = delete;
        Line& operator=(const Line&) = delete;
        Line& operator=(Line&&) = delete;

        Line& operator<<(const char* text);
        Line& operator<<(const std::string& text);
        Line& operator<<(const QString& text);

    private:
        void append(const char* text, size_t length);
        void flush();

        RDLog* m_log;
        std::string m_text;
    };

    static constexpr int kLineBytes = 4096;
    static constexpr int kThreshold = 2;

    static RDLog* instance();

    // Opens a new file in folder (created when missing). A file of the same name is never
    // replaced: a suffix "-1", "-2", ... keeps both. maxBytes <= 0 never rolls over.
    void init(const std::string& folder, int maxBytes);
    void close();

    int log(const char* file, const char* function, int line, int level, const char* format, ...)
        __attribute__((format(printf, 6, 7)));
    int vlog(const char* file, const char* function, int line, int level, const char* format,
             va_list args) __attribute__((format(printf, 6, 0)));

    Line beginLine(const char* file, const char* function, int line);

    // Path of the file being written, empty when none.
    std::string currentPath();

    static const char* baseName(const char* path);

private:
    RDLog() = default;

    static int timestamp(char* buffer, size_t size);
    static int linePrefix(char* buffer, size_t size, const char* file, int line);
    void writePiece(const char* text, size_t length);
    void openFile();
    void closeFile();

    std::mutex m_mutex;
    std::string m_folder;
    int m_maxBytes = 0;
    FILE* m_file = nullptr;
    std::string m_path;
    int64_t m_byteCount = 0;
};

// The two call shapes used throughout the code base; all lines are written at level 5.
#define RDLOG(...) RDLog::instance()->log(__FILE__, __func__, __LINE__, 5, __VA_ARGS__)
#define RDLOGLINE() RDLog::instance()->beginLine(__FILE__, __func__, __LINE__)
