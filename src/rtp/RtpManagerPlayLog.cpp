#include "RtpManagerPlayLog.h"

#include "RDLog.h"
#include "ZvDBLog.h"

#include <atomic>
#include <memory>

namespace {

std::atomic<uint64_t> g_generation{0};

// The calling thread's connection; destroyed (so closed) when the thread ends.
struct ThreadConnection
{
    std::unique_ptr<ZvDBLog> db;
    uint64_t generation = 0;
};

thread_local ThreadConnection t_connection;

} // namespace

RtpManagerPlayLog::RtpManagerPlayLog() : m_generation(++g_generation) {}

bool RtpManagerPlayLog::open()
{
    ThreadConnection& connection = t_connection;
    if (connection.db && connection.generation == m_generation && connection.db->isOpen())
        return true;
    connection.db.reset();
    auto db = std::make_unique<ZvDBLog>(true);
    if (!db->isOpen()) {
        RDLOG("action log %s cannot be opened", qUtf8Printable(db->path()));
        return false;
    }
    connection.db = std::move(db);
    connection.generation = m_generation;
    return true;
}

int RtpManagerPlayLog::write(const ZvLog& row)
{
    if (!open())
        return -1;
    const int id = t_connection.db->insertLog(row);
    // The next row tries a fresh connection rather than one that may have gone bad.
    if (id < 0)
        t_connection.db.reset();
    return id;
}

void RtpManagerPlayLog::closeThisThread()
{
    if (t_connection.generation == m_generation)
        t_connection.db.reset();
}
