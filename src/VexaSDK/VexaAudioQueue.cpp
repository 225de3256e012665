#include "VexaAudioQueue.h"

#include <utility>

VexaAudioQueue::VexaAudioQueue(int limit)
    : m_limit(limit > 0 ? static_cast<size_t>(limit) : 1)
{
}

int VexaAudioQueue::push(VexaAudioPacket packet)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int dropped = 0;
    while (m_packets.size() >= m_limit) {
        m_packets.pop_front();
        ++dropped;
    }
    m_packets.push_back(std::move(packet));
    m_dropped += static_cast<uint64_t>(dropped);
    return dropped;
}

int VexaAudioQueue::pop(VexaAudioPacket& packet)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_packets.empty()) {
        packet.clear();
        return 0;
    }
    packet = std::move(m_packets.front());
    m_packets.pop_front();
    return packet.length();
}

void VexaAudioQueue::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_packets.clear();
}

int VexaAudioQueue::count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_packets.size());
}

uint64_t VexaAudioQueue::dropped() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}
