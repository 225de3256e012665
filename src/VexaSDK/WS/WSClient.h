#pragma once

#include "VexaAudioQueue.h"
#include "VexaClient.h"
#include "WSFrameHeader.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class RDFunctionThread;
class RDTcpSocket;
class RDThread;

// One WebSocket connection of a remote app (RFC 6455, server side). Its read thread ("WSClient
// Read") reads the opening handshake and then the frames, hands text messages and binary
// messages of kind 0 to the observer and queues binary messages of kind 1 as received audio;
// it also watches the app by its rules: an app silent for pingAfter is pinged and closed (1011)
// when nothing comes within pongWithin, and while authentication is on (loginRequired) one
// that has not logged in loginWithin after its handshake is closed (1008), so that connections
// which only hold a slot give it up. The send thread ("WSClient Send") writes the queued
// messages, audio and pings as unmasked frames.
//
// Both threads sleep in poll() or on a condition variable until a byte, an item, a deadline or
// stop. The client ends itself (socket shut down, isConnected false) on a close, a protocol
// error, a silent app, a missed login, a peer that goes away or stops reading, a send queue that
// overflows, or a close its observer requested (after the queued replies); its server then
// purges it.
//
// Limits (each with its reason at its definition): the handshake's size and time, a message's
// size (WSMessageReader), the send queue, the received audio queue and the three waits above.
//
// Threads: start and stop on the server's listen thread; the send operations, readAudio and
// isConnected from any thread; the rules source on the read thread. Locks: m_queueLock (send
// queue), m_writeLock (whole frames on the socket, so that the read thread's close never
// splits a frame of the send thread), m_socketLock (the socket pointer against stop). Order:
// m_queueLock before m_socketLock; m_writeLock is taken alone.
class WSClient : public VexaClient
{
public:
    // Binary message kinds (the first byte of a binary message).
    enum class Kind : uint8_t
    {
        Message = 0,
        Audio = 1,
    };

    // With every slot of the server held by apps that say nothing, a real one waits up to
    // kPingAfter + kPongWithin (or kLoginWithin with authentication on) for a slot. 30 s of
    // silence also keeps NAT and firewall state alive; apps' WebSocket libraries answer a ping
    // by themselves, and 10 s is ample for a phone on a busy LAN.
    static constexpr double kPingAfter = 30.0;
    static constexpr double kPongWithin = 10.0;
    // An app logs in with its first messages; 30 s is room for a user who types the password.
    static constexpr double kLoginWithin = 30.0;

    // How long the client waits on its app, in seconds; 0 or less turns a wait off. Tests
    // shorten them.
    struct Timeouts
    {
        // Silence (no whole message or control frame from the app) before a ping.
        double pingAfter = kPingAfter;
        // After a ping, the time the app has to send anything at all.
        double pongWithin = kPongWithin;
        // From the handshake, the time to log in while loginRequired says so.
        double loginWithin = kLoginWithin;
    };
    // What the client goes by, asked anew on every wake of its read thread, so that a change of
    // the server's credentials or waits reaches the apps connected already.
    struct Rules
    {
        Timeouts timeouts;
        // The app must log in (the server's authentication is on).
        bool loginRequired = false;
    };
    using RulesSource = std::function<Rules()>;

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

    // Takes the accepted socket. Without rules the default waits hold and no login is awaited.
    explicit WSClient(RDTcpSocket* socket, RulesSource rules = RulesSource());
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
    // Frames until the peer closes, breaks the protocol, goes silent, misses its login or the
    // thread stops: false. True when the observer asked for the end and the close frame is
    // queued behind the replies: the send thread ends the connection.
    bool readMessages(RDThread* thread, const std::string& firstBytes);
    // Why the app is closed now (the reason for the log, and the close code), or null while it
    // may stay. pingedAt: the time of the ping it has not answered yet, or < 0.
    const char* overdue(const Rules& rules, double now, double handshakeAt, double pingedAt, WSCloseCode* code) const;
    void onBinary(const std::string& message);
    // Queues one item (urgent: before the others); false when the client is closed or the
    // queue is full (the client then closes).
    bool enqueue(WSOpcode opcode, std::string payload, bool urgent);
    // Writes bytes whole under the write lock; false when the socket failed, stalled or the
    // connection is closing.
    bool write(const std::string& bytes);
    // Sends a close frame with the code as the last frame, then shuts the socket down.
    void closeWith(uint16_t code, const char* why);
    // After the send thread wrote a queued close frame: nothing more is written, the socket goes.
    void finishClose();
    void shutdownSocket();
    std::string peer() const;

    const RulesSource m_rules;
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
