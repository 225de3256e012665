#pragma once

#include "VexaClient.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

// A remote app for tests: records the frames sent to it (the newest `keep` of them, and a
// count of all) and hands out frames the test queued as if the app had sent them, capped like a
// real client's receive queue. sendAudio can be held closed to play a client that falls behind.
class FakeVexaClient : public VexaClient
{
public:
    explicit FakeVexaClient(size_t keep = 100000) : m_keep(keep) {}

    bool isConnected() const override { return m_connected.load(); }
    void setConnected(bool connected) { m_connected = connected; }

    int sendAudio(const VexaAudioPacket& packet) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_gateChanged.wait(lock, [this] { return m_gateOpen; });
        m_sent.push_back(packet);
        if (m_sent.size() > m_keep)
            m_sent.pop_front();
        ++m_sentCount;
        m_sentChanged.notify_all();
        return 0;
    }

    int readAudio(VexaAudioPacket& packet) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_received.empty()) {
            packet.clear();
            return 0;
        }
        packet = std::move(m_received.front());
        m_received.pop_front();
        return packet.length();
    }

    // A frame as if the remote app had sent it.
    void receive(const VexaAudioPacket& packet)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.push_back(packet);
        while (m_received.size() > static_cast<size_t>(kAudioQueueLimit))
            m_received.pop_front();
    }

    // While closed, sendAudio waits.
    void setGateOpen(bool open)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gateOpen = open;
        m_gateChanged.notify_all();
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
    size_t receivedQueued() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received.size();
    }
    // True when count frames have been sent within the time.
    bool waitSent(size_t count, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_sentChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                      [&] { return m_sentCount >= count; });
    }

private:
    const size_t m_keep;
    std::atomic<bool> m_connected{true};
    mutable std::mutex m_mutex;
    std::condition_variable m_gateChanged;
    std::condition_variable m_sentChanged;
    bool m_gateOpen = true;
    std::deque<VexaAudioPacket> m_sent;
    size_t m_sentCount = 0;
    std::deque<VexaAudioPacket> m_received;
};
