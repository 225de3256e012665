// The channel editor in this process with the real application around it: the channel manager
// over the databases of a temporary application folder, its HTTP "/api", its SIP agent, and the
// channels sending RTP to a receiver on loopback.
#include "RtpInfoDialog.h"

#include "AppRtpReceiver.h"
#include "GuiTest.h"
#include "GuiTestHook.h"
#include "RDButton.h"
#include "RDLabel.h"
#include "RDPixmapCache.h"
#include "RtpInfoItemWidget.h"
#include "RtpInfoListWidget.h"
#include "RtpInfoPlaylistWidget.h"
#include "RtpInfoWidget.h"
#include "RtpManager.h"
#include "SipSippRunner.h"
#include "SipTestPcap.h"
#include "SipTestPeer.h"
#include "Sonaris.h"
#include "TempAppDir.h"
#include "TestLogFile.h"
#include "TestSupport.h"
#include "VDB.h"
#include "ZvDB.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int kWaitMs = 15000;

class RtpInfoDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GuiTest::hook().reset();
        Sonaris* sonaris = Sonaris::createInstance();
        {
            ZvDB db;
            db.checkUpgrade();
            db.initDefaults();
        }
        m_httpPort = TestSupport::freeTcpPort();
        sonaris->setHttpPort(m_httpPort);
        m_sipPort = SipTestPeer::freePort("0.0.0.0");
        sonaris->setSipPort(m_sipPort);
        ASSERT_EQ(sonaris->init(0, nullptr), 0);
        manager = RtpManager::instance();
        ASSERT_NE(manager, nullptr);
        ASSERT_TRUE(receiver.start());
        dialog = std::make_unique<RtpInfoDialog>();
        dialog->show();
        dialog->reloadRtpInfos();
    }

    void TearDown() override
    {
        dialog.reset();
        if (Sonaris::instance()) {
            Sonaris::instance()->shutdown();
            Sonaris::destroyInstance();
        }
        receiver.stop();
        VDB::setDataRoot(QString());
        GuiTest::hook().reset();
    }

    RtpInfoListWidget* list() const { return dialog->listWidget(); }
    RtpInfoWidget* form() const { return dialog->formWidget(); }

    // A channel added through the list's add button, then given its settings by the manager.
    RtpInfo addChannel(const std::function<void(RtpInfo&)>& settings = {})
    {
        QTest::mouseClick(list()->addButton(), Qt::LeftButton);
        RtpInfo info = form()->shownRtpInfo();
        EXPECT_GT(info.id, 0);
        if (settings) {
            settings(info);
            manager->updateRtpInfo(info);
            dialog->reloadRtpInfos();
        }
        return info;
    }

    // Sends PCMU to the receiver from a playlist of one 30 s tone.
    void playlistToReceiver(RtpInfo& info)
    {
        const QString tone = m_app.filePath(QStringLiteral("tone.wav"));
        if (!QFile::exists(tone)) {
            ASSERT_TRUE(TestSupport::makeTone(tone, 440, 30));
        }
        info.address = QStringLiteral("127.0.0.1:%1").arg(receiver.port());
        info.codec = 0;
        info.volume = 80;
        info.playlist = {tone};
    }

    int rowOf(int id) const
    {
        for (int i = 0; i < list()->rowCount(); ++i) {
            if (list()->itemWidget(i)->rtpInfo().id == id)
                return i;
        }
        return -1;
    }
    RtpInfoItemWidget* row(int id) const { return list()->itemWidget(rowOf(id)); }
    QVector<int> ids() const
    {
        QVector<int> out;
        for (int i = 0; i < list()->rowCount(); ++i)
            out.append(list()->itemWidget(i)->rtpInfo().id);
        return out;
    }
    int markedId() const
    {
        RtpInfo marked;
        return list()->selectedRtpInfo(marked) == 0 ? marked.id : -1;
    }
    bool rowRunning(int id) const
    {
        const RtpInfoItemWidget* r = row(id);
        return r && r->playButton()->isChecked();
    }
    static bool showsIcon(const RDButton* icon, const char* path)
    {
        return !icon->currentPixmap().isNull()
               && icon->currentPixmap().toImage() == cachedPixmap(QString::fromLatin1(path), 16).toImage();
    }

    // The channel's action-log rows as "action,source,trigger", oldest first.
    QStringList logRows(int id) const
    {
        const TestSupport::Result result =
            TestSupport::run(QStringLiteral("sqlite3"),
                             {QStringLiteral("-cmd"), QStringLiteral(".timeout 10000"),
                              m_app.filePath(QStringLiteral("database/zvlog.db")),
                              QStringLiteral("select action||','||source||','||type from alog where rtpId=%1 "
                                             "order by id;")
                                  .arg(id)},
                             20000);
        EXPECT_EQ(result.exitCode, 0) << result.err.constData();
        return QString::fromUtf8(result.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    void stopEverything()
    {
        for (const RtpInfo& info : manager->getRtpInfos())
            manager->stopRtpInfo(info, RtpInfo::kSourceAll, RtpInfo::kTriggerManual);
    }

    TempAppDir m_app;
    int m_httpPort = 0;
    int m_sipPort = 0;
    RtpManager* manager = nullptr;
    AppRtpReceiver receiver;
    std::unique_ptr<RtpInfoDialog> dialog;
};

} // namespace

TEST_F(RtpInfoDialogTest, WindowAndLayout)
{
    EXPECT_EQ(dialog->parentWidget(), nullptr);
    EXPECT_EQ(dialog->minimumSize(), QSize(700, 700));
    EXPECT_EQ(dialog->size(), QSize(700, 700));
    EXPECT_TRUE(dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(list()->titleLabel()->text(), "All Zones");
    EXPECT_EQ(list()->geometry(), QRect(0, 0, 185, 700));
    EXPECT_EQ(form()->geometry(), QRect(184, 0, 516, 700));
    // The first start's default channel, marked and shown.
    ASSERT_EQ(list()->rowCount(), 1);
    const RtpInfo first = list()->itemWidget(0)->rtpInfo();
    EXPECT_EQ(markedId(), first.id);
    EXPECT_EQ(form()->shownRtpInfo().id, first.id);
    EXPECT_EQ(form()->addressEdit()->text(), first.address);
    // No channels: nothing marked, the form on an empty record.
    dialog->deleteRtpInfo(first);
    EXPECT_EQ(list()->rowCount(), 0);
    EXPECT_EQ(markedId(), -1);
    EXPECT_EQ(form()->shownRtpInfo().id, 0);
    EXPECT_EQ(form()->nameEdit()->text(), "");
    EXPECT_EQ(form()->addressEdit()->text(), "");
}

// Add names the new channel "Zone <id>", marks it and shows it on MP3 and the playlist; a click
// moves the mark, which survives reloads; Top moves a channel first; Delete removes it and the
// first row takes the mark.
TEST_F(RtpInfoDialogTest, AddSelectReorderDelete)
{
    const RtpInfo first = addChannel();
    const RtpInfo second = addChannel();
    EXPECT_EQ(second.name, QStringLiteral("Zone %1").arg(second.id));
    EXPECT_EQ(markedId(), second.id);
    EXPECT_EQ(form()->nameEdit()->text(), second.name);
    EXPECT_EQ(form()->codecCombo()->currentText(), "MP3");
    EXPECT_EQ(form()->tabWidget()->currentIndex(), 0);
    RtpInfo stored;
    manager->getRtpInfo(second.id, stored);
    EXPECT_EQ(stored.name, second.name);
    EXPECT_EQ(stored.codec, 3);
    EXPECT_EQ(stored.source, 1);
    const RtpInfo third = addChannel();
    ASSERT_EQ(ids().size(), 4) << "with the default channel";
    const RtpInfo defaults = list()->itemWidget(rowOf(ids().last()))->rtpInfo();

    list()->onItemClicked(list()->listWidget()->item(rowOf(first.id)));
    EXPECT_EQ(markedId(), first.id);
    EXPECT_EQ(form()->shownRtpInfo().id, first.id);
    dialog->reloadRtpInfos();
    EXPECT_EQ(markedId(), first.id);
    EXPECT_EQ(form()->nameEdit()->text(), first.name);

    // Top through the row's menu.
    const int before = rowOf(third.id);
    list()->onListWidgetContextMenu(list()->listWidget()->visualItemRect(list()->listWidget()->item(before)).center());
    ASSERT_NE(list()->menu(), nullptr);
    for (QAction* action : list()->menu()->actions()) {
        if (action->text() == "Top")
            action->trigger();
    }
    EXPECT_EQ(ids().first(), third.id);
    EXPECT_EQ(markedId(), first.id) << "the mark stays with its channel";
    // Top again for another: the latest is first.
    dialog->topRtpInfo(second);
    EXPECT_EQ(ids().first(), second.id);
    EXPECT_EQ(ids()[1], third.id);

    dialog->deleteRtpInfo(first);
    EXPECT_EQ(rowOf(first.id), -1);
    EXPECT_EQ(manager->getRtpInfo(first.id, stored), 0);
    EXPECT_EQ(stored.id, 0);
    EXPECT_EQ(markedId(), ids().first());
    EXPECT_EQ(form()->shownRtpInfo().id, ids().first());
    dialog->deleteRtpInfo(second);
    dialog->deleteRtpInfo(third);
    dialog->deleteRtpInfo(defaults);
    EXPECT_EQ(list()->rowCount(), 0);
    EXPECT_EQ(markedId(), -1);
    EXPECT_EQ(form()->shownRtpInfo().id, 0);
}

// The form's Start stores what the operator typed first, then starts the channel with its own
// source kind by hand: RTP arrives at the receiver and the row shows pause. Stop ends it.
TEST_F(RtpInfoDialogTest, StartFromTheFormSendsRtp)
{
    RtpInfo info = addChannel([this](RtpInfo& info) { playlistToReceiver(info); });
    ASSERT_EQ(form()->shownRtpInfo().id, info.id);
    form()->nameEdit()->setText(QStringLiteral("Lobby speakers"));
    form()->codecCombo()->setCurrentIndex(2); // PCMU, saved at once
    QTest::mouseClick(form()->startButton(), Qt::LeftButton);
    ASSERT_TRUE(receiver.waitForPackets(25, kWaitMs));
    RtpInfo stored;
    manager->getRtpInfo(info.id, stored);
    EXPECT_EQ(stored.name, "Lobby speakers");
    EXPECT_EQ(stored.codec, 0);
    EXPECT_EQ(stored.startedSource, 1);
    EXPECT_EQ(stored.startedType, RtpInfo::kTriggerManual);
    EXPECT_TRUE(rowRunning(info.id));
    EXPECT_EQ(form()->startButton()->text(), "Stop");
    EXPECT_FALSE(receiver.payloads(0).isEmpty()) << "PCMU as chosen in the form";
    EXPECT_EQ(logRows(info.id), QStringList({"0,1,1"}));

    QTest::mouseClick(form()->startButton(), Qt::LeftButton);
    EXPECT_TRUE(receiver.waitForBye(kWaitMs));
    EXPECT_TRUE(GuiTest::waitFor([&] { return !rowRunning(info.id); }, kWaitMs));
    EXPECT_EQ(form()->startButton()->text(), "Start");
    EXPECT_EQ(logRows(info.id), QStringList({"0,1,1", "1,247,1"}));
}

// "/api?action=start" from another process starts the channel; the manager's report reaches the
// window through the queued refresh alone, flipping the row (and the form showing it) to pause
// with the HTTP trigger and playlist icons.
TEST_F(RtpInfoDialogTest, HttpApiStartFlipsTheRow)
{
    SONARIS_REQUIRE_COMMANDS("curl");
    const RtpInfo info = addChannel([this](RtpInfo& info) {
        playlistToReceiver(info);
        info.httpApi = 1;
    });
    const RtpInfo other = addChannel();
    const int rows = list()->rowCount();
    list()->onItemClicked(list()->listWidget()->item(rowOf(info.id)));
    ASSERT_FALSE(rowRunning(info.id));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return TestSupport::run(QStringLiteral("curl"),
                                                                     {QStringLiteral("-s"), QStringLiteral("-o"),
                                                                      QStringLiteral("/dev/null"),
                                                                      QStringLiteral("http://127.0.0.1:%1/").arg(m_httpPort)},
                                                                     10000)
                                                        .exitCode == 0; },
                                       kWaitMs));
    // The operator is renaming the channel as it starts.
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    form()->nameEdit()->setFocus();
    form()->nameEdit()->selectAll();
    QTest::keyClicks(form()->nameEdit(), QStringLiteral("Lobby"));
    const TestSupport::Result reply = TestSupport::run(
        QStringLiteral("curl"),
        {QStringLiteral("-s"), QStringLiteral("http://127.0.0.1:%1/api?action=start&id=%2").arg(m_httpPort).arg(info.id)},
        20000);
    ASSERT_EQ(reply.exitCode, 0) << reply.err.constData();
    EXPECT_EQ(reply.out, QByteArray(R"({"result":0})"));
    ASSERT_TRUE(GuiTest::waitFor([&] { return rowRunning(info.id); }, kWaitMs));
    EXPECT_TRUE(showsIcon(row(info.id)->triggerIcon(), ":/http.png"));
    EXPECT_TRUE(showsIcon(row(info.id)->sourceIcon(), ":/media_gray.png"));
    EXPECT_FALSE(rowRunning(other.id));
    EXPECT_TRUE(GuiTest::waitFor([&] { return form()->startButton()->text() == "Stop"; }, kWaitMs));
    EXPECT_EQ(form()->nameEdit()->text(), "Lobby") << "the refresh left the typing";
    QTest::keyClick(form()->nameEdit(), Qt::Key_Return);
    RtpInfo stored;
    manager->getRtpInfo(info.id, stored);
    EXPECT_EQ(stored.name, "Lobby");
    EXPECT_EQ(stored.startedSource, RtpInfo::kSourcePlaylist) << "stored while running";
    EXPECT_EQ(row(info.id)->nameLabel()->text(), "Lobby");
    EXPECT_EQ(list()->rowCount(), rows) << "a refresh does not rebuild the list";
    EXPECT_TRUE(receiver.waitForPackets(10, kWaitMs));
    GuiTest::grabToPng(dialog.get(), QStringLiteral("RtpInfoDialog-running"));

    const TestSupport::Result stop = TestSupport::run(
        QStringLiteral("curl"),
        {QStringLiteral("-s"), QStringLiteral("http://127.0.0.1:%1/api?action=stop&id=%2").arg(m_httpPort).arg(info.id)},
        20000);
    EXPECT_EQ(stop.out, QByteArray(R"({"result":0})"));
    EXPECT_TRUE(GuiTest::waitFor([&] { return !rowRunning(info.id); }, kWaitMs));
    EXPECT_TRUE(row(info.id)->triggerIcon()->currentPixmap().isNull());
    EXPECT_TRUE(row(info.id)->sourceIcon()->currentPixmap().isNull());
    EXPECT_EQ(form()->startButton()->text(), "Start");
    GuiTest::grabToPng(dialog.get(), QStringLiteral("RtpInfoDialog-stopped"));
}

// Deleting a running channel stops it first: its stop row (every source, by hand) is logged,
// its RTP ends, and the first remaining row takes the mark.
TEST_F(RtpInfoDialogTest, DeleteStopsFirst)
{
    const RtpInfo keep = addChannel();
    const RtpInfo info = addChannel([this](RtpInfo& info) { playlistToReceiver(info); });
    dialog->startRtpInfo(info);
    ASSERT_TRUE(receiver.waitForPackets(10, kWaitMs));
    ASSERT_TRUE(rowRunning(info.id));
    list()->onListWidgetContextMenu(
        list()->listWidget()->visualItemRect(list()->listWidget()->item(rowOf(info.id))).center());
    for (QAction* action : list()->menu()->actions()) {
        if (action->text() == "Delete")
            action->trigger();
    }
    EXPECT_EQ(rowOf(info.id), -1);
    EXPECT_TRUE(receiver.waitForBye(kWaitMs));
    EXPECT_EQ(logRows(info.id), QStringList({"0,1,1", "1,247,1"}));
    EXPECT_EQ(manager->sessionCount(), 0);
    const int count = receiver.packetCount();
    QTest::qWait(300);
    EXPECT_EQ(receiver.packetCount(), count) << "no RTP after the delete";
    EXPECT_EQ(markedId(), keep.id);
    EXPECT_EQ(form()->shownRtpInfo().id, keep.id);
}

// A start the manager refuses is logged and shown to the operator; the row stays on play.
TEST_F(RtpInfoDialogTest, FailedStartShownAndLogged)
{
    TestLogFile log;
    // A kind no source slot takes (half of the sound card, as an older record may hold).
    const RtpInfo info = addChannel([this](RtpInfo& info) {
        playlistToReceiver(info);
        info.source = 2;
    });
    QTest::mouseClick(row(info.id)->playButton(), Qt::LeftButton);
    ASSERT_NE(dialog->currentToast(), nullptr);
    EXPECT_EQ(dialog->currentToast()->text(), "Start Failure");
    EXPECT_TRUE(log.waitFor(QStringLiteral("zone %1 (%2): start of source 2 failed").arg(info.id).arg(info.name)));
    EXPECT_FALSE(rowRunning(info.id));
    EXPECT_EQ(form()->startButton()->text(), "Start");
}

// A call to the channel's SIP account (registered at a SIPp registrar) plays on the channel: its
// row shows the SIP icon in the trigger's place and no source icon while the call lasts, and
// play again after the caller hangs up.
TEST_F(RtpInfoDialogTest, SipCallShowsOnItsRow)
{
    SONARIS_REQUIRE_COMMANDS("sipp", "ffmpeg");
    SipSippRunner registrar("127.0.0.2");
    ASSERT_TRUE(registrar.start({"-sf", SipSippRunner::scenario("reg_plain.xml")}, 1));
    const RtpInfo info = addChannel([&](RtpInfo& info) {
        info.address = QStringLiteral("127.0.0.1:%1").arg(receiver.port());
        info.codec = 0;
        info.volume = 80;
        info.sip.status = 1;
        info.sip.server = QString::fromStdString(registrar.host());
        info.sip.port = QString::number(registrar.port());
        info.sip.username = QStringLiteral("301");
        info.sip.authId = QStringLiteral("301");
        info.sip.password = QStringLiteral("secret");
        info.sip.expire = QStringLiteral("60");
    });
    // The list's save button stores the form and registers the account again.
    QTest::mouseClick(list()->saveButton(), Qt::LeftButton);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return manager->getSipStatusText(info.id) == "Register Success"; },
                                       kWaitMs));
    const SipSippRunner::Run registered = registrar.finish();
    EXPECT_EQ(registered.exitCode, 0) << registered.describe();

    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("pcap")));
    const QString alawPath = dir.filePath(QStringLiteral("tone.alaw"));
    ASSERT_TRUE(TestSupport::makeTone(alawPath, 1000, 3.0, {"-f", "alaw", "-ar", "8000", "-ac", "1"}));
    QFile alaw(alawPath);
    ASSERT_TRUE(alaw.open(QIODevice::ReadOnly));
    ASSERT_TRUE(SipTestPcap::write(dir.filePath(QStringLiteral("pcap/g711a.pcap")), SipTestPcap::pcmaStream(alaw.readAll())));
    ASSERT_TRUE(SipTestPcap::write(dir.filePath(QStringLiteral("pcap/dtmf_2833_1.pcap")), SipTestPcap::telephoneEvent(1, 4)));
    // The agent takes calls addressed to it at the adapter it runs on.
    const QString adapter = Sonaris::instance()->network().ip();
    ASSERT_FALSE(adapter.isEmpty());
    SipSippRunner caller("127.0.0.3");
    caller.setWorkingDirectory(dir.path());
    ASSERT_TRUE(caller.start({"-sn", "uac_pcap", "-s", "301", adapter + ":" + QString::number(m_sipPort)}, 1));
    const bool shown = GuiTest::waitFor([&] { return rowRunning(info.id); }, kWaitMs);
    EXPECT_TRUE(shown);
    if (shown) {
        EXPECT_TRUE(showsIcon(row(info.id)->triggerIcon(), ":/sip.png"));
        EXPECT_TRUE(row(info.id)->sourceIcon()->currentPixmap().isNull());
        EXPECT_EQ(form()->startButton()->text(), "Stop");
        EXPECT_TRUE(form()->sipLabel()->text().endsWith("(Register Success)")) << form()->sipLabel()->text().toStdString();
        GuiTest::grabToPng(dialog.get(), QStringLiteral("RtpInfoDialog-sip-call"));
    }
    const SipSippRunner::Run run = caller.finish();
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_TRUE(GuiTest::waitFor([&] { return !rowRunning(info.id); }, kWaitMs));
    EXPECT_EQ(logRows(info.id), QStringList({"0,64,4", "1,64,4"}));
}
