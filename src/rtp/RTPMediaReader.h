#pragma once

#include "RTPMediaInput.h"
#include "RTPThreadedAudioReader.h"

#include <QString>

#include <atomic>

class RDThread;

// The core of the readers that play one file or URL through RTPMediaInput (the bell's file, the
// stream URL): a thread that opens it, converts it to the channel's payload type and queues a
// few packets ahead, and read(), which hands them out no faster than real time. Once the queue
// is over its cap the thread sleeps until read() has taken it down to half, and then fills it
// in one go, rather than waking for every packet. What differs
// between the readers, what to open, what to do when an open fails or a pass ends, a time
// limit and what to report, are the hooks below, all called on the reader's thread (limitReached
// also on the reading one).
//
// Set-up calls come before start(). start, stop and the destructor belong to the owner's
// thread; read, isFinished and reset may be called from any thread.
class RTPMediaReader : public RTPThreadedAudioReader
{
public:
    // threadName names the reader's thread; the thread reads ahead while the queue holds at most
    // queueCap packets, and after a sleep from queueCap / 2 on.
    RTPMediaReader(const char* threadName, int queueCap);
    ~RTPMediaReader() override;

    // Starts the reader thread (a running reader is stopped first); false only when no thread
    // could be made.
    bool start() override;
    // The next packet once the durations handed out so far have passed on the clock since the
    // first packet; null otherwise (see pacedPop), and null once limitReached (which wakes the
    // thread to end).
    RTPAudioPacket* read() override;
    // Asks the thread to close the media and open it again at once, from its beginning.
    void reset() override;

protected:
    // What the thread opens; set before start().
    void setLocation(const QString& location) { m_location = location; }
    const QString& location() const { return m_location; }
    // Converted packets of the current pass: none means the media holds no audio.
    int passPackets() const { return m_passPackets; }
    // Closes the media; the loop opens it again on its next turn.
    void closeInput() { m_input.close(); }
    // Closes the media and waits ms milliseconds, less when told to stop.
    void waitToRetry(RDThread* thread, int ms);
    // What an open gave, told to a reader's observer (if any) as onOpened or onOpenFailed.
    template <class Observer, class Reader>
    static void reportOpenTo(Observer* observer, Reader* reader, bool opened)
    {
        if (!observer)
            return;
        if (opened)
            observer->onOpened(reader);
        else
            observer->onOpenFailed(reader);
    }

private:
    // The thread's first step, before the first open.
    virtual void begin() {}
    // Whether the location may be opened at all; a refusal is logged here and counts as a
    // failed open.
    virtual bool admits() { return true; }
    // What the open gave, for the observer.
    virtual void reportOpen(bool opened) = 0;
    // After a failed open (the reader is not stopping): true to go on, having waited as long as
    // wanted before the next attempt; false ends playback.
    virtual bool openFailed(RDThread* thread) = 0;
    // A pass came to its end with result (AVERROR_EOF, or a read error) and what the codecs held
    // was queued: true to go on (close the media to have it opened again), false ends playback.
    virtual bool passEnded(int result, RDThread* thread) = 0;
    // True once as much audio was handed out as may be: what is queued is dropped and the
    // reader ends.
    virtual bool limitReached() const { return false; }
    // Playback ended on its own and every packet was taken (or dropped at the limit); only for a
    // reader whose media opened once at least.
    virtual void reportFinished() {}

    // The reader thread's body and its steps.
    void _run(RDThread* thread);
    bool _open(RDThread* thread);
    // Sleeps while read() takes the queue down to half its cap.
    void _waitForRoom(RDThread* thread);
    void _drain(RDThread* thread);

    const char* m_threadName;
    const int m_queueCap;
    QString m_location;
    RTPMediaInput m_input;
    int m_passPackets = 0;
    bool m_openedOnce = false;
    // The duration of the packet queued last (thread-only), to time the sleeps by.
    double m_lastDuration = 0.0;
    std::atomic<bool> m_resetRequest{false};
    std::atomic<bool> m_limitSeen{false};
};
