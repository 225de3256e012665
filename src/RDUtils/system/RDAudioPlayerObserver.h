#pragma once

#include <QString>

class RDAudioPlayer;

// What the preview player reports. Callbacks come from the player's own threads (started,
// stopped and failed from its reader thread; ended and audio data from its render thread); an
// observer that touches windows re-posts to the GUI thread.
class RDAudioPlayerObserver
{
public:
    virtual ~RDAudioPlayerObserver() = default;

    // The media is open, the output started and the render thread running.
    virtual void onPlayStarted(RDAudioPlayer*, const QString& /*url*/) {}
    // The reader has ended after stop().
    virtual void onPlayStopped(RDAudioPlayer*) {}
    // Opening the media, the output or the converter failed.
    virtual void onPlayFailed(RDAudioPlayer*) {}
    // The end of the input has been played out; once per end.
    virtual void onPlayEnded(RDAudioPlayer*) {}
    // A block handed to the output, after volume scaling.
    virtual void onAudioData(RDAudioPlayer*, const char* /*data*/, int /*bytes*/) {}
};
