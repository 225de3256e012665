#pragma once

#include "RDHttpConnection.h"

#include <string>

// The stream server's settings, copied into the server before it starts.
class RDHttpServerConfigure
{
public:
    // A stream listener whose unsent bytes exceed this is ended (never given a stream with
    // bytes cut out of it).
    static constexpr int kDefaultStreamQueueLimit = 256 * 1024;
    // The longest time one piece of a stream may take to reach a listener that stopped reading.
    static constexpr int kDefaultStreamWriteTimeoutMs = 10000;
    // The kernel's send buffer of a stream connection. Left to itself it grows to megabytes
    // for a listener that stopped reading (minutes of audio) before a send ever blocks.
    static constexpr int kDefaultStreamSendBuffer = 32 * 1024;
    // A connection without a whole head has no thread (the accept thread reads for it) but holds
    // a descriptor. With the listeners and the request threads the server stays below 250
    // descriptors, a quarter of the 1024 a desktop session allows a process; 500 peers that
    // never finish a head delay "/api" by tens of milliseconds at this bound (bench/http).
    static constexpr int kDefaultMaxPendingConnections = 128;
    static constexpr int kDefaultMaxRequestConnections = 64;
    // A request thread makes way for a newer connection only after waiting this long for its
    // request, so that it is never pushed out before it has been scheduled to read the head it
    // was started for.
    static constexpr int kDefaultDisplaceGraceMs = 100;

    RDHttpServerConfigure() = default;
    virtual ~RDHttpServerConfigure() = default;
    RDHttpServerConfigure(const RDHttpServerConfigure&) = default;
    RDHttpServerConfigure& operator=(const RDHttpServerConfigure&) = default;

    // Empty means 0.0.0.0.
    std::string host;
    // Below 1 means 8088; above 65535 cannot be listened on.
    int port = 0;
    // Where request bodies that outgrow memoryThreshold continue; empty keeps them in memory.
    std::string tempDir;
    // The most stream listeners at once; below 1 means no limit. A listener beyond it is answered
    // 503 at once. Other requests never count against it.
    int maxClients = 0;
    int memoryThreshold = 0;
    // HTTP Basic authentication for the requests handed to the observer; off when both are empty.
    std::string userName;
    std::string password;

    // Connection time-outs (see RDHttpConnection::setTimeouts).
    int idleTimeoutMs = RDHttpConnection::kDefaultIdleTimeoutMs;
    int requestTimeoutMs = RDHttpConnection::kDefaultRequestTimeoutMs;
    int streamQueueLimit = kDefaultStreamQueueLimit;
    int streamWriteTimeoutMs = kDefaultStreamWriteTimeoutMs;
    // <= 0 leaves the system's own sizing.
    int streamSendBuffer = kDefaultStreamSendBuffer;

    // Connections whose first head is not whole yet (at the bound the oldest makes way), and
    // threads for connections that are not listeners: requests being read or answered, and
    // connections idle between keep-alive requests (at the bound the one idle longest makes way,
    // after the grace time). Below 1 means no limit.
    int maxPendingConnections = kDefaultMaxPendingConnections;
    int maxRequestConnections = kDefaultMaxRequestConnections;
    int displaceGraceMs = kDefaultDisplaceGraceMs;
    // See RDHttpConnection::setHeadTimeout.
    int headTimeoutMs = RDHttpConnection::kDefaultHeadTimeoutMs;
};
