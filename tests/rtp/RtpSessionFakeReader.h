#pragma once

#include "RTPAudioPacket.h"
#include "RTPAudioReader.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

// A channel source for session tests that makes its packets up: each payload starts with the
// reader's tag byte and the packet's index (big-endian), so a receiver can tell which source a
// packet on the wire came from and where in that source it was. The session calls read and
// isFinished on its send thread under its lock; the test reads the counters from its own.
class RtpSessionFakeReader : public RTPAudioReader
{
public:
    explicit RtpSessionFakeReader(uint8_t tag) : m_tag(tag) {}

    // Set before the session starts the reader.
    double duration = 0.02;
    int bytes = 160;
    int sampleRate = 8000;
    int channels = 1;
    int limit = -1;            // packets before it finishes; -1 never finishes
    bool paced = false;        // hands packets out no faster than real time, the first at once
    int gapAfter = -1;         // after this many packets, nothing for gapSeconds
    double gapSeconds = 0;
    int readyEvery = 1;        // only every n-th read has a packet (a live source)
    bool failStart = false;
    std::vector<double> durations; // cycled through instead of the one duration when given
    int packetPayloadType = -2; // -2: the payload type the session told it

    std::atomic<int> reads{0};
    std::atomic<int> handed{0};
    std::atomic<int> toldPayloadType{-3};
    std::atomic<bool> started{false};
    std::atomic<bool> stopped{false};
    std::atomic<bool> finished{false};

    ~RtpSessionFakeReader() override
    {
        if (m_deletedFlag)
            m_deletedFlag->store(true);
    }
    // A flag that outlives the reader, set when the session deletes it.
    void watchDeletion(std::atomic<bool>* flag) { m_deletedFlag = flag; }

    bool start() override
    {
        started = true;
        return !failStart;
    }
    void stop() override { stopped = true; }
    bool isFinished() override { return finished; }
    void setPayloadType(int payloadType) override { toldPayloadType = payloadType; }
    int payloadType() override { return toldPayloadType; }

    RTPAudioPacket* read() override
    {
        const int call = ++reads;
        if (finished)
            return nullptr;
        const int index = handed;
        if (limit >= 0 && index >= limit) {
            finished = true;
            return nullptr;
        }
        if (readyEvery > 1 && call % readyEvery != 0)
            return nullptr;
        const double now = seconds();
        if (m_first < 0)
            m_first = now;
        if (paced && now - m_first < m_handedDuration)
            return nullptr;
        if (gapAfter >= 0 && index == gapAfter) {
            if (m_gapStart < 0)
                m_gapStart = now;
            if (now - m_gapStart < gapSeconds)
                return nullptr;
        }
        const double length = durations.empty() ? duration : durations[size_t(index) % durations.size()];
        auto* packet = new RTPAudioPacket;
        std::vector<uint8_t> payload(size_t(bytes > 5 ? bytes : 5), uint8_t(0x55));
        payload[0] = m_tag;
        payload[1] = uint8_t(index >> 24);
        payload[2] = uint8_t(index >> 16);
        payload[3] = uint8_t(index >> 8);
        payload[4] = uint8_t(index);
        packet->payloadType = packetPayloadType == -2 ? toldPayloadType.load() : packetPayloadType;
        packet->setData(payload.data(), int(payload.size()));
        packet->duration = length;
        packet->sampleRate = sampleRate;
        packet->channels = channels;
        m_handedDuration += length;
        ++handed;
        return packet;
    }

    static double seconds()
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }

private:
    uint8_t m_tag;
    double m_first = -1;
    double m_handedDuration = 0;
    double m_gapStart = -1;
    std::atomic<bool>* m_deletedFlag = nullptr;
};
