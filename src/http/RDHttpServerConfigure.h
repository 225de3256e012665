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
    // Below 1 means no limit. Connections beyond the limit wait to be served; none is refused.
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
};
