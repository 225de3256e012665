#pragma once

#include "RTPAudioPacketQueue.h"
#include "RTPAudioReader.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

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
    // The wait of a reader thread whose queue is full: it holds several packet times of audio.
    static constexpr int kFullQueueWaitMs = 10;

    // Sleeps up to seconds on the reader's thread, returning early on stop or wake(); a wake()
    // that came while the thread was awake ends its next nap at once.
    void nap(RDThread* thread, double seconds);
    // Ends the reader thread's nap (or its next one); from any thread.
    void wake();

    // Stops a running thread and empties the queue; the caller then resets its own state.
    void prepareStart();
    // Starts the reader's thread running body; false (and finished) when it cannot run.
    bool startThread(const char* name, std::function<void(RDThread*)> body);
    bool isRunning() const { return m_running.load(); }

    // pacedPop catches up at once on at most this much lateness, seconds.
    static constexpr double kMaxLag = 0.2;

    // Real-time hand-out of the queue for one consumer thread: the next packet once the
    // durations handed out so far have passed on the monotonic clock since the first packet
    // (which comes at once); null before. After a gap of more than kMaxLag without packets the
    // clock starts again from the next one.
    RTPAudioPacket* pacedPop();
    // Forgets when pacing began and the durations handed out; before the thread starts.
    void resetPacing();
    // Seconds of audio handed out by pacedPop since resetPacing.
    double handedOut() const { return m_handedOut.load(); }

    RTPAudioPacketQueue m_queue;
    std::atomic<bool> m_finished{false};
    std::atomic<int> m_payloadType{14};

private:
    std::atomic<bool> m_running{false};
    // Monotonic time at which pacing began (-1 = not yet) and the durations handed out since.
    std::atomic<double> m_firstRead{-1.0};
    std::atomic<double> m_handedOut{0.0};
    RDThread* m_thread = nullptr;
    std::mutex m_napMutex;
    std::condition_variable m_napCondition;
    bool m_woken = false;
};
