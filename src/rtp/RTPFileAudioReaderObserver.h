#pragma once

class RTPFileAudioReader;

// What a file reader reports, on its own thread and without holding any lock of its own: the
// observer may call the reader's thread-safe members (but not stop it from inside a callback).
class RTPFileAudioReaderObserver
{
public:
    virtual ~RTPFileAudioReaderObserver() = default;

    // The file was opened, for the first pass and again for every further one.
    virtual void onOpened(RTPFileAudioReader* reader) { (void)reader; }
    // Playback has ended and every packet was taken (or the queue was dropped at the time
    // limit); the reader reports finished right after.
    virtual void onFinished(RTPFileAudioReader* reader) { (void)reader; }
    // The file could not be opened, holds no audio, or cannot be converted to the payload type.
    virtual void onOpenFailed(RTPFileAudioReader* reader) { (void)reader; }
};
