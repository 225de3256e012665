#pragma once

class RTPStreamAudioReader;

// What a stream reader reports, on its own thread and without holding any lock of its own: the
// observer may call the reader's thread-safe members (but not stop it from inside a callback).
class RTPStreamAudioReaderObserver
{
public:
    virtual ~RTPStreamAudioReaderObserver() = default;

    // The URL was opened (again, after every reopen).
    virtual void onOpened(RTPStreamAudioReader* reader) { (void)reader; }
    // The stream came to its end; the reader opens it again after its retry delay.
    virtual void onEnd(RTPStreamAudioReader* reader) { (void)reader; }
    // The URL could not be opened, is refused, holds no audio or cannot be converted to the
    // payload type; the reader tries again after its retry delay.
    virtual void onOpenFailed(RTPStreamAudioReader* reader) { (void)reader; }
};
