#pragma once

#include <netinet/in.h>
#include <sys/types.h>

// The stack's one UDP socket on 0.0.0.0:port with an eventfd beside it, so that a thread
// waiting in wait() wakes at once when another thread queues work.
class SipUdpTransport
{
public:
    SipUdpTransport() = default;
    ~SipUdpTransport();
    SipUdpTransport(const SipUdpTransport&) = delete;
    SipUdpTransport& operator=(const SipUdpTransport&) = delete;

    // Binds UDP 0.0.0.0:port (0 = a port of the system's choice). No SO_REUSEADDR: a port that
    // another socket holds fails. 0 on success, negative on failure (errno kept in lastError()).
    int open(int port);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    int port() const { return m_port; }
    int lastError() const { return m_lastError; }

    // Wakes a thread blocked in wait(); safe from any thread.
    void wake();
    // Waits up to timeoutMs for a datagram or a wake-up; true when a datagram may be waiting.
    bool wait(int timeoutMs);

    // One waiting datagram: its length, 0 when none is waiting, -1 on a socket error. local is
    // the address the datagram was sent to.
    ssize_t receive(char* buffer, size_t size, sockaddr_in* from, in_addr* local);
    bool send(const char* data, size_t size, const sockaddr_in& to);

private:
    int m_fd = -1;
    int m_wakeFd = -1;
    int m_port = 0;
    int m_lastError = 0;
};
