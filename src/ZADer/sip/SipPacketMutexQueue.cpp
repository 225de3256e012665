#include "SipPacketMutexQueue.h"

#include "SipPacket.h"

SipPacketMutexQueue::~SipPacketMutexQueue()
{
    clear();
}

void SipPacketMutexQueue::push(SipPacket* packet)
{
    if (!packet)
        return;
    std::lock_guard<std::mutex> guard(m_mutex);
    m_packets.push_back(packet);
}

SipPacket* SipPacketMutexQueue::pop()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_packets.empty())
        return nullptr;
    SipPacket* packet = m_packets.front();
    m_packets.pop_front();
    return packet;
}

size_t SipPacketMutexQueue::size() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_packets.size();
}

void SipPacketMutexQueue::clear()
{
    std::deque<SipPacket*> packets;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        packets.swap(m_packets);
    }
    for (SipPacket* packet : packets)
        delete packet;
}
