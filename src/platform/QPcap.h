#pragma once

#include "QPcapObserver.h"
#include "RDSystemNetwork.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include <pcap/pcap.h>

class RDFunctionThread;
class RDThread;

// One network adapter opened for raw frame capture and injection. Three threads work for it:
// "QPcap" opens the adapter, keeps it open and reopens it after an error; "QPcapSend" sends the
// queued frames; "QPcapRecv" runs the capture loop and hands every frame of at most
// kMaxFrameBytes to the observer, on that thread.
//
// start(), stop(), setNetwork(), setFilter() and setObserver() are called by the owner's thread;
// send() from any thread. The handle is touched only by the "QPcap" thread and by the two
// threads it runs, which it stops before it closes the handle.
class QPcap
{
public:
    // Longer frames are ignored on receipt: an untagged Ethernet frame without its checksum.
    static constexpr int kMaxFrameBytes = 1514;
    // Longer frames are cut, yet their wire length still marks them for dropping. Linux sizes
    // every slot of the capture ring by the snapshot length: at 65536 a 2 MB ring held about 30
    // frames, and the burst of replies to one search (hundreds of devices) overflowed it.
    static constexpr int kSnapLength = 2048;
    static constexpr int kBufferBytes = 4 << 20;
    static constexpr int kReadTimeoutMs = 1000;
    // Pause between two attempts to open an adapter that cannot be opened.
    static constexpr int kRetryMs = 1000;
    // How often the supervisor looks at the error flag and the interface.
    static constexpr int kSuperviseMs = 100;
    // The send thread wakes on every queued frame; this only bounds an idle wait.
    static constexpr int kSendIdleMs = 100;
    // A queue longer than this means the adapter does not take frames: new ones are refused.
    static constexpr int kMaxQueuedFrames = 4096;

    QPcap();
    // Stops the capture.
    ~QPcap();
    QPcap(const QPcap&) = delete;
    QPcap& operator=(const QPcap&) = delete;

    // Not owned; null ignores captured frames.
    void setObserver(QPcapObserver* observer) { m_observer.store(observer); }
    // The adapter to open (its capture name) at the next start.
    void setNetwork(const RDSystemNetwork& network);
    // A BPF expression applied from the next open; empty captures every frame.
    void setFilter(const std::string& expression) { m_filter = expression; }

    // Stops a running capture, drops every queued frame and starts opening the adapter.
    // Always 0.
    int start();
    // Returns once the adapter is closed and all three threads have ended.
    void stop();
    // A capture was started and not stopped (the adapter may still be opening). Any thread.
    bool isRunning() const { return m_running.load(); }
    // The adapter is open and frames are sent and received.
    bool isOpen() const { return m_open.load(); }

    // Queues a frame. deadline is a RDThread::tickTime() after which the frame is dropped
    // unsent (<= 0: none), so that a request whose command has given up is never carried out
    // late. False when the queue is full (the frame is dropped).
    bool send(const QByteArray& frame, double deadline = 0);
    int queuedFrames() const;

    // The pcap error text of the last failure, empty after a successful open.
    QString lastError() const;

private:
    struct QueuedFrame
    {
        QByteArray bytes;
        double deadline = 0;
    };

    // The bodies of the supervising, send and receive threads.
    void superviseLoop(RDThread* thread);
    void sendLoop(RDThread* thread);
    void recvLoop(RDThread* thread);
    void wakeSender();
    void breakLoop();

    bool open();
    bool setFilter(pcap_t* handle);
    void close();
    bool interfaceChanged() const;
    void reportError(const QString& text);
    static void packetHandler(u_char* user, const pcap_pkthdr* header, const u_char* bytes);

    std::atomic<int> m_error{0};
    pcap_t* m_handle = nullptr;
    unsigned m_interfaceIndex = 0;
    RDSystemNetwork m_network;
    std::string m_filter;

    mutable std::mutex m_queueMutex;
    std::condition_variable m_queueWake;
    std::deque<QueuedFrame> m_queue;

    std::unique_ptr<RDFunctionThread> m_thread;
    std::unique_ptr<RDFunctionThread> m_sendThread;
    std::unique_ptr<RDFunctionThread> m_recvThread;

    std::atomic<QPcapObserver*> m_observer{nullptr};
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_running{false};

    mutable std::mutex m_errorMutex;
    QString m_lastError;
};
