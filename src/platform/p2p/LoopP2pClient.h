#pragma once

#include "LoopP2p.h"
#include "LoopP2pFrameReader.h"

#include <cstdint>
#include <deque>
#include <string>

// The remote app's end of a session, for tests, benchmarks and tools: single-threaded, every
// call waits at most its time-out. A receive reads frames until the kind it wants arrives and
// keeps the others, in order, for later receives.
class LoopP2pClient
{
public:
    LoopP2pClient() = default;
    ~LoopP2pClient();
    LoopP2pClient(const LoopP2pClient&) = delete;
    LoopP2pClient& operator=(const LoopP2pClient&) = delete;

    // 0 once the device accepted the session; -18 when it refused it (session limit), -1013
    // when no device has the UID, -1014 when it did not answer in time.
    int connect(const std::string& uid, int timeoutMs);
    // Asks the device to start its AV server: 0, the device's refusal code, -1014 or -1007.
    int startAv(const std::string& account, const std::string& password, int timeoutMs);

    int sendIoCtrl(uint32_t type, const std::string& data);
    // The message's length, or -20011 (nothing in time) or -1007 (the device closed).
    int recvIoCtrl(int timeoutMs, uint32_t& type, std::string& data);
    int sendAudio(const LoopP2pFrameInfo& info, const std::string& data);
    int recvAudio(int timeoutMs, LoopP2pFrameInfo& info, std::string& data);

    // Malformed input for tests: any kind and body, or a header announcing length bytes.
    int sendRaw(uint8_t kind, const std::string& body);
    int sendRawHeader(uint8_t kind, uint32_t length);

    // True once the device closed the session (seen by a receive).
    bool peerClosed() const { return m_eof; }
    int fd() const { return m_fd; }
    void close();

private:
    // The next frame of one of the two kinds (0 for none): 0, -20011 or -1007.
    int take(LoopP2pFrameKind kind, LoopP2pFrameKind other, int timeoutMs, LoopP2pFrame& frame);
    int sendBytes(const std::string& bytes);

    int m_fd = -1;
    bool m_eof = false;
    LoopP2pFrameReader m_reader;
    std::deque<LoopP2pFrame> m_kept;
};
