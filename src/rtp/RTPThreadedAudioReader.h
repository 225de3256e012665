#pragma once

#include "RTPAudioPacketQueue.h"
#include "RTPAudioReader.h"

#include <atomic>

class RDThread;

// A source whose own thread turns media into packets of the channel's payload type and queues
// them for read(). It owns that thread from start to stop.
//
// start, stop and the destructor belong to the owner's thread; isFinished, payloadType and the
// queue may be used from any thread. Derived classes stop the thread in their own destructor,
// since its body uses their members.
class RTPThreadedAudioReader : public RTPAudioReader
{
public:
    RTPThreadedAudioReader() = default;
    ~RTPThreadedAudioReader() override;

    // Ends the thread (an open or read in progress is interrupted) and drops what is queued.
    void stop() override;
    bool isFinished() override { return m_finished.load(); }
    void setPayloadType(int payloadType) override { m_payloadType = payloadType; }
    int payloadType() override { return m_payloadType.load(); }

protected:
    // Stops a running thread and empties the queue; the caller then resets its own state.
    void prepareStart();
    // Takes thread over and starts it; false (finished, thread freed) when it cannot run.
    bool startThread(RDThread* thread, const char* name);
    bool isRunning() const { return m_running.load(); }

    RTPAudioPacketQueue m_queue;
    std::atomic<bool> m_finished{false};
    std::atomic<int> m_payloadType{14};

private:
    std::atomic<bool> m_running{false};
    RDThread* m_thread = nullptr;
};
