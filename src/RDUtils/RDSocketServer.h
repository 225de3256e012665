#pragma once

#include "RDSocketAddress.h"
#include "RDSocketHandle.h"

#include <atomic>

// Base of listening sockets: closed from construction until open succeeds. Deleting it closes
// the descriptor as well.
class RDSocketServer
{
public:
    RDSocketServer() = default;
    virtual ~RDSocketServer();
    RDSocketServer(const RDSocketServer&) = delete;
    RDSocketServer& operator=(const RDSocketServer&) = delete;

    virtual int open(const RDSocketAddress& address) = 0;
    virtual void close() = 0;
    virtual bool isValid() const;

    const RDSocketAddress& address() const { return m_address; }
    int handle() const { return m_handle.get(); }
    int backlog() const { return m_backlog; }
    // <= 0 takes the system's largest queue.
    void setBacklog(int backlog) { m_backlog = backlog; }
    int lastError() const { return m_lastError.load(std::memory_order_relaxed); }

    int setNonBlocking();
    // 1 readable (a connection waits), 0 time-out, -1 when closed.
    int waitReadable(int seconds, int microseconds);
    // Any thread: wakes a blocked accept or wait, which then fail; the owner still closes.
    void shutdown();

protected:
    void closeHandle(bool clearAddress);
    void setLastError(int error) { m_lastError.store(error, std::memory_order_relaxed); }

    RDSocketHandle m_handle;
    int m_backlog = 0;
    std::atomic<int> m_lastError{0};
    RDSocketAddress m_address;
};
