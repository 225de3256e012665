#include "SipH264.h"

#include "RDLog.h"

#include <algorithm>
#include <cstring>

void SipH264::packetize(const uint8_t* unit, size_t size, uint32_t increment, const Sink& sink)
{
    if (!unit || size == 0)
        return;
    if (size <= kFragmentSize) {
        sink(unit, size, true, increment);
        return;
    }
    uint8_t fragment[2 + kFragmentSize];
    const uint8_t header = unit[0];
    fragment[0] = static_cast<uint8_t>((header & 0x60) | kFuA);
    const uint8_t* rest = unit + 1;
    size_t left = size - 1;
    bool first = true;
    while (left > 0) {
        size_t piece = std::min(left, kFragmentSize);
        // One fragment may not carry both the start and the end bit.
        if (first && piece == left)
            piece = left / 2;
        const bool last = piece == left;
        fragment[1] = static_cast<uint8_t>((first ? 0x80 : 0) | (last ? 0x40 : 0) | (header & 0x1F));
        std::memcpy(fragment + 2, rest, piece);
        sink(fragment, piece + 2, last, last ? increment : 0);
        rest += piece;
        left -= piece;
        first = false;
    }
}

bool SipH264::Assembler::push(const uint8_t* payload, size_t length)
{
    m_ready = nullptr;
    m_readySize = 0;
    if (!payload || length == 0)
        return false;
    const uint8_t type = payload[0] & 0x1F;
    if (type >= 1 && type <= kStapA) {
        m_ready = payload;
        m_readySize = length;
        return true;
    }
    if (type != kFuA && type != kFuB)
        return false;
    // A fragment needs its indicator and header.
    if (length < 2)
        return false;
    const bool start = (payload[1] & 0x80) != 0;
    const bool end = (payload[1] & 0x40) != 0;
    if (start) {
        if (m_assembling)
            ++m_dropped;
        m_buffer.clear();
        m_buffer.reserve(kInitialCapacity);
        m_buffer.push_back(static_cast<uint8_t>((payload[0] & 0xE0) | (payload[1] & 0x1F)));
        m_assembling = true;
    } else if (!m_assembling) {
        return false;
    }
    if (m_buffer.size() + (length - 2) > kMaxUnitSize) {
        ++m_dropped;
        if ((m_dropped & (m_dropped - 1)) == 0)
            RDLOG("drop H.264 unit over %zu bytes (%llu dropped)", kMaxUnitSize,
                  static_cast<unsigned long long>(m_dropped));
        m_buffer.clear();
        m_assembling = false;
        return false;
    }
    m_buffer.insert(m_buffer.end(), payload + 2, payload + length);
    if (!end)
        return false;
    m_done.swap(m_buffer);
    m_buffer.clear();
    m_assembling = false;
    m_ready = m_done.data();
    m_readySize = m_done.size();
    return true;
}
