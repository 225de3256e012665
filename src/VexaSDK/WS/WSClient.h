#pragma once

#include "VexaAudioQueue.h"
#include "VexaClient.h"
#include "WSFrameHeader.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

class RDFunctionThread;
class RDTcpSocket;
class RDThread;

// One WebSocket connection of a remote app (RFC 6455, server side). Its read thread ("WSClient
// Read") reads the opening handshake and then the frames, hands text messages and binary
// messages of kind 0 to the observer and queues binary messages of kind 1 as received audio;
// its send thread ("WSClient Send") writes the queued messages and audio as unmasked frames and
// pings a connection that has been quiet for the ping interval.
//
// Both threads sleep in poll() or on a condition variable; nothing polls a clock. The client
// ends itself (socket shut down, isConnected false) on a close, a protocol error, a peer that
// goes away or stops reading, or a send queue that overflows; its server then purges it.
//
// Limits (each with its reason at its definition): the handshake's size and time, a message's
// size (WSMessageReader), the send queue and the received audio queue.
//
// Threads: start and stop on the server's listen thread; the send operations, readAudio and
// isConnected from any thread. Locks: m_queueLock (send queue), m_writeLock (whole frames on
// the socket, so that the read thread's pong or close never splits a frame of the send
// thread), m_socketLock (the socket pointer against stop). Order: m_queueLock before
// m_socketLock; m_writeLock is taken alone.
class WSClient : public VexaClient
{
public:
    // Binary message kinds (the first byte of a binary message).
    enum class Kind : uint8_t
    {
        Message = 0,
        Audio = 1,
    };

    // A quiet connection is pinged this often (seconds).
    static constexpr double kPingInterval = 60.0;
    // The whole request head must arrive within this time, or the connection is closed.
    static constexpr int kHandshakeTimeoutMs = 10000;
    // Queued messages at most: a remote app that reads none of more than this many is gone or
    // stuck, and holding more would only grow memory.
    static constexpr int kMaxQueuedMessages = 1000;
    // Queued audio frames at most (2 s of 20-ms frames): the oldest give way.
    static constexpr int kMaxQueuedAudio = 100;
    // A frame that cannot be written within this time closes the connection: the peer stopped
    // reading.
    static constexpr int kWriteTimeoutMs = 30000;

    // Takes the accepted socket. pingInterval in seconds; 0 or less sends no pings.
    explicit WSClient(RDTcpSocket* socket, double pingInterval = kPingInterval);
    ~WSClient() override;

    bool start() override;
    void stop() override;
    bool isRunning() const override;
    bool isConnected() const override;

    // A text message. -1 when the client is closed or its queue overflowed (then it closes).
    int sendData(VexaBuffer& buffer) override;
    // A binary message of kind Audio; the oldest queued audio gives way beyond the limit.
    int sendAudio(const VexaAudioPacket& packet) override;
    int readAudio(VexaAudioPacket& packet) override;

    bool isHandshaken() const { return m_handshaken.load(); }
    // Received audio frames dropped because the channel did not take them in time.
    uint64_t droppedAudio() const { return m_audioQueue.dropped(); }
    // Queued messages and audio, for tests of the limits.
    int queuedMessages() const;
    int queuedAudio() const;

private:
    struct Item
    {
        WSOpcode opcode;
        std::string payload;
    };

    // Wakes and joins both threads; the socket stays (shut down when they ran).
    void stopThreads();
    void runRead(RDThread* thread);
    void runSend(RDThread* thread);
    // The opening handshake: true once answered with 101; the bytes after the head go to
    // firstBytes.
    bool readHandshake(RDThread* thread, std::string* firstBytes);
    // Frames until the peer closes, breaks the protocol or the thread stops.
    void readMessages(RDThread* thread, const std::string& firstBytes);
    void onBinary(const std::string& message);
    // Queues one item (urgent: before the others); false when the client is closed or the
    // queue is full (the client then closes).
    bool enqueue(WSOpcode opcode, std::string payload, bool urgent);
    // Writes bytes whole under the write lock; false when the socket failed, stalled or the
    // connection is closing.
    bool write(const std::string& bytes);
    // Sends a close frame with the code as the last frame, then shuts the socket down.
    void closeWith(uint16_t code, const char* why);
    void shutdownSocket();
    std::string peer() const;

    const double m_pingInterval;
    std::string m_peer;

    mutable std::mutex m_socketLock;
    std::unique_ptr<RDTcpSocket> m_socket;
    std::mutex m_writeLock;
    bool m_closing = false; // under m_writeLock: nothing more is written

    std::atomic<bool> m_handshaken{false};
    mutable std::mutex m_queueLock;
    std::condition_variable m_queueChanged;
    std::deque<Item> m_queue;
    int m_queuedAudio = 0;
    bool m_sendStop = false; // under m_queueLock

    VexaAudioQueue m_audioQueue{kMaxQueuedAudio};

    std::unique_ptr<RDFunctionThread> m_sendThread;
    std::unique_ptr<RDFunctionThread> m_readThread;
};
