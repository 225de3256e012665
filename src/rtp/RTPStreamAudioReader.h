#pragma once

#include "RTPMediaInput.h"
#include "RTPThreadedAudioReader.h"

#include <QString>

#include <atomic>

class RDThread;
class RTPStreamAudioReaderObserver;

// A channel's stream URL (an internet radio, or anything FFmpeg opens over the network),
// converted to the channel's payload type. It never gives up: when the URL does not open, the
// stream ends or a read fails, it waits kRetryDelayMs and opens the URL again, until stopped.
// Its thread reads ahead to absorb network jitter; read() hands packets out no faster than real
// time. Only network protocols are opened: a local path, "file:" or another local protocol is
// refused, also where a server's redirect or playlist points at one.
//
// Set-up calls come before start(). start, stop and the destructor belong to the owner's
// thread; read, isFinished and reset may be called from any thread.
class RTPStreamAudioReader : public RTPThreadedAudioReader
{
public:
    // The thread reads ahead while the queue holds at most this many packets.
    static constexpr int kQueueCap = 90;
    // Wait before the URL is opened again after a failed open, the end or a read error.
    static constexpr int kRetryDelayMs = 5000;

    RTPStreamAudioReader();
    ~RTPStreamAudioReader() override;

    void setUrl(const QString& url) { m_url = url; }
    QString url() const { return m_url; }
    // Not owned; called on the reader's thread.
    void setObserver(RTPStreamAudioReaderObserver* observer) { m_observer = observer; }

    // Starts the reader thread, which opens the URL (a running reader is stopped first); false
    // only when no thread could be made. The reader is finished only once stopped.
    bool start() override;
    // The next packet once the durations handed out so far have passed on the clock since the
    // first packet; null otherwise (see pacedPop).
    RTPAudioPacket* read() override;
    // Asks the thread to close the stream and open the URL again at once.
    void reset() override;

    // True for a URL whose protocol (every part of a nested one such as "hls+http") is one of
    // RTPMediaInput::kUrlProtocols; otherwise false, with the reason in *why.
    static bool isAllowedUrl(const QString& url, QString* why = nullptr);

private:

    // The reader thread's body and its steps.
    void _run(RDThread* thread);
    bool _open(RDThread* thread);
    void _close();
    // Closes the stream and waits out the retry delay (less when told to stop).
    void _waitToRetry(RDThread* thread);

    QString m_url;
    RTPMediaInput m_input;
    std::atomic<bool> m_resetRequest{false};
    RTPStreamAudioReaderObserver* m_observer = nullptr;
};
