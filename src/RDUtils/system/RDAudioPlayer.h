#pragma once

#include "RDAudioPlayerObserver.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class AVPacketConverter;
class AudioRenderStream;
struct AVFormatContext;
struct AVStream;

// Plays a media file or URL on the default output so that the operator can try a stream before
// saving it in a channel. A reader thread opens the media (a network open gives up after 10 s
// and is cut short by stop()), decodes it into the output's own format and keeps about half a
// second ahead of what has been played; a render thread hands the audio to the output as fast as
// the output takes it. The control calls (play, stop, setUrl, setVolume, isPlaying) are for one
// thread, normally the GUI thread; stop() may also be called from inside a callback.
class RDAudioPlayer
{
public:
    RDAudioPlayer();
    // Stops playing first.
    virtual ~RDAudioPlayer();

    RDAudioPlayer(const RDAudioPlayer&) = delete;
    RDAudioPlayer& operator=(const RDAudioPlayer&) = delete;

    void setObserver(RDAudioPlayerObserver* observer);
    void setUrl(const QString& url);
    QString url() const;
    // Volume in percent for the next blocks (100 leaves the audio as it is).
    void setVolume(int percent);
    int volume() const;

    // Starts playing the URL; a player that plays or opens is stopped first. Ignored (and logged)
    // when called from one of the player's own callbacks.
    void play();
    // Stops playing and returns when everything is closed; the observer hears onPlayStopped. From
    // a callback it only asks the threads to end, and returns at once.
    void stop();
    // True from play() until stop() or a failure, the opening included.
    bool isPlaying() const;

    // How far the reader keeps ahead of what the output has taken, in seconds.
    static constexpr double kReadAhead = 0.5;
    // The output's buffer and the smallest block it asks for, in milliseconds.
    static constexpr int kDeviceBufferMs = 200;
    static constexpr int kChunkMs = 20;
    // The network open and read time-out, in microseconds, as FFmpeg's "timeout" option takes it.
    static constexpr const char* kNetworkTimeout = "10000000";

private:
    static int interruptCallback(void* opaque);

    // The reader thread: open, convert, pace, close.
    void doReadDecoder();
    // The render thread: feeds the output from the ring buffer.
    void doPlay();
    bool _openFile();
    bool _startPlay();
    bool _openConverter();
    void _close();
    // Seconds of converted audio not yet handed to the output, and all converted so far.
    double bufferedSeconds() const;
    double decodedSeconds() const;
    // Sleeps up to ms, waking at once when the run flag is cleared.
    void waitForStop(int ms);
    // Sleeps up to ms, waking at once when the render thread is told to end.
    void waitForRenderEnd(int ms);
    bool onPlayerThread() const;
    RDAudioPlayerObserver* observer() const;

    AVPacketConverter* m_converter = nullptr;
    AVFormatContext* m_input = nullptr;
    AVStream* m_stream = nullptr;
    AudioRenderStream* m_output = nullptr;

    mutable std::mutex m_settingsMutex;
    QString m_url;
    RDAudioPlayerObserver* m_observer = nullptr;
    std::atomic<int> m_volume{100};

    // Pacing on the monotonic clock: when reading began (-1 = not yet).
    double m_startTime = -1;

    std::atomic<bool> m_endOfInput{false};
    std::atomic<bool> m_endReported{false};
    std::atomic<bool> m_run{false};
    std::atomic<bool> m_renderRunning{false};
    std::atomic<bool> m_playing{false};
    std::atomic<bool> m_renderFailed{false};

    // Counted by the render thread, read by the reader: frames taken from the converter, frames
    // waiting in the ring buffer. Frames per converted packet are fixed at open.
    std::atomic<int64_t> m_poppedFrames{0};
    std::atomic<int64_t> m_ringFrames{0};
    int m_framesPerPacket = 0;
    int m_outputRate = 0;

    std::mutex m_controlMutex;
    std::thread m_readerThread;
    std::thread m_renderThread;
    std::atomic<std::thread::id> m_readerId{};
    std::atomic<std::thread::id> m_renderId{};

    std::mutex m_waitMutex;
    std::condition_variable m_waitCondition;
};
