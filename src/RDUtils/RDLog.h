#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class QString;

// The process-wide text log: one file per run (rolled over at a size when asked), every line
// stamped with the local time and the caller's file and line, echoed to the Qt debug output.
//
// It stays bounded whatever the callers do, since some of them log what a peer on the network
// sends them:
// - a call site (source file and line) writes at most kSiteLines lines per kSiteWindowMs; the
//   rest are dropped (from the file and the echo) and counted, and the count is written at that
//   site as "N similar lines suppressed" by the first line logged once the window has ended,
//   or by close;
// - a line holds at most kLineBytes - 1 bytes with its "\n"; a longer message is cut on a
//   character boundary and ends in "... (N bytes)", N being the whole message's length;
// - with a folder cap, each new file first removes the oldest of the logger's files in the
//   folder until they and a full running file fit under the cap; the running file is never
//   removed.
//
// Threads: every function may be called from any thread. Formatting runs on the caller's stack;
// one mutex serialises the call-site table, writing, roll-over, init and close.
class RDLog
{
public:
    // A stream-style line. Pieces collect here and reach the log as one whole line at "\n" (or
    // when the builder goes away), so lines from several threads never interleave. A builder
    // of a call site over its limit drops its pieces; one over kLineBytes keeps the first
    // bytes and counts the rest.
    class Line
    {
    public:
        // log null makes a builder that writes nothing.
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
        std::string m_prefix;
        // The prefix and at most the message bytes a line can hold.
        std::string m_text;
        size_t m_messageBytes = 0;
        bool m_written = false;
    };

    // The largest line, its "\n" and the string terminator included: a 4 KiB page, long enough
    // for every message of the code base but a peer's dump.
    static constexpr int kLineBytes = 4096;
    static constexpr int kThreshold = 2;
    // Lines per call site and window: a start-up loop over channels or a burst of retries still
    // shows whole, while a flood of bad datagrams costs 10 lines and a count every 5 s.
    static constexpr int kSiteLines = 10;
    static constexpr int kSiteWindowMs = 5000;
    // Call sites tracked at once. The code base has about 350; a site found in none of its
    // kSiteProbes slots takes the slot of one whose window has ended.
    static constexpr int kSites = 1024;
    static constexpr int kSiteProbes = 16;

    static RDLog* instance();

    // Opens a new file in folder (created when missing). A file of the same name is never
    // replaced: a suffix "-1", "-2", ... keeps both. maxBytes <= 0 never rolls over.
    // folderBytes > 0 caps the size of the logger's files ("%04d%02d%02d%02d%02d%02d.log",
    // with or without the suffix) in the folder; other files there are left alone. Call sites
    // start afresh; counts still owed are written first.
    void init(const std::string& folder, int maxBytes, int64_t folderBytes = 0);
    // Writes the counts still owed, then closes the file; later lines reach the echo only.
    void close();

    // Returns the length of the line written, 0 when dropped (level below the threshold or the
    // call site over its limit).
    int log(const char* file, const char* function, int line, int level, const char* format, ...)
        __attribute__((format(printf, 6, 7)));
    int vlog(const char* file, const char* function, int line, int level, const char* format,
             va_list args) __attribute__((format(printf, 6, 0)));

    Line beginLine(const char* file, const char* function, int line);

    // Path of the file being written, empty when none.
    std::string currentPath();

    // For tests: the limit per call site (lines <= 0 lifts it) and the monotonic clock in
    // milliseconds that windows are measured with (empty: the steady clock). Both hold until
    // changed again.
    void setSiteLimit(int lines, int windowMs);
    void setClock(std::function<int64_t()> nowMs);

    static const char* baseName(const char* path);
    // Whether name is one the logger gives its files.
    static bool isLogFileName(const std::string& name);

private:
    // One call site: its own window of lines written and dropped.
    struct Site
    {
        uint64_t key = 0; // 0: free
        int line = 0;
        int written = 0;
        int64_t windowStart = 0;
        int64_t suppressed = 0;
        char name[64] = {};
    };

    RDLog();

    static int timestamp(char* buffer, size_t size);
    static int linePrefix(char* buffer, size_t size, const char* file, int line);
    static uint64_t siteKey(const char* file, int line);
    int64_t nowMs() const;

    // Whether a line of this call site is written; writes the counts that are due first.
    bool admit(const char* file, int line);
    Site* findSiteLocked(uint64_t key, const char* file, int line, int64_t now);
    void writeDueCountsLocked(int64_t now);
    void writeAllCountsLocked();
    void writeCountLocked(Site& site);
    // A line of the logger's own, or a count written at the site it belongs to.
    void writeNoteLocked(const char* file, int line, const char* format, ...) __attribute__((format(printf, 4, 5)));

    void writePiece(const char* text, size_t length);
    void writeLocked(const char* text, size_t length);
    void openFile();
    void closeFile();
    void trimFolderLocked();

    std::mutex m_mutex;
    std::string m_folder;
    int m_maxBytes = 0;
    int64_t m_folderBytes = 0;
    FILE* m_file = nullptr;
    std::string m_path;
    int64_t m_byteCount = 0;
    // The time part and suffix of the last name opened.
    std::string m_lastName;
    int m_lastSuffix = 0;

    std::unique_ptr<Site[]> m_sites;
    int m_siteLines = kSiteLines;
    int64_t m_siteWindowMs = kSiteWindowMs;
    // The earliest end of a window with a count owed; INT64_MAX when none.
    int64_t m_countDue = INT64_MAX;
    // Lines dropped because no slot was free for their site.
    int64_t m_untracked = 0;
    std::function<int64_t()> m_clock;
};

// The two call shapes used throughout the code base; all lines are written at level 5.
#define RDLOG(...) RDLog::instance()->log(__FILE__, __func__, __LINE__, 5, __VA_ARGS__)
#define RDLOGLINE() RDLog::instance()->beginLine(__FILE__, __func__, __LINE__)
