#pragma once

#include <atomic>

// The descriptor behind a socket object. Only the owning thread closes it; any other thread
// that must wake a blocked accept, recv, send or wait calls shutdown(), which leaves the number
// allocated so that it cannot be reused under the owner's feet.
class RDSocketHandle
{
public:
    RDSocketHandle() = default;
    ~RDSocketHandle();
    RDSocketHandle(const RDSocketHandle&) = delete;
    RDSocketHandle& operator=(const RDSocketHandle&) = delete;

    // Ignores SIGPIPE for the process (once); every send also passes MSG_NOSIGNAL.
    static int startup();

    // A new IPv4 socket of the given type (close-on-exec); the descriptor, or -1 with errno.
    int open(int type);
    // Takes over a descriptor that the caller no longer owns.
    void adopt(int fd);
    int get() const { return m_fd.load(std::memory_order_acquire); }
    bool isOpen() const { return get() != -1; }
    // Open and neither shut down nor failed.
    bool isValid() const { return isOpen() && !m_failed.load(std::memory_order_acquire); }
    bool isFailed() const { return m_failed.load(std::memory_order_acquire); }

    // Any thread: marks the socket failed and shuts both directions down.
    void shutdown();
    // Owner only: shuts down and releases the descriptor.
    void close();

    int setNonBlocking();
    int setIntOption(int level, int name, int value);
    int setTimeOption(int name, int ms);

    // Waits for the events (POLLIN, POLLOUT) with a time-out in microseconds (< 0: no limit).
    // 1 when ready (also on hang-up or error, so the next call reports it), 0 on time-out or
    // interruption, -1 when closed or invalid.
    int wait(short events, long long timeoutUs) const;
    // wait() for reading; negative parts count as 0.
    int waitReadable(int seconds, int microseconds) const;

private:
    std::atomic<int> m_fd{-1};
    std::atomic<bool> m_failed{false};
};
