#pragma once

#include "RtpSessionDouble.h"
#include "RtpSessionFakeReader.h"
#include "TestSupport.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

// Sources made by kind: the test keeps a pointer to each one the session made (the session owns
// and deletes them; the pointers are only read while the source runs).
class RtpSessionFakeSources
{
public:
    // A channel record sending to 127.0.0.1:port.
    static RtpInfo channel(int port, int codec = 0)
    {
        RtpInfo info;
        info.id = 7;
        info.name = QStringLiteral("test");
        info.address = QStringLiteral("127.0.0.1:%1").arg(port);
        info.codec = codec;
        return info;
    }
    static void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    static bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
    {
        return TestSupport::waitUntil(condition, timeoutMs);
    }

    // Called on every fake made, before the session starts it.
    std::function<void(int kind, RtpSessionFakeReader*)> configure;

    RtpSessionDouble::Factory factory()
    {
        return [this](int kind, const RtpInfo&) -> RTPAudioReader* {
            auto* reader = new RtpSessionFakeReader(uint8_t(kind));
            if (configure)
                configure(kind, reader);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_made[kind] = reader;
            ++m_count[kind];
            return reader;
        };
    }
    RtpSessionFakeReader* last(int kind)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_made[kind];
    }
    int made(int kind)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_count[kind];
    }

private:
    std::mutex m_mutex;
    std::map<int, RtpSessionFakeReader*> m_made;
    std::map<int, int> m_count;
};

