#pragma once

#include "VexaAudioQueue.h"
#include "VexaBuffer.h"
#include "VexaClient.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A remote app for tests, backed by queues instead of a transport.
// - Messages queued to it (send, sendData) are recorded, as text, in order.
// - Audio frames sent to it are recorded (the newest `keep` of them, and a count of all);
//   sendAudio can be held closed to play a client that falls behind.
// - Frames the test queues with receive come out of readAudio, capped like a real client's.
// - Messages "from the app": deliver hands one to the observer at once on the calling thread;
//   post queues one for the client's own read thread (started by start when the client is
//   threaded), which delivers them in order, as a transport's read thread does. stop joins it.
class FakeVexaClient : public VexaClient
{
public:
    explicit FakeVexaClient(size_t keep = 100000, bool threaded = false)
        : m_keep(keep)
        , m_threaded(threaded)
    {
    }
    ~FakeVexaClient() override { stop(); }

    bool start() override
    {
        if (!m_startSucceeds)
            return false;
        m_running = true;
        if (m_threaded)
            m_reader = std::thread([this] { readLoop(); });
        return true;
    }
    void stop() override
    {
        {
            std::lock_guard<std::mutex> lock(m_inMutex);
            m_stopping = true;
        }
        m_inChanged.notify_all();
        if (m_reader.joinable())
            m_reader.join();
        m_connected = false;
        m_running = false;
        ++m_stops;
    }
    bool isRunning() const override { return m_running.load(); }
    bool isConnected() const override { return m_connected.load(); }
    // The app goes away (the transport failed): the client stays listed until purged.
    void setConnected(bool connected) { m_connected = connected; }
    // Whether start succeeds.
    void setStartSucceeds(bool succeeds) { m_startSucceeds = succeeds; }
    int stops() const { return m_stops.load(); }

    int sendData(VexaBuffer& buffer) override
    {
        const uint8_t* bytes = buffer.bytes();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.emplace_back(bytes ? reinterpret_cast<const char*>(bytes) : "", static_cast<size_t>(buffer.size()));
        m_changed.notify_all();
        return 0;
    }

    int sendAudio(const VexaAudioPacket& packet) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_gateChanged.wait(lock, [this] { return m_gateOpen; });
        m_sent.push_back(packet);
        if (m_sent.size() > m_keep)
            m_sent.pop_front();
        ++m_sentCount;
        m_changed.notify_all();
        return 0;
    }

    int readAudio(VexaAudioPacket& packet) override { return m_received.pop(packet); }

    // A frame as if the remote app had sent it.
    void receive(const VexaAudioPacket& packet) { m_received.push(packet); }
    size_t receivedQueued() const { return static_cast<size_t>(m_received.count()); }

    // A message from the app, handled on this thread.
    void deliver(const std::string& text)
    {
        VexaBuffer buffer(text.data(), static_cast<int>(text.size()));
        notifyData(buffer);
    }
    // A message from the app, for the read thread.
    void post(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(m_inMutex);
        m_inbound.push_back(text);
        m_inChanged.notify_all();
    }

    // While closed, sendAudio waits.
    void setGateOpen(bool open)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gateOpen = open;
        m_gateChanged.notify_all();
    }

    std::vector<std::string> messages() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }
    // True when count messages have been queued to the app within the time.
    bool waitMessages(size_t count, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_messages.size() >= count; });
    }

    std::vector<VexaAudioPacket> sent() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::vector<VexaAudioPacket>(m_sent.begin(), m_sent.end());
    }
    size_t sentCount() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sentCount;
    }
    // True when count frames have been sent within the time.
    bool waitSent(size_t count, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_sentCount >= count; });
    }

private:
    void readLoop()
    {
        for (;;) {
            std::string text;
            {
                std::unique_lock<std::mutex> lock(m_inMutex);
                m_inChanged.wait(lock, [this] { return m_stopping || !m_inbound.empty(); });
                if (m_stopping)
                    return;
                text = std::move(m_inbound.front());
                m_inbound.pop_front();
            }
            deliver(text);
        }
    }

    const size_t m_keep;
    const bool m_threaded;
    std::atomic<bool> m_connected{true};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_startSucceeds{true};
    std::atomic<int> m_stops{0};

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::condition_variable m_gateChanged;
    bool m_gateOpen = true;
    std::vector<std::string> m_messages;
    std::deque<VexaAudioPacket> m_sent;
    size_t m_sentCount = 0;
    VexaAudioQueue m_received{kAudioQueueLimit};

    std::mutex m_inMutex;
    std::condition_variable m_inChanged;
    std::deque<std::string> m_inbound;
    bool m_stopping = false;
    std::thread m_reader;
};
