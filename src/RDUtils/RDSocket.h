#pragma once

#include "RDSocketAddress.h"
#include "RDSocketHandle.h"

#include <atomic>

// Base of the IPv4 stream and datagram sockets. Operations return the handle, a count or 0 on
// success and -1 on failure, keeping the socket error as lastError(); nothing throws.
//
// A fatal send or receive error (or the peer's close of a stream) shuts the socket down and
// makes isValid() false, but the descriptor stays allocated until the owner calls close() or
// deletes the object: the other thread of a reader/writer pair may still be using it.
class RDSocket
{
public:
    RDSocket() = default;
    virtual ~RDSocket();
    RDSocket(const RDSocket&) = delete;
    RDSocket& operator=(const RDSocket&) = delete;

    // The platform's socket start-up: on Linux it only ignores SIGPIPE. Idempotent; sockets
    // call it themselves when they are made.
    static int startup();

    virtual int bind(const RDSocketAddress& address);
    virtual int setReuseAddr(int on);
    virtual bool isFatal(int result, int error);
    virtual int connect(const RDSocketAddress& address) = 0;
    virtual void close() = 0;
    virtual bool isValid() const;
    virtual int send(const char* data, int length) = 0;
    virtual int recv(char* buffer, int size) = 0;
    virtual int sendTo(const RDSocketAddress& to, const char* data, int length) = 0;
    virtual int recvFrom(RDSocketAddress& from, char* buffer, int size) = 0;

    const RDSocketAddress& address() const { return m_address; }
    void setAddress(const RDSocketAddress& address) { m_address = address; }
    int setNonBlocking();
    // 1 readable, 0 time-out, -1 on a closed socket.
    int waitReadable(int seconds, int microseconds);
    // Sends every byte, waiting up to timeoutMs in all (< 0: no limit) whenever the socket
    // cannot take more (non-blocking sockets, send time-outs). Returns the bytes sent; fewer
    // than length means the socket failed or the time ran out.
    int sendAll(const char* data, int length, int timeoutMs);
    // Any thread: wakes a blocked call and ends the socket; the owner still closes it.
    void shutdown();

    int handle() const { return m_handle.get(); }
    int lastError() const { return m_lastError.load(std::memory_order_relaxed); }

protected:
    // Shared by the stream and datagram sockets.
    int sendData(const char* data, int length);
    int recvData(char* buffer, int size);
    int finish(int result, int error);
    void closeHandle(bool clearAddress);
    void setLastError(int error) { m_lastError.store(error, std::memory_order_relaxed); }

    RDSocketHandle m_handle;
    std::atomic<int> m_lastError{0};
    RDSocketAddress m_address;
};
