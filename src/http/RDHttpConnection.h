#pragma once

#include "RDHttpParseStatus.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class RDHttpBaseRequest;
class RDHttpResponse;
class RDMemoryData;
class RDSocket;

// One accepted HTTP connection, read one request at a time. Requests are framed by
// Content-Length, so bytes that follow a body stay buffered for the next request
// (keep-alive and pipelining). A request that breaks the rules is answered with its error
// status (400, 408, 413, 431, 501) and ends the connection.
//
// The connection belongs to one thread at a time (the server's accept thread reads its first
// bytes with receiveArrived before it hands it to a thread of its own); only shutdown() may be
// called from another one. The descriptor is released when the object is deleted, so a
// stopping thread's shutdown() can never reach a number that was reused meanwhile.
class RDHttpConnection
{
public:
    static constexpr int kMaxHeadBytes = 64 * 1024;
    static constexpr int64_t kMaxBodyBytes = 1024 * 1024;
    static constexpr int kDefaultIdleTimeoutMs = 15000;
    static constexpr int kDefaultRequestTimeoutMs = 30000;
    // A head is one or two segments. Five seconds still cover four lost transmissions of the
    // same segment (retransmission waits of 0.2 + 0.4 + 0.8 + 1.6 s on Linux, 0.3 s doubling on
    // Windows), and end a peer that sends a head a byte at a time within a few seconds.
    static constexpr int kDefaultHeadTimeoutMs = 5000;
    static constexpr int kDefaultWriteTimeoutMs = 30000;

    // Takes ownership of the accepted socket.
    explicit RDHttpConnection(RDSocket* socket);
    ~RDHttpConnection();
    RDHttpConnection(const RDHttpConnection&) = delete;
    RDHttpConnection& operator=(const RDHttpConnection&) = delete;

    // Bodies larger than the threshold continue in a file of their own in the temp folder
    // (only when both are set).
    void setMemoryThreshold(int bytes) { m_memoryThreshold = bytes; }
    void setTempDir(const std::string& dir) { m_tempDir = dir; }
    int memoryThreshold() const { return m_memoryThreshold; }
    const std::string& tempDir() const { return m_tempDir; }
    // idleMs: the longest wait for the first byte of a request; requestMs: the longest time
    // from its first byte until it is complete. 0 or less means no limit.
    void setTimeouts(int idleMs, int requestMs);
    // The longest time from a request's first byte until its head is complete (0 or less: only
    // the request limit applies).
    void setHeadTimeout(int ms) { m_headTimeoutMs = ms; }
    // The longest time writeAll waits for a peer that does not read (<= 0: no limit). It is
    // also the socket's send time-out, so that a blocking send cannot hang for ever.
    void setWriteTimeout(int ms);

    bool isConnected() const;
    // The next complete request, or null when none could be read (the connection has then
    // ended: check isConnected).
    std::unique_ptr<RDHttpBaseRequest> readRequest();

    // Before the connection has a thread of its own (the server's accept thread): takes what has
    // arrived without waiting. Head: a whole head is buffered (or more than a head may hold),
    // so readRequest goes on at once; Partial: more is to come; Ended: the peer closed or the
    // connection failed.
    enum class Arrival
    {
        Partial,
        Head,
        Ended
    };
    Arrival receiveArrived();
    // Bytes of a request (not only empty lines) are buffered.
    bool hasRequestBytes() const;
    // Answers the refusal with its status and ends the connection. quiet leaves it out of the
    // log, for a caller that reports such refusals in sum.
    void refuse(RDHttpParseStatus why, bool quiet);

    // One send; its result.
    int write(const char* data, int length);
    // Sends every byte; returns the bytes sent. A write that cannot finish ends the connection.
    int writeAll(const char* data, int length);
    int writeAll(const std::string& data);
    void sendResponse(RDHttpResponse* response);

    // Ends the connection (both directions shut down).
    void close();
    // Any thread: wakes a blocked read or write and ends the connection.
    void shutdown();

    // The peer's port in decimal.
    std::string remotePort() const;

    // The answer to a refused request: 400, 408, 413, 431, 500 or 501 (0 for Ok).
    static int statusCode(RDHttpParseStatus status);
    // Searches data for the empty line that ends a head (RFC 9112 2.2: a line ends with LF, a CR
    // before it is dropped), from *scanned on. True with *headEnd where the head's text ends
    // and *headBytes what it takes with its empty line; false with *scanned moved to where a
    // search with more data goes on.
    static bool findHeadEnd(const char* data, size_t size, size_t* scanned, size_t* headEnd, size_t* headBytes);
    RDSocket* socket() const { return m_socket; }

private:
    using Clock = std::chrono::steady_clock;
    enum ReceiveResult { Received, TimedOut, Failed };

    ReceiveResult receive(Clock::time_point deadline, bool limited);
    // findHeadEnd over the buffer, within the head limit.
    bool findHead(size_t* headEnd, size_t* headBytes);
    void skipEmptyLines();
    // refuse(why, false); always null.
    std::unique_ptr<RDHttpBaseRequest> refuse(RDHttpParseStatus why);
    std::string newBodyPath() const;
    void applyWriteTimeout();

    RDSocket* m_socket;
    RDMemoryData* m_buffer;
    int m_memoryThreshold = 0;
    std::string m_tempDir;
    int m_idleTimeoutMs = kDefaultIdleTimeoutMs;
    int m_requestTimeoutMs = kDefaultRequestTimeoutMs;
    int m_headTimeoutMs = kDefaultHeadTimeoutMs;
    // Bytes at the buffer's start already searched for the end of the head, so that a head
    // arriving in many small pieces is not searched from its start again for each.
    size_t m_headScanned = 0;
    int m_writeTimeoutMs = kDefaultWriteTimeoutMs;
};
