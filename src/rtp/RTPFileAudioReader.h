#pragma once

#include "RTPMediaReader.h"

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
class RTPFileAudioReader : public RTPMediaReader
{
public:
    // The thread reads ahead while the queue holds at most this many packets.
    static constexpr int kQueueCap = 5;

    RTPFileAudioReader();
    ~RTPFileAudioReader() override;

    void setPath(const QString& path) { setLocation(path); }
    QString path() const { return location(); }
    // Passes after the first: 0 plays once, n plays n + 1 times, -1 repeats without end.
    void setRepeatCount(int count) { m_repeatCount = count; }
    // Seconds of audio after which playback ends (the last packet handed out crosses it);
    // 0 for none.
    void setTimeLimit(double seconds) { m_timeLimit = seconds > 0.0 ? seconds : 0.0; }
    // Not owned; called on the reader's thread.
    void setObserver(RTPFileAudioReaderObserver* observer) { m_observer = observer; }

    // start(): a file that does not open shows as onOpenFailed and finished.
    // reset(): starts the current pass again from the beginning of the file.

private:
    // The policy of a file: a failed open, a read error or a pass without audio ends playback;
    // the end of a pass starts the next one while repeats are left.
    void begin() override;
    void reportOpen(bool opened) override;
    bool openFailed(RDThread* thread) override;
    bool passEnded(int result, RDThread* thread) override;
    bool limitReached() const override;
    void reportFinished() override;

    int m_repeatCount = 0;
    // Passes left to play after the current one (the reader thread's).
    int m_repeatsLeft = 0;
    std::atomic<double> m_timeLimit{0.0};
    RTPFileAudioReaderObserver* m_observer = nullptr;
};
