#pragma once

#include "ZvLog.h"

#include <cstdint>

// The channel manager's writer of action-log rows. A database connection belongs to the thread
// that opened it, and channels are started and stopped from many threads, so every writing
// thread gets a connection of its own: opened at its first row, kept while the thread lives
// (closed when it ends) and opened again when a new manager (or a new data root) takes over.
// The manager writes every row under its session-list lock, so the rows keep the order of the
// requests whichever connection carries them.
class RtpManagerPlayLog
{
public:
    RtpManagerPlayLog();
    RtpManagerPlayLog(const RtpManagerPlayLog&) = delete;
    RtpManagerPlayLog& operator=(const RtpManagerPlayLog&) = delete;

    // Opens the calling thread's connection; false when the file cannot be opened.
    bool open();
    // Inserts the row on the calling thread's connection: the new row's id, or -1.
    int write(const ZvLog& row);
    // Closes the calling thread's connection (the owner's thread, when the manager goes away).
    void closeThisThread();

private:
    // Tells the connections of one manager from those of an earlier one.
    uint64_t m_generation;
};
