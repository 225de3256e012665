#include "RtpInfoWidget.h"

#include "GuiTest.h"
#include "GuiTestHook.h"
#include "RDButton.h"
#include "RDLabel.h"
#include "RtpInfoBellWidget.h"
#include "RtpInfoDeviceWidget.h"
#include "RtpInfoHttpDialog.h"
#include "RtpInfoPlaylistWidget.h"
#include "RtpInfoScheduleDialog.h"
#include "RtpInfoSipDialog.h"
#include "RtpInfoStreamWidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <tuple>

namespace {

RtpInfo record(int id, int codec, int source, int startedSource = 0)
{
    RtpInfo info;
    info.id = id;
    info.name = QStringLiteral("Hall %1").arg(id);
    info.address = QStringLiteral("239.255.0.%1:8000").arg(id);
    info.codec = codec;
    info.source = source;
    info.startedSource = startedSource;
    info.streamUrl = QStringLiteral("http://radio.example/live");
    info.bellPath = QStringLiteral("/bells/ding.mp3");
    info.bellLoopType = 2;
    info.bellLoops = 3;
    info.deviceId = QStringLiteral("stored-endpoint");
    info.deviceName = QStringLiteral("Line In");
    info.deviceType = 0;
    return info;
}

using Flags = std::tuple<bool, bool, bool>;

Flags flagsOf(const QList<QVariant>& arguments)
{
    return Flags(arguments.at(0).toBool(), arguments.at(1).toBool(), arguments.at(2).toBool());
}

class RtpInfoWidgetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GuiTest::hook().reset();
        form.resize(515, 700);
    }
    void TearDown() override { GuiTest::hook().reset(); }

    RtpInfoWidget form;
};

} // namespace

TEST_F(RtpInfoWidgetTest, CodecTableBothWays)
{
    const char* const texts[] = {"MP3", "G722", "PCMU", "PCMA", "L16 Mono", "L16 Stereo"};
    const int codecs[] = {3, 2, 0, 1, 4, 5};
    ASSERT_EQ(form.codecCombo()->count(), 6);
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(form.codecCombo()->itemText(row), texts[row]);
        EXPECT_EQ(form.codecCombo()->itemData(row).toInt(), codecs[row]);
        EXPECT_EQ(RtpInfoWidget::rowOfCodec(codecs[row]), row);
    }
    // Out of the table: shown as MP3 and read back as MP3.
    form.setRtpInfo(record(1, 7, 1));
    EXPECT_EQ(form.codecCombo()->currentText(), "MP3");
    RtpInfo out;
    form.getRtpInfo(out);
    EXPECT_EQ(out.codec, 3);
}

// No fill asks for a save, whatever it moves: every codec, source kind and running state,
// filled one after another so that each fill changes the combo, the tab and the bell repeat.
TEST_F(RtpInfoWidgetTest, FillingNeverEmits)
{
    QSignalSpy saves(&form, &RtpInfoWidget::requestSaveRtpInfo);
    QSignalSpy bells(form.bellWidget(), &RtpInfoBellWidget::bellChanged);
    const int codecs[] = {0, 1, 2, 3, 4, 5, 7};
    const int sources[] = {0, 1, 2, 4, 6, 16, 32};
    const int running[] = {0, 1, 6, 16, 32, 64, 128};
    int id = 1;
    for (int codec : codecs) {
        for (int source : sources) {
            for (int started : running) {
                RtpInfo info = record(id % 3 + 1, codec, source, started);
                info.bellLoopType = id % 3;
                info.schedule.status = id % 2;
                info.sip.status = (id / 2) % 2;
                form.setRtpInfo(info);
                form.refreshRtpInfo(info);
                ++id;
            }
        }
    }
    EXPECT_EQ(saves.count(), 0);
    EXPECT_EQ(bells.count(), 0);
}

// What a running channel shows, tab by its running kind, and the tab of a stopped one by its
// source kind.
TEST_F(RtpInfoWidgetTest, TabFollowsRunningKindElseSource)
{
    const struct
    {
        int source;
        int started;
        int tabBefore;
        int tab;
        const char* button;
    } rows[] = {
        {1, 0, 3, 0, "Start"},  {2, 0, 3, 0, "Start"},  {4, 0, 3, 0, "Start"},  {6, 0, 0, 1, "Start"},
        {16, 0, 0, 2, "Start"}, {32, 0, 0, 3, "Start"}, {99, 0, 3, 0, "Start"}, {32, 1, 3, 0, "Stop"},
        {1, 2, 0, 1, "Stop"},   {1, 4, 0, 1, "Stop"},   {1, 6, 0, 1, "Stop"},   {1, 16, 0, 2, "Stop"},
        {1, 32, 0, 3, "Stop"},  {1, 64, 2, 2, "Stop"},  {1, 128, 3, 3, "Stop"},
    };
    for (const auto& row : rows) {
        form.tabWidget()->setCurrentIndex(row.tabBefore);
        form.setRtpInfo(record(5, 3, row.source, row.started));
        EXPECT_EQ(form.tabWidget()->currentIndex(), row.tab) << row.source << "/" << row.started;
        EXPECT_EQ(form.startButton()->text(), row.button) << row.started;
    }
    // Texts of the tabs, and "Start" again after localize, also for a running channel.
    EXPECT_EQ(form.tabWidget()->tabText(0), "Audio Medias");
    EXPECT_EQ(form.tabWidget()->tabText(1), "Audio Source");
    EXPECT_EQ(form.tabWidget()->tabText(2), "Live Radio");
    EXPECT_EQ(form.tabWidget()->tabText(3), "Bell Ringing");
    form.localize();
    EXPECT_EQ(form.startButton()->text(), "Start");
}

TEST_F(RtpInfoWidgetTest, CodecSaveFlagsFollowSip)
{
    for (int sip : {0, 1}) {
        RtpInfo info = record(4, 3, 1);
        info.sip.status = sip;
        form.setRtpInfo(info);
        QSignalSpy saves(&form, &RtpInfoWidget::requestSaveRtpInfo);
        form.codecCombo()->setCurrentIndex(2);
        ASSERT_EQ(saves.count(), 1) << sip;
        EXPECT_EQ(flagsOf(saves.at(0)), Flags(false, false, sip == 1));
        RtpInfo out;
        form.getRtpInfo(out);
        EXPECT_EQ(out.codec, 0);
        EXPECT_EQ(form.shownRtpInfo().codec, 0);
    }
}

// A tab change is the operator's choice of source and is saved; a running source of another
// kind brings its tab up without changing the stored kind.
TEST_F(RtpInfoWidgetTest, SourceComesFromTheShownRecord)
{
    form.setRtpInfo(record(4, 3, 32));
    QSignalSpy saves(&form, &RtpInfoWidget::requestSaveRtpInfo);
    form.tabWidget()->setCurrentIndex(2);
    ASSERT_EQ(saves.count(), 1);
    EXPECT_EQ(flagsOf(saves.at(0)), Flags(false, false, false));
    RtpInfo out;
    form.getRtpInfo(out);
    EXPECT_EQ(out.source, 16);

    // A bell channel whose schedule plays its playlist: the playlist tab shows, the bell stays.
    form.setRtpInfo(record(4, 3, 32, 1));
    EXPECT_EQ(form.tabWidget()->currentIndex(), 0);
    form.nameEdit()->setText(QStringLiteral("Renamed"));
    emit form.nameEdit()->editingFinished();
    form.getRtpInfo(out);
    EXPECT_EQ(out.source, 32);
    EXPECT_EQ(out.name, "Renamed");

    // Kinds no tab stands for read back as the playlist; 6 as the sound card.
    const int kinds[][2] = {{2, 1}, {4, 1}, {0, 1}, {99, 1}, {6, 6}, {16, 16}, {32, 32}, {1, 1}};
    for (const auto& kind : kinds) {
        form.setRtpInfo(record(4, 3, kind[0]));
        form.getRtpInfo(out);
        EXPECT_EQ(out.source, kind[1]) << kind[0];
    }
}

// Only a whole address with a port of 1-65535 is stored; anything else keeps the stored one.
TEST_F(RtpInfoWidgetTest, OnlyAcceptableAddressesStored)
{
    const struct
    {
        const char* typed;
        bool stored;
    } rows[] = {
        {"239.1.2.3:5004", true}, {"127.0.0.1:1", true},      {"10.0.0.1:65535", true},
        {"10.0.0.1:65536", false}, {"10.0.0.1:99999", false}, {"10.0.0.1:0", false},
        {"10.0.0.1:", false},      {"10.0.0.1", false},       {"239.1.2:5004", false},
        {"", false},
    };
    for (const auto& row : rows) {
        form.setRtpInfo(record(4, 3, 1));
        QSignalSpy saves(&form, &RtpInfoWidget::requestSaveRtpInfo);
        form.addressEdit()->setFocus();
        form.addressEdit()->selectAll();
        form.addressEdit()->del();
        QTest::keyClicks(form.addressEdit(), QLatin1String(row.typed));
        // What the operator's Return does: editingFinished comes only for text the pattern takes.
        QTest::keyClick(form.addressEdit(), Qt::Key_Return);
        RtpInfo out;
        form.getRtpInfo(out);
        EXPECT_EQ(out.address, row.stored ? QString::fromLatin1(row.typed) : QStringLiteral("239.255.0.4:8000"))
            << row.typed;
        EXPECT_EQ(saves.count(), row.stored ? 1 : 0) << row.typed;
    }
}

// No endpoint marked (the stored one is absent from this PC): the stored endpoint stays.
TEST_F(RtpInfoWidgetTest, AbsentSoundCardKept)
{
    form.setRtpInfo(record(4, 3, 6));
    form.deviceWidget()->setDevices({RDAudioDevice(QStringLiteral("other"), QStringLiteral("Mic"), 0)},
                                    QStringLiteral("stored-endpoint"));
    RtpInfo out;
    form.getRtpInfo(out);
    EXPECT_EQ(out.deviceId, "stored-endpoint");
    EXPECT_EQ(out.deviceName, "Line In");
    EXPECT_EQ(out.deviceType, 0);

    form.deviceWidget()->setDevices({RDAudioDevice(QStringLiteral("spk"), QStringLiteral("Speakers"), 1)},
                                    QStringLiteral("spk"));
    form.getRtpInfo(out);
    EXPECT_EQ(out.deviceId, "spk");
    EXPECT_EQ(out.deviceName, "Speakers");
    EXPECT_EQ(out.deviceType, 1);
}

// getRtpInfo takes each tab's values and keeps the rest of the shown record.
TEST_F(RtpInfoWidgetTest, ReadBackTakesTheEditors)
{
    RtpInfo info = record(9, 2, 16);
    info.volume = 55;
    info.httpApi = 1;
    info.schedule.status = 1;
    info.playlist = {QStringLiteral("/music/a.mp3"), QStringLiteral("/music/gone.mp3")};
    form.setRtpInfo(info);
    form.streamWidget()->urlEdit()->setText(QStringLiteral("http://radio.example/other"));
    form.bellWidget()->timesEdit()->setText(QString());
    RtpInfo out;
    form.getRtpInfo(out);
    EXPECT_EQ(out.id, 9);
    EXPECT_EQ(out.volume, 55);
    EXPECT_EQ(out.httpApi, 1);
    EXPECT_EQ(out.schedule.status, 1);
    EXPECT_EQ(out.codec, 2);
    EXPECT_EQ(out.playlist, info.playlist);
    EXPECT_EQ(out.streamUrl, "http://radio.example/other");
    EXPECT_EQ(out.bellPath, "/bells/ding.mp3");
    EXPECT_EQ(out.bellLoopType, 2);
    EXPECT_EQ(out.bellLoops, 0) << "an empty field reads as 0";

    RtpInfo fresh;
    form.initRtpInfo(fresh);
    EXPECT_EQ(fresh.codec, 3);
    EXPECT_EQ(fresh.source, 1);
    EXPECT_EQ(fresh.id, 0);
}

// Running: "Stop", the source controls off, and the schedule, SIP and HTTP dialogs refused
// with "Please stop rtp" (no dialog, no save). Stopped again: all on.
TEST_F(RtpInfoWidgetTest, RunningChannelRefusesItsDialogs)
{
    for (int started : {1, 6, 16, 32, 64, 128}) {
        GuiTest::hook().reset();
        form.setRtpInfo(record(3, 3, 1, started));
        EXPECT_EQ(form.startButton()->text(), "Stop");
        EXPECT_FALSE(form.deviceWidget()->list()->isEnabled());
        EXPECT_FALSE(form.streamWidget()->urlEdit()->isEnabled());
        EXPECT_FALSE(form.bellWidget()->fileEdit()->isEnabled());
        EXPECT_FALSE(form.bellWidget()->table()->isEnabled());
        QSignalSpy saves(&form, &RtpInfoWidget::requestSaveRtpInfo);
        for (RDButton* button : {form.scheduleButton(), form.sipButton(), form.httpButton()})
            QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(GuiTest::hook().boxTexts(),
                  QStringList({"Please stop rtp", "Please stop rtp", "Please stop rtp"}));
        EXPECT_EQ(saves.count(), 0);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    form.setRtpInfo(record(3, 3, 1, 0));
    EXPECT_EQ(form.startButton()->text(), "Start");
    EXPECT_TRUE(form.deviceWidget()->list()->isEnabled());
    EXPECT_TRUE(form.streamWidget()->urlEdit()->isEnabled());
    EXPECT_TRUE(form.bellWidget()->fileEdit()->isEnabled());
}

// Each dialog saved writes its part into the shown record and asks for its own save; a
// cancelled one changes nothing and asks nothing.
TEST_F(RtpInfoWidgetTest, DialogsSaveWithTheirFlags)
{
    form.setRtpInfo(record(3, 3, 1));
    QSignalSpy saves(&form, &RtpInfoWidget::requestSaveRtpInfo);

    GuiTest::onModal([](QWidget* modal) {
        auto* dialog = qobject_cast<RtpInfoScheduleDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->parentWidget(), nullptr);
        dialog->statusCheckBox()->setChecked(true);
        QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
    });
    QTest::mouseClick(form.scheduleButton(), Qt::LeftButton);
    ASSERT_EQ(saves.count(), 1);
    EXPECT_EQ(flagsOf(saves.at(0)), Flags(true, true, false));
    EXPECT_EQ(form.shownRtpInfo().schedule.status, 1);

    GuiTest::onModal([](QWidget* modal) {
        auto* dialog = qobject_cast<RtpInfoSipDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->enableCheckBox()->setChecked(true);
        dialog->rowEdit(RtpInfoSipDialog::kServer)->setText(QStringLiteral("127.0.0.1"));
        dialog->rowEdit(RtpInfoSipDialog::kUsername)->setText(QStringLiteral("301"));
        QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
    });
    QTest::mouseClick(form.sipButton(), Qt::LeftButton);
    ASSERT_EQ(saves.count(), 2);
    EXPECT_EQ(flagsOf(saves.at(1)), Flags(true, false, true));
    EXPECT_EQ(form.shownRtpInfo().sip.status, 1);
    EXPECT_EQ(form.shownRtpInfo().sip.username, "301");

    GuiTest::onModal([](QWidget* modal) {
        auto* dialog = qobject_cast<RtpInfoHttpDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->apiCheckBox()->setChecked(true);
        QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
    });
    QTest::mouseClick(form.httpButton(), Qt::LeftButton);
    ASSERT_EQ(saves.count(), 3);
    EXPECT_EQ(flagsOf(saves.at(2)), Flags(true, false, false));
    EXPECT_EQ(form.shownRtpInfo().httpApi, 1);

    const RtpInfo before = form.shownRtpInfo();
    GuiTest::onModal([](QWidget* modal) {
        auto* dialog = qobject_cast<RtpInfoHttpDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->apiCheckBox()->setChecked(false);
        QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
    });
    QTest::mouseClick(form.httpButton(), Qt::LeftButton);
    EXPECT_EQ(saves.count(), 3);
    EXPECT_EQ(form.shownRtpInfo(), before);
}

// The summaries: schedule times in blue when enabled, black otherwise; the SIP address alone
// without a registration text; the buttons checked by their switches.
TEST_F(RtpInfoWidgetTest, SummariesAndButtons)
{
    RtpInfo info = record(3, 3, 1);
    RtpScheduleItem start;
    start.type = RtpScheduleItem::TypeStart;
    start.startTime = QStringLiteral("08:00:00");
    info.schedule.items = {start};
    info.sip.server = QStringLiteral("pbx.local");
    info.sip.port = QStringLiteral("5060");
    info.sip.username = QStringLiteral("301");
    for (int on : {0, 1}) {
        info.schedule.status = on;
        info.sip.status = on;
        info.httpOutput = on;
        form.setRtpInfo(info);
        EXPECT_EQ(form.scheduleLabel()->text(), "08:00:00;");
        EXPECT_EQ(form.scheduleLabel()->textColor(), on ? QColor(33, 150, 243, 240) : QColor(0, 0, 0));
        EXPECT_EQ(form.sipLabel()->text(), info.sip.addressText());
        EXPECT_EQ(form.sipLabel()->textColor(), on ? QColor(33, 150, 243, 240) : QColor(0, 0, 0));
        EXPECT_EQ(form.scheduleButton()->isChecked(), on == 1);
        EXPECT_EQ(form.sipButton()->isChecked(), on == 1);
        EXPECT_EQ(form.httpButton()->isChecked(), on == 1);
    }
}

// A refresh of the channel being edited (it started, its item changed) shows the running state
// and leaves the typing alone; finishing the typing saves it once.
TEST_F(RtpInfoWidgetTest, RefreshKeepsTyping)
{
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.setRtpInfo(record(6, 3, 1));
    QSignalSpy saves(&form, &RtpInfoWidget::requestSaveRtpInfo);
    form.nameEdit()->setFocus();
    form.nameEdit()->selectAll();
    QTest::keyClicks(form.nameEdit(), QStringLiteral("Lobby"));
    RtpInfo running = record(6, 0, 1, 1);
    running.name = QStringLiteral("Hall 6");
    running.startedType = 3;
    form.refreshRtpInfo(running);
    EXPECT_EQ(form.nameEdit()->text(), "Lobby");
    EXPECT_EQ(form.startButton()->text(), "Stop");
    EXPECT_EQ(form.codecCombo()->currentText(), "MP3") << "a refresh leaves the settings";
    // A whole refill of the same channel while the operator types keeps the typing too.
    form.setRtpInfo(running);
    EXPECT_EQ(form.nameEdit()->text(), "Lobby");
    EXPECT_EQ(saves.count(), 0);
    QTest::keyClick(form.nameEdit(), Qt::Key_Return);
    EXPECT_EQ(saves.count(), 1);
    RtpInfo out;
    form.getRtpInfo(out);
    EXPECT_EQ(out.name, "Lobby");
    EXPECT_EQ(out.startedSource, 1);
    // Finished typing is no longer protected: the next fill shows the stored name.
    form.setRtpInfo(record(6, 3, 1));
    EXPECT_EQ(form.nameEdit()->text(), "Hall 6");
    EXPECT_EQ(saves.count(), 1);
}

// The playlist's seek and jump carry the form's record.
TEST_F(RtpInfoWidgetTest, PlaylistRequestsCarryTheRecord)
{
    form.setRtpInfo(record(8, 3, 1, 1));
    QSignalSpy seeks(&form, &RtpInfoWidget::requestSeekFile);
    QSignalSpy jumps(&form, &RtpInfoWidget::requestChangeFile);
    emit form.playlistWidget()->requestSeekFile(2, 0.5);
    emit form.playlistWidget()->requestChangeFile(1);
    ASSERT_EQ(seeks.count(), 1);
    ASSERT_EQ(jumps.count(), 1);
    EXPECT_EQ(seeks.at(0).at(0).value<RtpInfo>().id, 8);
    EXPECT_EQ(seeks.at(0).at(1).toInt(), 2);
    EXPECT_DOUBLE_EQ(seeks.at(0).at(2).toDouble(), 0.5);
    EXPECT_EQ(jumps.at(0).at(0).value<RtpInfo>().id, 8);
    EXPECT_EQ(jumps.at(0).at(1).toInt(), 1);
}

// Rows 34 px apart from y 10, the editors 60 px right of the widest label, the buttons at the
// bottom, the tabs between.
TEST_F(RtpInfoWidgetTest, Layout)
{
    form.setRtpInfo(record(3, 3, 1));
    EXPECT_EQ(form.nameEdit()->geometry(), QRect(form.nameEdit()->x(), 10, 300, 25));
    EXPECT_EQ(form.addressEdit()->y(), 44);
    EXPECT_EQ(form.codecCombo()->y(), 78);
    EXPECT_EQ(form.httpButton()->y(), 10 + 5 * 34);
    EXPECT_EQ(form.startButton()->geometry().bottom(), 700 - 50 + 29);
    EXPECT_EQ(form.saveButton()->y(), 650);
    EXPECT_GE(form.startButton()->width(), 150);
    EXPECT_LT(form.startButton()->geometry().right(), 515 / 2);
    EXPECT_GE(form.saveButton()->x(), 515 / 2);
    EXPECT_EQ(form.tabWidget()->y(), 10 + 5 * 34 + 24 + 20);
    EXPECT_EQ(form.tabWidget()->geometry().bottom() + 1, 650 - 20);
    EXPECT_FALSE(GuiTest::grabToPng(&form, QStringLiteral("RtpInfoWidget")).isEmpty());
}
