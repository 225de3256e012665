#include "RDAudioPlayer.h"
#include "TestAudio.h"
#include "TestLogFile.h"
#include "TestPulseServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>

namespace {

// Records the player's callbacks in order, with the threads they came from.
class Recorder : public RDAudioPlayerObserver
{
public:
    void onPlayStarted(RDAudioPlayer* player, const QString& url) override
    {
        add(QStringLiteral("started ") + url);
        if (stopOnStart) {
            player->stop();
            // Nor can the player be restarted from its own thread; this is ignored.
            player->play();
        }
    }
    void onPlayStopped(RDAudioPlayer*) override { add(QStringLiteral("stopped")); }
    void onPlayFailed(RDAudioPlayer* player) override
    {
        add(QStringLiteral("failed"));
        if (stopOnEnd)
            player->stop();
    }
    void onPlayEnded(RDAudioPlayer* player) override
    {
        add(QStringLiteral("ended"));
        if (stopOnEnd)
            player->stop();
    }
    void onAudioData(RDAudioPlayer*, const char* data, int bytes) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_threads.insert(pid_t(syscall(SYS_gettid)));
        m_bytes += bytes;
        // Loudest 16-bit sample seen, for the volume check.
        for (int i = 0; i + 1 < bytes; i += 2) {
            int16_t v;
            std::memcpy(&v, data + i, 2);
            m_peak = std::max(m_peak, std::abs(int(v)));
        }
    }

    bool waitFor(const QString& event, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_events.contains(event); });
    }
    QStringList events()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    qint64 bytes()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_bytes;
    }
    int peak()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_peak;
    }
    std::set<pid_t> threads()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_threads;
    }

    std::atomic<bool> stopOnEnd{false};
    std::atomic<bool> stopOnStart{false};

private:
    void add(const QString& event)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.append(event.startsWith(QLatin1String("started")) ? QStringLiteral("started")
                                                                   : event);
        if (event.startsWith(QLatin1String("started")))
            m_startedUrl = event.mid(8);
        m_threads.insert(pid_t(syscall(SYS_gettid)));
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    QStringList m_events;
    QString m_startedUrl;
    qint64 m_bytes = 0;
    int m_peak = 0;
    std::set<pid_t> m_threads;
};

// CPU seconds a thread of this process has used.
double threadCpuSeconds(pid_t tid)
{
    QFile file(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = file.readAll();
    // Fields after the command name (which may hold blanks) start behind the last ')'.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return (fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// Longest run of samples (in a row) that stay near zero.
int longestSilence(const QVector<float>& samples, float threshold = 0.002f)
{
    int longest = 0;
    int run = 0;
    for (float v : samples) {
        run = std::abs(v) < threshold ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

} // namespace

// A 2 s tone plays into the null sink: the monitor hears all of it without a gap, the callbacks
// come in order, and the player's threads stay nearly idle.
TEST(RDAudioPlayerTest, PlaysAFileIntoTheOutputWithoutGaps)
{
    TestPulseServer pulse;
    TEST_START_PULSE(pulse, {QStringLiteral("module-null-sink sink_name=spk rate=44100 "
                                            "format=s16le channels=2")});
    const QString tone = pulse.dir() + QStringLiteral("/tone.wav");
    ASSERT_TRUE(TestSupport::makeTone(tone, 1000, 2.0));

    ASSERT_TRUE(pulse.startRecording());
    TestLogFile log;
    Recorder recorder;
    RDAudioPlayer player;
    player.setObserver(&recorder);
    player.setUrl(tone);
    player.play();
    EXPECT_TRUE(player.isPlaying());
    ASSERT_TRUE(recorder.waitFor(QStringLiteral("started"), 5000));
    EXPECT_TRUE(player.isPlaying());

    // CPU of the player's threads over the playing time.
    QThread::msleep(200);
    const std::set<pid_t> threads = recorder.threads();
    EXPECT_EQ(threads.size(), 2u) << "reader and render thread";
    double cpuBefore = 0;
    for (pid_t tid : threads)
        cpuBefore += threadCpuSeconds(tid);
    QElapsedTimer wall;
    wall.start();
    ASSERT_TRUE(recorder.waitFor(QStringLiteral("ended"), 8000));
    double cpuAfter = 0;
    for (pid_t tid : threads)
        cpuAfter += threadCpuSeconds(tid);
    const double cpuShare = (cpuAfter - cpuBefore) / (wall.elapsed() / 1000.0);
    std::printf("player threads: %.2f %% of a core while playing\n", 100 * cpuShare);
    EXPECT_LT(cpuShare, 0.10);

    // The threads stay until stop.
    QThread::msleep(400);
    EXPECT_TRUE(player.isPlaying());
    player.stop();
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(recorder.events(),
              (QStringList{QStringLiteral("started"), QStringLiteral("ended"),
                           QStringLiteral("stopped")}));
    EXPECT_TRUE(log.waitFor(QStringLiteral("open file %1 success").arg(tone)));
    EXPECT_TRUE(log.waitFor(QStringLiteral("render format samplerate = 44100, channels = 2, "
                                            "bits = 16, blockAlign = 4, bytes = 176400, "
                                            "format = 1")))
        << log.text().toStdString();

    // All of the decoded audio went to the output: 2 s, give or take the last 20 ms block.
    const qint64 expected = 2 * 44100 * 4;
    EXPECT_NEAR(double(recorder.bytes()), double(expected), 2 * 882 * 4);

    const QVector<float> heard = TestAudio::trimSilence(pulse.stopRecording());
    EXPECT_NEAR(heard.size() / 44100.0, 2.0, 0.05);
    EXPECT_NEAR(TestAudio::toneFrequency(heard, 44100), 1000.0, 5.0);
    // A 1 kHz sine crosses zero often, but never stays near it for 5 ms.
    EXPECT_LT(longestSilence(heard), 44100 * 5 / 1000) << "a gap in the played tone";
}

// A file shorter than the output's buffer still plays to its end; a stop from the ended
// callback is safe; a second play restarts from the beginning at another volume.
TEST(RDAudioPlayerTest, ShortFilePlaysOutAndVolumeApplies)
{
    TestPulseServer pulse;
    TEST_START_PULSE(pulse, {QStringLiteral("module-null-sink sink_name=spk rate=44100 "
                                            "format=s16le channels=2")});
    const QString tone = pulse.dir() + QStringLiteral("/short.wav");
    ASSERT_TRUE(TestSupport::makeTone(tone, 1000, 0.1));

    ASSERT_TRUE(pulse.startRecording());
    Recorder recorder;
    recorder.stopOnEnd = true;
    RDAudioPlayer player;
    player.setObserver(&recorder);
    player.setUrl(tone);
    player.play();
    ASSERT_TRUE(recorder.waitFor(QStringLiteral("stopped"), 5000));
    EXPECT_EQ(recorder.events(),
              (QStringList{QStringLiteral("started"), QStringLiteral("ended"),
                           QStringLiteral("stopped")}));
    EXPECT_FALSE(player.isPlaying());
    const int fullPeak = recorder.peak();
    // The output got the 0.1 s before the reader closed it.
    QThread::msleep(400);
    const QVector<float> heard = TestAudio::trimSilence(pulse.stopRecording());
    EXPECT_NEAR(heard.size() / 44100.0, 0.1, 0.02);

    Recorder quieter;
    player.setObserver(&quieter);
    player.setVolume(50);
    player.play();
    ASSERT_TRUE(quieter.waitFor(QStringLiteral("ended"), 5000));
    player.stop();
    EXPECT_EQ(quieter.events(),
              (QStringList{QStringLiteral("started"), QStringLiteral("ended"),
                           QStringLiteral("stopped")}));
    EXPECT_GT(fullPeak, 1000);
    EXPECT_NEAR(quieter.peak(), fullPeak / 2, 2);
}

TEST(RDAudioPlayerTest, FailuresAreReported)
{
    TestPulseServer pulse;
    // Only the protocol: a server without any output.
    TEST_START_PULSE(pulse, QStringList());
    QTemporaryDir dir;
    const QString tone = dir.path() + QStringLiteral("/tone.wav");
    ASSERT_TRUE(TestSupport::makeTone(tone, 1000, 0.5));

    struct Case
    {
        QString url;
        QString server;   // empty: the private one
        QString logText;
    };
    const Case cases[] = {
        {QStringLiteral("http://127.0.0.1:1/"), QString(),
         QStringLiteral("open file http://127.0.0.1:1/ failure")},
        {dir.path() + QStringLiteral("/missing.wav"), QString(), QStringLiteral("failure")},
        {tone, QString(), QStringLiteral("GetDefaultAudioEndpoint failure")},
        {tone, QStringLiteral("unix:%1/none.sock").arg(dir.path()),
         QStringLiteral("CoCreateInstance failure")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.toStdString() + " " + c.logText.toStdString());
        const QByteArray saved = qgetenv("PULSE_SERVER");
        if (!c.server.isEmpty())
            qputenv("PULSE_SERVER", c.server.toUtf8());
        TestLogFile log;
        Recorder recorder;
        // Every other case stops from inside the failure callback.
        recorder.stopOnEnd = (&c - cases) % 2 == 1;
        RDAudioPlayer player;
        player.setObserver(&recorder);
        player.setUrl(c.url);
        player.play();
        EXPECT_TRUE(recorder.waitFor(QStringLiteral("failed"), 5000));
        QThread::msleep(50);
        EXPECT_FALSE(player.isPlaying());
        // A failed player can be played again (and fails again).
        player.play();
        QElapsedTimer timer;
        timer.start();
        while (recorder.events().size() < 2 && timer.elapsed() < 5000)
            QThread::msleep(10);
        player.stop();
        qputenv("PULSE_SERVER", saved);
        EXPECT_EQ(recorder.events(), (QStringList{QStringLiteral("failed"), QStringLiteral("failed")}));
        EXPECT_TRUE(log.waitFor(c.logText)) << log.text().toStdString();
    }
}

// A server that takes the connection and never answers: stop() cuts the open short at once;
// left alone, the open gives up after the 10-second time-out.
TEST(RDAudioPlayerTest, SilentServerIsBoundedByTimeoutAndStop)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const QString url = QStringLiteral("http://127.0.0.1:%1/stream.mp3").arg(server.serverPort());

    {
        Recorder recorder;
        RDAudioPlayer player;
        player.setObserver(&recorder);
        player.setUrl(url);
        player.play();
        QThread::msleep(500);
        EXPECT_TRUE(player.isPlaying()) << "opening counts as playing";
        QElapsedTimer timer;
        timer.start();
        player.stop();
        EXPECT_LT(timer.elapsed(), 1000);
        EXPECT_FALSE(player.isPlaying());
    }

    Recorder recorder;
    RDAudioPlayer player;
    player.setObserver(&recorder);
    player.setUrl(url);
    QElapsedTimer timer;
    timer.start();
    player.play();
    ASSERT_TRUE(recorder.waitFor(QStringLiteral("failed"), 20000));
    EXPECT_GT(timer.elapsed(), 9000);
    EXPECT_LT(timer.elapsed(), 13000);
    player.stop();
}

// Control calls in quick succession: a second play while opening, play after play, and
// destroying a playing player.
TEST(RDAudioPlayerTest, RepeatedPlayStopAndDestroyWhilePlayingAreSafe)
{
    TestPulseServer pulse;
    TEST_START_PULSE(pulse);
    const QString tone = pulse.dir() + QStringLiteral("/tone.wav");
    ASSERT_TRUE(TestSupport::makeTone(tone, 1000, 1.0));
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const QString silent = QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort());

    Recorder recorder;
    RDAudioPlayer player;
    player.setObserver(&recorder);
    for (int i = 0; i < 5; ++i) {
        player.setUrl(i % 2 ? silent : tone);
        player.play();
        QThread::msleep(i * 30);
        player.play();   // stops the first
        QThread::msleep(20);
        player.stop();
        EXPECT_FALSE(player.isPlaying());
    }
    for (int i = 0; i < 3; ++i) {
        Recorder r;
        auto* doomed = new RDAudioPlayer;
        doomed->setObserver(&r);
        doomed->setUrl(tone);
        doomed->play();
        if (i > 0) {
            EXPECT_TRUE(r.waitFor(QStringLiteral("started"), 5000));
        }
        QThread::msleep(i * 100);
        delete doomed;
    }
    player.setUrl(tone);
    player.play();
    EXPECT_TRUE(recorder.waitFor(QStringLiteral("ended"), 5000));
    player.stop();

    // A stop from the reader's own callback ends the player without waiting for itself.
    Recorder stopper;
    stopper.stopOnStart = true;
    player.setObserver(&stopper);
    player.play();
    EXPECT_TRUE(stopper.waitFor(QStringLiteral("stopped"), 5000));
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(stopper.events(), (QStringList{QStringLiteral("started"), QStringLiteral("stopped")}));
    player.stop();
}
