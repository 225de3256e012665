#pragma once

#include <chrono>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>

// The socket work both ends of a session share: the device's abstract address, and writes that
// neither raise SIGPIPE nor hang on a peer that stopped reading.
class LoopP2pSocket
{
public:
    // A peer that takes nothing for this long is treated as gone.
    static constexpr int kSendStallMs = 2000;

    // 1 to 64 characters of [A-Za-z0-9._-].
    static bool isValidUid(const std::string& uid);
    // The abstract address "\0loopp2p/<uid>" (no file, no terminating NUL in the length).
    static socklen_t address(const std::string& uid, sockaddr_un& address);
    // Writes all bytes; false when the peer is gone or took nothing for kSendStallMs.
    static bool sendAll(int fd, const char* data, size_t length);
    // Waits up to timeoutMs (negative: no limit) for fd to become readable, riding out signals.
    // 1 readable (or hung up), 0 time-out, -1 error.
    static int waitReadable(int fd, int timeoutMs);
    // Whole milliseconds until the deadline, 0 once it passed.
    static int msLeft(std::chrono::steady_clock::time_point deadline);
};
