#pragma once

#include "RtpInfoSession.h"
#include "RtpSessionFakeReader.h"
#include "RtpSessionFakeWriter.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

// A channel session whose sources come from the test: the factory makes them by kind (null
// from the factory: the session's own), and the channel's SIP call, when the test gives one,
// offers a fake reader that the "call" owns. With a log set, its sinks are fakes too.
class RtpSessionDouble : public RtpInfoSession
{
public:
    using Factory = std::function<RTPAudioReader*(int kind, const RtpInfo& info)>;

    explicit RtpSessionDouble(Factory factory = Factory()) : m_factory(std::move(factory)) {}
    // Stops here, while the overrides still exist.
    ~RtpSessionDouble() override { stopAll(0); }

    // The SIP call of the channel: null ends it. A call without a device offers no reader.
    void setSipCall(bool present, const std::shared_ptr<RtpSessionFakeReader>& device)
    {
        std::lock_guard<std::mutex> lock(m_sipMutex);
        m_sipCall = present;
        m_sipDevice = device;
    }
    std::atomic<int> sipCallsEnded{0};

    // Set before the sinks are made; null: the session's own.
    std::shared_ptr<RtpSessionFakeWriter::Log> httpSink;
    std::shared_ptr<RtpSessionFakeWriter::Log> listenSink;

protected:
    RTPAudioWriter* createHttpWriter() override
    {
        return httpSink ? new RtpSessionFakeWriter(httpSink) : RtpInfoSession::createHttpWriter();
    }
    RTPAudioWriter* createListenWriter(const std::shared_ptr<VexaClient>& client) override
    {
        return listenSink ? new RtpSessionFakeWriter(listenSink) : RtpInfoSession::createListenWriter(client);
    }

    RTPAudioReader* createSource(int kind, const RtpInfo& info) override
    {
        if (m_factory) {
            if (RTPAudioReader* reader = m_factory(kind, info))
                return reader;
        }
        return RtpInfoSession::createSource(kind, info);
    }

    int findSipSource(const RtpInfo&, std::shared_ptr<RTPAudioReader>* source) override
    {
        std::lock_guard<std::mutex> lock(m_sipMutex);
        if (!m_sipCall)
            return -1;
        *source = m_sipDevice;
        return 0;
    }

    void endSipCalls(const RtpInfo&) override { ++sipCallsEnded; }

private:
    Factory m_factory;
    std::mutex m_sipMutex;
    bool m_sipCall = false;
    std::shared_ptr<RtpSessionFakeReader> m_sipDevice;
};
