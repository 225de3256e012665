#pragma once

#include "RTPAudioPacket.h"
#include "RTPAudioWriter.h"

#include <atomic>
#include <memory>

// A channel sink for session tests that counts what the session does with it, into a log that
// outlives the sink (the session deletes its sinks).
class RtpSessionFakeWriter : public RTPAudioWriter
{
public:
    struct Log
    {
        std::atomic<int> made{0};
        std::atomic<int> opened{0};
        std::atomic<int> closed{0};
        std::atomic<int> deleted{0};
        std::atomic<int> written{0};
        std::atomic<int> writtenWhileClosed{0};
        std::atomic<int> openPayloadType{-1};
        std::atomic<int> openRate{0};
        std::atomic<int> openChannels{0};
        std::atomic<int> lastPayloadType{-1};
        std::atomic<bool> failOpen{false};
    };

    explicit RtpSessionFakeWriter(std::shared_ptr<Log> log) : m_log(std::move(log)) { ++m_log->made; }
    ~RtpSessionFakeWriter() override { ++m_log->deleted; }

    bool isOpen() override { return m_open; }
    int open(const RtpInfo*, int payloadType, int sampleRate, int channels) override
    {
        ++m_log->opened;
        m_log->openPayloadType = payloadType;
        m_log->openRate = sampleRate;
        m_log->openChannels = channels;
        m_open = !m_log->failOpen;
        return m_open ? 0 : -1;
    }
    void close() override
    {
        m_open = false;
        ++m_log->closed;
    }
    int write(const RTPAudioPacket* packet) override
    {
        if (!m_open)
            ++m_log->writtenWhileClosed;
        ++m_log->written;
        m_log->lastPayloadType = packet->payloadType;
        return 0;
    }

private:
    std::shared_ptr<Log> m_log;
    std::atomic<bool> m_open{false};
};
