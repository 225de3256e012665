#pragma once

#include "RTPAudioWriter.h"

#include <atomic>
#include <memory>
#include <mutex>

class RTPAudioPacketQueue;
class RDThread;
class VexaClient;

// Sends a channel's packets to one remote app as audio frames, on a thread of its own ("SDK
// Write"), until the app's connection ends.
class RTPSDKWriter : public RTPAudioWriter
{
public:
    // Packets waiting for the sending thread; beyond this the oldest give way.
    static constexpr int kQueueLimit = 100;

    RTPSDKWriter() = default;
    ~RTPSDKWriter() override;
    RTPSDKWriter(const RTPSDKWriter&) = delete;
    RTPSDKWriter& operator=(const RTPSDKWriter&) = delete;

    // Before open.
    void setClient(const std::shared_ptr<VexaClient>& client);
    std::shared_ptr<VexaClient> client() const;

    // Starts the sending thread; only the payload type is kept. 0, or -1 without a client or
    // when the thread cannot start.
    int open(const RtpInfo* info, int payloadType, int sampleRate, int channels) override;
    // The sending thread exists (also after it ended because the app went away).
    bool isOpen() override;
    // Queues a copy of the packet: 0, or -1 while closed or once the app has gone.
    int write(const RTPAudioPacket* packet) override;
    // Stops the thread and drops what is queued.
    void close() override;

    int payloadType() const { return m_payloadType.load(std::memory_order_relaxed); }
    int queued() const;

private:
    void sendLoop(RDThread* thread);

    mutable std::mutex m_mutex;
    std::shared_ptr<VexaClient> m_client;
    RTPAudioPacketQueue* m_queue = nullptr;
    RDThread* m_thread = nullptr;
    std::atomic<int> m_payloadType{-1};
    std::atomic<bool> m_ended{false};
};
