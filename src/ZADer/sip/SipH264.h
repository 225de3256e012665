#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// H.264 over RTP (RFC 6184) as calls carry it: a NAL unit goes as one packet when it fits,
// else as FU-A fragments; received fragments are put back together.
class SipH264
{
public:
    static constexpr size_t kFragmentSize = 1300;
    // A unit growing beyond this while being reassembled is dropped.
    static constexpr size_t kMaxUnitSize = 1024 * 1024;
    static constexpr size_t kInitialCapacity = 8192;
    static constexpr uint8_t kStapA = 24;
    static constexpr uint8_t kFuA = 28;
    static constexpr uint8_t kFuB = 29;

    // One RTP payload: its bytes, whether it carries the mark, and its timestamp increment.
    using Sink = std::function<void(const uint8_t* payload, size_t length, bool marker, uint32_t increment)>;

    // Hands the payloads of one NAL unit to sink: the unit itself up to kFragmentSize bytes,
    // else FU-A fragments of at most kFragmentSize bytes of the unit (after its header), at
    // least two, the last carrying the end bit, the mark and the increment. An empty unit
    // gives nothing.
    static void packetize(const uint8_t* unit, size_t size, uint32_t increment, const Sink& sink);

    // Reassembly of the units of one stream (for one thread).
    class Assembler
    {
    public:
        // One received payload. True when a whole unit is ready: it is then at unit() with
        // unitSize() bytes, until the next push.
        bool push(const uint8_t* payload, size_t length);
        const uint8_t* unit() const { return m_ready; }
        size_t unitSize() const { return m_readySize; }
        // Units dropped because a fragment was missing its start or the unit grew too large.
        uint64_t dropped() const { return m_dropped; }

    private:
        std::vector<uint8_t> m_buffer;
        bool m_assembling = false;
        const uint8_t* m_ready = nullptr;
        size_t m_readySize = 0;
        std::vector<uint8_t> m_done;
        uint64_t m_dropped = 0;
    };
};
