#pragma once

class RTPFilesAudioReader;

// What a playlist reader reports, on its own thread and without holding any lock of its own:
// the observer may call status, seek and jump (but not stop the reader from inside a callback).
class RTPFilesAudioReaderObserver
{
public:
    virtual ~RTPFilesAudioReaderObserver() = default;

    // Item index was opened and plays from its start, or from a new position after a seek.
    virtual void onItemOpened(RTPFilesAudioReader* reader, int index)
    {
        (void)reader;
        (void)index;
    }
    // Item index was read to its end.
    virtual void onItemEnd(RTPFilesAudioReader* reader, int index)
    {
        (void)reader;
        (void)index;
    }
    // Item index could not be opened, holds no audio, or cannot be converted; the next is tried.
    virtual void onItemOpenFailed(RTPFilesAudioReader* reader, int index)
    {
        (void)reader;
        (void)index;
    }
};
