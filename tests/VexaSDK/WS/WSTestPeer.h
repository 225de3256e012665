#pragma once

#include "WSFrameHeader.h"

#include <string>

// A WebSocket client on a raw TCP socket, for tests that look at the bytes: it sends what it is
// told (masked client frames, or any bytes at all) and reads the server's answer and frames
// byte for byte. Every read waits with a bound.
class WSTestPeer
{
public:
    WSTestPeer() = default;
    ~WSTestPeer();
    WSTestPeer(const WSTestPeer&) = delete;
    WSTestPeer& operator=(const WSTestPeer&) = delete;

    static std::string request(const std::string& extraHeaders = std::string());

    bool connect(int port);
    bool sendRaw(const std::string& bytes);
    // A masked client frame; fin false leaves the message open.
    bool sendFrame(WSOpcode opcode, const std::string& payload, bool fin = true);
    // Sends request() and reads the answer's head: true on "101".
    bool handshake();
    // The answer's head up to its blank line ("" on a time-out or a close before it).
    std::string readHead(int timeoutMs = 20000);
    // The next server frame; false on a time-out, a close, or a masked frame (servers never
    // mask). head keeps the raw head bytes for layout checks.
    bool readFrame(WSFrameHeader* frame, std::string* payload, std::string* head = nullptr, int timeoutMs = 20000);
    // True once the server closed the connection (EOF or reset) within the time; bytes that
    // come first are dropped.
    bool waitClosed(int timeoutMs = 20000);
    // Ends the connection with a reset, as a killed process would.
    void abort();
    void close();

private:
    // At least n bytes buffered; false on a time-out or EOF.
    bool fill(size_t n, int timeoutMs);

    int m_fd = -1;
    std::string m_buffer;
};
