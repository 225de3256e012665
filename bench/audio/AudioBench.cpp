// Sound-card capture and preview player on a private PulseAudio daemon with a null sink:
//   bench_audio [seconds]   (default 20)
// Capture: loopback of the sink while a tone plays, read every 20 ms as the send loop does; prints
// the audio delivered per wall second, the longest queue and the process CPU. Player: a tone file
// played to its end; prints the process CPU while playing.

#include "CoreDeviceCapture.h"
#include "RDAudioPlayer.h"
#include "RTPAudioPacket.h"
#include "TestPulseServer.h"
#include "TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
         + usage.ru_stime.tv_usec / 1e6;
}

class EndWatch : public RDAudioPlayerObserver
{
public:
    void onPlayEnded(RDAudioPlayer*) override { ended.store(true); }
    void onPlayFailed(RDAudioPlayer*) override { failed.store(true); }
    std::atomic<bool> ended{false};
    std::atomic<bool> failed{false};
};

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;

    TestPulseServer pulse;
    if (!pulse.start({QStringLiteral("module-null-sink sink_name=spk rate=48000 "
                                     "format=float32le channels=2")})) {
        std::printf("no PulseAudio daemon: %s\n", pulse.error().toUtf8().constData());
        return 1;
    }
    const QString tone = pulse.dir() + QStringLiteral("/tone.wav");
    if (!TestSupport::makeTone(tone, 440, seconds + 2))
        return 1;

    // Capture.
    CoreDeviceCapture capture;
    capture.setDevice(QStringLiteral("spk"), QStringLiteral("Speaker"), 1);
    capture.setPayloadType(8);
    if (!capture.start()) {
        std::printf("capture does not start\n");
        return 1;
    }
    QProcess player;
    player.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("spk"), tone});
    player.waitForStarted(5000);
    QThread::msleep(500);
    while (RTPAudioPacket* packet = capture.read())
        delete packet;

    const double cpuStart = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    double audio = 0;
    int longestQueue = 0;
    long packets = 0;
    while (wall.elapsed() < seconds * 1000) {
        QThread::msleep(20);
        longestQueue = std::max(longestQueue, capture.queuedCount());
        while (RTPAudioPacket* packet = capture.read()) {
            audio += packet->duration;
            ++packets;
            delete packet;
        }
    }
    const double elapsed = wall.elapsed() / 1000.0;
    const double cpu = processCpuSeconds() - cpuStart;
    capture.stop();
    player.kill();
    player.waitForFinished(5000);
    std::printf("capture (48 kHz float stereo loopback -> PCMA): %ld packets, %.3f s of audio per "
                "wall second, longest queue %d packets, CPU %.2f %% of a core\n",
                packets, audio / elapsed, longestQueue, 100 * cpu / elapsed);

    // Preview player.
    EndWatch watch;
    RDAudioPlayer preview;
    preview.setObserver(&watch);
    preview.setUrl(tone);
    const double playCpuStart = processCpuSeconds();
    QElapsedTimer playWall;
    playWall.start();
    preview.play();
    while (!watch.ended.load() && !watch.failed.load()
           && playWall.elapsed() < (seconds + 10) * 1000)
        QThread::msleep(50);
    const double playElapsed = playWall.elapsed() / 1000.0;
    const double playCpu = processCpuSeconds() - playCpuStart;
    preview.stop();
    std::printf("preview player (%d s WAV to 48 kHz float stereo): %s after %.2f s, CPU %.2f %% of "
                "a core\n",
                seconds + 2, watch.ended.load() ? "ended" : "did not end", playElapsed,
                100 * playCpu / playElapsed);
    return 0;
}
