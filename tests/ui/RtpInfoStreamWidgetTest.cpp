#include "RtpInfoStreamWidget.h"

#include "GuiTest.h"
#include "GuiTestHook.h"
#include "RDAudioPlayer.h"
#include "RDButton.h"
#include "RDLabel.h"
#include "TestAudio.h"
#include "TestPulseServer.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace {

// An internet radio of our own: ffmpeg plays an MP3 tone in real time to the one HTTP client
// it accepts.
class LocalStation
{
public:
    ~LocalStation()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // False when ffmpeg does not come to listen.
    bool start(const QString& mp3)
    {
        m_port = TestSupport::freeTcpPort();
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("ffmpeg"),
                        {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                         QStringLiteral("-re"), QStringLiteral("-i"), mp3, QStringLiteral("-c"),
                         QStringLiteral("copy"), QStringLiteral("-f"), QStringLiteral("mp3"),
                         QStringLiteral("-listen"), QStringLiteral("1"), url()});
        if (!m_process.waitForStarted(5000))
            return false;
        // Only one client is served: look at the listening socket instead of connecting to it.
        return TestSupport::waitUntil(
            [this] {
                const TestSupport::Result ss = TestSupport::run(
                    QStringLiteral("ss"),
                    {QStringLiteral("-ltnH"), QStringLiteral("sport = :%1").arg(m_port)}, 5000);
                return ss.out.contains(QByteArray::number(m_port));
            },
            10000);
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/r.mp3").arg(m_port); }

private:
    QProcess m_process;
    int m_port = 0;
};

bool heard(TestPulseServer& pulse)
{
    return TestAudio::rms(TestAudio::trimSilence(pulse.recorded())) > 0.02;
}

void press(QWidget* widget)
{
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
}

} // namespace

TEST(RtpInfoStreamWidget, EmptyUrlAsks)
{
    RtpInfoStreamWidget tab;
    tab.resize(500, 300);
    GuiTestHook& hook = GuiTest::hook();
    hook.reset();
    press(tab.playButton());
    ASSERT_EQ(hook.boxes().size(), 1);
    EXPECT_EQ(hook.boxes().first().text, "Stream Url is Empty");
    EXPECT_EQ(hook.boxes().first().yesCaption, "OK");
    EXPECT_EQ(hook.boxes().first().noCaption, "Cancel");
    EXPECT_FALSE(tab.playButton()->isChecked());
    EXPECT_FALSE(tab.player()->isPlaying());
    hook.reset();
}

TEST(RtpInfoStreamWidget, UrlEditReportsAndLaysOut)
{
    RtpInfoStreamWidget tab;
    tab.resize(500, 300);
    tab.show();
    QSignalSpy changed(&tab, &RtpInfoStreamWidget::streamChanged);
    tab.setStreamUrl(QStringLiteral("http://radio.example/live"));
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(tab.streamUrl(), "http://radio.example/live");
    tab.urlEdit()->setFocus();
    QTest::keyClicks(tab.urlEdit(), "2");
    QTest::keyClick(tab.urlEdit(), Qt::Key_Return);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(tab.streamUrl(), "http://radio.example/live2");

    EXPECT_EQ(tab.playButton()->geometry(), QRect(5, 10, 20, 20));
    EXPECT_EQ(tab.urlEdit()->geometry(), QRect(34, 10, 500 - 24 - 20, 20));
    tab.setEditable(false);
    EXPECT_FALSE(tab.urlEdit()->isEnabled());
    EXPECT_TRUE(tab.playButton()->isEnabled()) << "the test stays usable while the channel runs";
}

// A local HTTP MP3 station is heard on the output; the button shows the test at once and a second
// click ends it.
TEST(RtpInfoStreamWidget, LiveStationIsHeardAndStops)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg", "parec", "ss");
    TestPulseServer pulse;
    TEST_START_PULSE(pulse);
    const QString mp3 = pulse.dir() + QStringLiteral("/station.mp3");
    ASSERT_TRUE(TestSupport::makeTone(mp3, 523, 30.0, {QStringLiteral("-b:a"), QStringLiteral("64k")}));
    LocalStation station;
    ASSERT_TRUE(station.start(mp3));
    ASSERT_TRUE(pulse.startRecording());

    RtpInfoStreamWidget tab;
    tab.resize(500, 300);
    tab.show();
    tab.setStreamUrl(station.url());
    press(tab.playButton());
    EXPECT_TRUE(tab.playButton()->isChecked()) << "checked before the player reports";
    EXPECT_TRUE(GuiTest::waitFor([&] { return heard(pulse); }, 20000)) << "the station is not heard";
    EXPECT_TRUE(tab.playButton()->isChecked());
    EXPECT_TRUE(tab.isTesting());
    GuiTest::grabToPng(&tab, QStringLiteral("live_radio_tab_playing"));

    QElapsedTimer timer;
    timer.start();
    press(tab.playButton());
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_FALSE(tab.playButton()->isChecked());
    EXPECT_FALSE(tab.player()->isPlaying());
    // The stopped player's own report changes nothing.
    QTest::qWait(100);
    EXPECT_FALSE(tab.playButton()->isChecked());
    EXPECT_EQ(tab.currentToast(), nullptr);
}

// A station that cannot be reached: checked by the click, unchecked when the failure arrives,
// with the toast at the bottom centre.
TEST(RtpInfoStreamWidget, DeadUrlShowsTheFailureToast)
{
    RtpInfoStreamWidget tab;
    tab.resize(500, 300);
    tab.show();
    const int port = TestSupport::freeTcpPort();
    ASSERT_GT(port, 0);
    tab.setStreamUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port));
    press(tab.playButton());
    EXPECT_TRUE(tab.playButton()->isChecked());
    ASSERT_TRUE(GuiTest::waitFor([&] { return tab.currentToast() != nullptr; }, 15000));
    EXPECT_FALSE(tab.playButton()->isChecked());
    RDLabel* toast = tab.currentToast();
    EXPECT_EQ(toast->text(), "Stream Play Failure");
    EXPECT_EQ(toast->pos(), QPoint((500 - toast->width()) / 2, 300 - 5 - toast->height()));
    GuiTest::grabToPng(&tab, QStringLiteral("live_radio_tab_failure"));
}

// A station that takes the connection and never answers: the second click ends the opening at
// once, and the operator's stop is no failure to report.
TEST(RtpInfoStreamWidget, StopWhileAStationHangs)
{
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    RtpInfoStreamWidget tab;
    tab.resize(500, 300);
    tab.show();
    tab.setStreamUrl(QStringLiteral("http://127.0.0.1:%1/live").arg(silent.serverPort()));
    press(tab.playButton());
    ASSERT_TRUE(GuiTest::waitFor([&] { return silent.hasPendingConnections(); }, 5000));
    EXPECT_TRUE(tab.playButton()->isChecked());
    EXPECT_TRUE(tab.player()->isPlaying());

    QElapsedTimer timer;
    timer.start();
    press(tab.playButton());
    const qint64 stopMs = timer.elapsed();
    std::printf("stop while the open hangs: %lld ms\n", static_cast<long long>(stopMs));
    EXPECT_LT(stopMs, 1000);
    EXPECT_FALSE(tab.playButton()->isChecked());
    EXPECT_FALSE(tab.player()->isPlaying());
    QTest::qWait(200);
    EXPECT_FALSE(tab.playButton()->isChecked());
    EXPECT_EQ(tab.currentToast(), nullptr);
}

// The end of a finite stream unchecks the button without a word; a click then starts a new test.
TEST(RtpInfoStreamWidget, FiniteStreamEndsQuietly)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg");
    TestPulseServer pulse;
    TEST_START_PULSE(pulse);
    const QString tone = pulse.dir() + QStringLiteral("/short.mp3");
    ASSERT_TRUE(TestSupport::makeTone(tone, 440, 0.5));

    RtpInfoStreamWidget tab;
    tab.resize(500, 300);
    tab.show();
    tab.setStreamUrl(tone);
    press(tab.playButton());
    EXPECT_TRUE(tab.playButton()->isChecked());
    ASSERT_TRUE(GuiTest::waitFor([&] { return !tab.playButton()->isChecked(); }, 10000));
    QTest::qWait(100);
    EXPECT_FALSE(tab.playButton()->isChecked());
    EXPECT_EQ(tab.currentToast(), nullptr);

    // The ended player is stopped and started again; nothing of the stop unchecks the new test.
    press(tab.playButton());
    EXPECT_TRUE(tab.playButton()->isChecked());
    EXPECT_TRUE(tab.player()->isPlaying());
    QTest::qWait(100);
    EXPECT_TRUE(tab.playButton()->isChecked());
    EXPECT_TRUE(GuiTest::waitFor([&] { return !tab.playButton()->isChecked(); }, 10000));
    EXPECT_EQ(tab.currentToast(), nullptr);
}

// Closing the editor while a test plays: the player stops and the output goes quiet.
TEST(RtpInfoStreamWidget, DestroyedWhilePlaying)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg", "parec");
    TestPulseServer pulse;
    TEST_START_PULSE(pulse);
    const QString tone = pulse.dir() + QStringLiteral("/long.mp3");
    ASSERT_TRUE(TestSupport::makeTone(tone, 440, 20.0, {QStringLiteral("-b:a"), QStringLiteral("32k")}));
    ASSERT_TRUE(pulse.startRecording());

    auto tab = std::make_unique<RtpInfoStreamWidget>();
    tab->setStreamUrl(tone);
    press(tab->playButton());
    ASSERT_TRUE(GuiTest::waitFor([&] { return heard(pulse); }, 15000));
    QElapsedTimer timer;
    timer.start();
    tab.reset();
    EXPECT_LT(timer.elapsed(), 2000);
    // Let the reports that were on their way arrive at nobody.
    QTest::qWait(200);
    const int before = pulse.recorded().size();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return pulse.recorded().size() > before + 44100 / 2; },
                                       10000));
    const QVector<float> after = pulse.recorded().mid(before);
    EXPECT_LT(TestAudio::rms(after), 0.001) << "still playing after the tab went";
}
