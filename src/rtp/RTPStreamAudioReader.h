#pragma once

#include "RTPMediaReader.h"

#include <QString>

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
class RTPStreamAudioReader : public RTPMediaReader
{
public:
    // The thread reads ahead while the queue holds at most this many packets.
    static constexpr int kQueueCap = 90;
    // Wait before the URL is opened again after a failed open, the end or a read error.
    static constexpr int kRetryDelayMs = 5000;

    RTPStreamAudioReader();
    ~RTPStreamAudioReader() override;

    void setUrl(const QString& url) { setLocation(url); }
    QString url() const { return location(); }
    // Not owned; called on the reader's thread.
    void setObserver(RTPStreamAudioReaderObserver* observer) { m_observer = observer; }

    // start(): the reader is finished only once stopped.
    // reset(): closes the stream and opens the URL again at once.

    // True for a URL whose protocol (every part of a nested one such as "hls+http") is one of
    // RTPMediaInput::kUrlProtocols; otherwise false, with the reason in *why.
    static bool isAllowedUrl(const QString& url, QString* why = nullptr);

private:
    // The policy of a stream: whatever ends a pass, the URL is opened again after the delay.
    bool admits() override;
    void reportOpen(bool opened) override;
    bool openFailed(RDThread* thread) override;
    bool passEnded(int result, RDThread* thread) override;

    RTPStreamAudioReaderObserver* m_observer = nullptr;
};
