#pragma once

#include "RTPMediaInput.h"
#include "RTPThreadedAudioReader.h"

#include <QString>

#include <atomic>

class RDThread;
class RTPFileAudioReaderObserver;

// One file or URL (a channel's bell sound) played once, a number of further times, or over and
// over until a time limit, converted to the channel's payload type. Its thread reads a few
// packets ahead; read() hands them out no faster than real time.
//
// Set-up calls come before start(). start, stop and the destructor belong to the owner's
// thread; read, isFinished and reset may be called from any thread.
class RTPFileAudioReader : public RTPThreadedAudioReader
{
public:
    // The thread reads ahead while the queue holds at most this many packets.
    static constexpr int kQueueCap = 5;

    RTPFileAudioReader();
    ~RTPFileAudioReader() override;

    void setPath(const QString& path);
    QString path() const { return m_path; }
    // Passes after the first: 0 plays once, n plays n + 1 times, -1 repeats without end.
    void setRepeatCount(int count) { m_repeatCount = count; }
    // Seconds of audio after which playback ends (the last packet handed out crosses it);
    // 0 for none.
    void setTimeLimit(double seconds) { m_timeLimit = seconds > 0.0 ? seconds : 0.0; }
    // Not owned; called on the reader's thread.
    void setObserver(RTPFileAudioReaderObserver* observer) { m_observer = observer; }

    // Starts the reader thread (a running reader is stopped first); false only when no thread
    // could be made. A file that does not open shows as onOpenFailed and finished.
    bool start() override;
    // The next packet once the durations handed out so far have passed on the clock since the
    // first packet; null otherwise (see pacedPop).
    RTPAudioPacket* read() override;
    // Asks the thread to start the current pass again from the beginning of the file.
    void reset() override;

private:

    // The reader thread's body.
    void _run(RDThread* thread);
    bool _openFile(RDThread* thread);
    void _closeFile();
    void _queuePacket(RTPAudioPacket* packet);
    bool _timeLimitReached() const;

    QString m_path;
    int m_repeatCount = 0;
    std::atomic<double> m_timeLimit{0.0};
    RTPMediaInput m_input;
    // Converted packets of the current pass, for the pass-without-audio test.
    int m_passPackets = 0;
    std::atomic<bool> m_resetRequest{false};
    RTPFileAudioReaderObserver* m_observer = nullptr;
};
