#pragma once

#include "VexaAudioQueue.h"
#include "VexaClient.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class RDThread;
class RDFunctionThread;

// IO-control types of the P2P SDK that the program speaks: JSON method messages both ways.
enum TUTKIoCtrlType : unsigned int
{
    TUTKIoCtrlMessage = 0x800
};

// The frame information sent with every audio frame. The frames carry VexaAudioPackets, which
// name their own codec, so these two values are the same for all of them.
enum TUTKFrameInfoValue : unsigned int
{
    TUTKFrameCodec = 137,
    TUTKFrameFlags = 2
};

// One remote app connected through the P2P SDK: one SDK session with one AV server on the
// session's free channel. start (on the server's listen thread) waits for the app to start its
// AV channel, then three threads carry the session: "TUTK Send" writes the queued messages and
// audio, "TUTK Read" hands every IO-control message of type 0x800 to the observer, "TUTK Read
// Audio" queues the received audio packets for the channel engine.
//
// The session id and AV index are atomic and closed through exchange(-1), so exactly one thread
// (a reader meeting a fatal result, the sender after an overflow or after the last reply to a
// client whose close was requested, or stop) stops the AV server and closes the session,
// however they race.
//
// While authentication is on (loginRequired), an app that has not logged in loginWithin after
// its AV start is closed: the SDK serves three apps at most (TUTKServer::kMaxSessions), and
// one that never logs in would hold its session for good.
//
// Threads: start and stop on the owning server's listen thread only; abortStart from any
// thread; send, sendData, sendAudio, readAudio and isConnected from any thread; loginRequired
// on the read thread.
class TUTKClient : public VexaClient
{
public:
    // The largest IO-control message the SDK carries (0x1FFFC).
    static constexpr int kIoCtrlBufferBytes = 131068;
    // A 20-ms L16 stereo frame at 48 kHz is 3,840 bytes plus the header; 64 KiB holds any
    // frame a remote app sends, where a smaller buffer would make the SDK drop it.
    static constexpr int kAudioBufferBytes = 64 * 1024;
    // How long each receive waits in the SDK: bounds how long stop waits for the readers.
    static constexpr unsigned int kReceiveWaitMs = 10;
    // How long the app has to start its AV channel once the session is open.
    static constexpr unsigned int kAvStartTimeoutSeconds = 10;
    // Send queue bounds: audio gives way oldest first (a listener that falls behind hears the
    // newest audio); messages are never dropped silently, so a queue over this limit means the
    // app stopped reading and the session is closed.
    static constexpr size_t kSendAudioLimit = 100;
    static constexpr size_t kSendMessageLimit = 1000;
    // How long an idle sender sleeps before it looks at its stop flag again; a queued item or
    // stop wakes it at once.
    static constexpr int kSendIdleWaitMs = 100;
    // An app logs in with its first messages; 30 s is room for a user who types the password.
    static constexpr double kLoginWithin = 30.0;

    // Whether the app must log in (the server's authentication is on).
    using LoginRequired = std::function<bool()>;

    // A client on an open SDK session; it owns the session from here on. Without loginRequired,
    // or with loginWithin 0 or less, no login is awaited.
    explicit TUTKClient(int sessionId, double loginWithin = kLoginWithin,
                        LoginRequired loginRequired = LoginRequired());
    ~TUTKClient() override;
    TUTKClient(const TUTKClient&) = delete;
    TUTKClient& operator=(const TUTKClient&) = delete;

    // Starts the AV server (waits up to 10 s for the app) and the three threads: true when they
    // run. On failure the client is stopped: isConnected is false and the session is closed.
    bool start() override;
    // Stops the threads, aborts a pending start, stops the AV server, closes the session and
    // empties the send queue; the received audio stays until the client goes. Idempotent.
    void stop() override;
    bool isRunning() const override;
    bool isConnected() const override;

    // 0, or -1 when the session is closed or (messages) the queue is over its limit.
    int sendData(VexaBuffer& buffer) override;
    int sendAudio(const VexaAudioPacket& packet) override;
    int readAudio(VexaAudioPacket& packet) override;

    // Makes a start that runs, or comes later, on another thread return at once: for a server
    // that stops while this client waits for the app to start its AV channel.
    void abortStart();

    int sessionId() const { return m_sessionId.load(); }
    int avIndex() const { return m_avIndex.load(); }

private:
    enum class ItemKind
    {
        Message = 1,
        Audio = 2
    };
    struct Item
    {
        ItemKind kind;
        VexaBuffer bytes;
    };

    void startThreads();
    void stopThreads();
    // Stops the AV server and closes the session, each exactly once whichever thread comes.
    void closeSdk();
    bool queueItem(ItemKind kind, VexaBuffer&& bytes);
    // The oldest queued item; false when none came within kSendIdleWaitMs or the sender stops.
    bool takeItem(RDThread* thread, Item& item);
    void wakeSender();

    void readMessages(RDThread* thread);
    void readAudioFrames(RDThread* thread);
    void sendItems(RDThread* thread);

    const double m_loginWithin;
    const LoginRequired m_loginRequired;
    std::atomic<int> m_sessionId;
    std::atomic<int> m_channelId{-1};
    std::atomic<int> m_avIndex{-1};
    std::atomic<bool> m_starting{false};
    std::atomic<bool> m_startAborted{false};
    // Set by a producer that found the send queue over its message limit.
    std::atomic<bool> m_overflowed{false};
    // Set by the read thread once the observer asked for the end and its reply is queued.
    std::atomic<bool> m_closeWhenSent{false};
    std::atomic<bool> m_threadsRunning{false};

    std::mutex m_sendLock;
    std::condition_variable m_sendReady;
    std::deque<Item> m_sendQueue;
    size_t m_sendAudioCount = 0;
    size_t m_sendMessageCount = 0;

    VexaAudioQueue m_audioQueue{kAudioQueueLimit};
    // True from the first dropped frame until a frame fits again: one log line per run of drops
    // (audio thread only).
    bool m_audioOverflowLogged = false;

    std::unique_ptr<RDFunctionThread> m_sendThread;
    std::unique_ptr<RDFunctionThread> m_readThread;
    std::unique_ptr<RDFunctionThread> m_audioThread;
};
