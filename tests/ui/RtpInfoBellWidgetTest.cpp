#include "RtpInfoBellWidget.h"

#include "GuiTest.h"
#include "GuiTestHook.h"
#include "RDButton.h"
#include "RDDurationCache.h"
#include "RDLabel.h"
#include "RtpInfoBellPlayWidget.h"
#include "RtpInfoBellSelectWidget.h"
#include "TempAppDir.h"
#include "TestAudio.h"
#include "TestPulseServer.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

// A temporary application folder with a "sounds" folder of ffmpeg-made bells.
class BellFolder
{
public:
    BellFolder() { QDir(m_app.path()).mkpath(QStringLiteral("sounds")); }

    QString sounds() const { return m_app.filePath(QStringLiteral("sounds")); }
    QString path(const QString& name) const { return sounds() + QLatin1Char('/') + name; }
    // An MP3 tone of that length (low bit rate: the long ones are only measured).
    bool addTone(const QString& name, double seconds, double frequency = 880)
    {
        return TestSupport::makeTone(path(name), frequency, seconds,
                                     {QStringLiteral("-b:a"), QStringLiteral("32k")});
    }
    bool addText(const QString& name)
    {
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly) && file.write("not a sound\n") > 0;
    }
    void removeSounds() { QDir(sounds()).removeRecursively(); }

private:
    TempAppDir m_app;
};

QStringList columnTexts(QTableWidget* table, int column)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts.append(table->item(row, column) ? table->item(row, column)->text() : QString());
    return texts;
}

RtpInfoBellPlayWidget* playCell(RtpInfoBellWidget& tab, int row)
{
    return qobject_cast<RtpInfoBellPlayWidget*>(tab.table()->cellWidget(row, 0));
}

RtpInfoBellSelectWidget* selectCell(RtpInfoBellWidget& tab, int row)
{
    return qobject_cast<RtpInfoBellSelectWidget*>(tab.table()->cellWidget(row, 3));
}

QList<bool> playMarks(RtpInfoBellWidget& tab)
{
    QList<bool> marks;
    for (int row = 0; row < tab.table()->rowCount(); ++row)
        marks.append(playCell(tab, row)->isPlaying());
    return marks;
}

// A press in the middle of a widget, as the operator's click reaches it.
void press(QWidget* widget)
{
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
}

} // namespace

// The table lists the "*.mp3" files of the sounds folder by name, each with its length (probed off
// the GUI thread), a play cell and a select cell; anything else in the folder is left out.
TEST(RtpInfoBellWidget, TableListsTheSoundsFolder)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg");
    BellFolder folder;
    ASSERT_TRUE(folder.addTone(QStringLiteral("b-two.mp3"), 2.0));
    ASSERT_TRUE(folder.addTone(QStringLiteral("a-one.mp3"), 1.0));
    ASSERT_TRUE(folder.addTone(QStringLiteral("d-long.mp3"), 65.0));
    ASSERT_TRUE(folder.addText(QStringLiteral("c-broken.mp3")));
    ASSERT_TRUE(TestSupport::makeTone(folder.path(QStringLiteral("e-other.wav")), 880, 1.0));
    QDir(folder.sounds()).mkpath(QStringLiteral("z-folder.mp3"));

    RtpInfoBellWidget tab;
    tab.resize(560, 360);
    tab.show();
    QTableWidget* table = tab.table();
    ASSERT_EQ(table->rowCount(), 4);
    EXPECT_EQ(columnTexts(table, 1), (QStringList{"a-one.mp3", "b-two.mp3", "c-broken.mp3",
                                                 "d-long.mp3"}));
    QStringList headers;
    for (int column = 0; column < table->columnCount(); ++column)
        headers.append(table->horizontalHeaderItem(column)->text());
    EXPECT_EQ(headers, (QStringList{"Play", "Name", "Duration", "Select"}));
    EXPECT_EQ(table->horizontalHeader()->sectionResizeMode(1), QHeaderView::Stretch);

    for (int row = 0; row < 4; ++row) {
        const QString path = folder.path(table->item(row, 1)->text());
        EXPECT_EQ(table->item(row, 1)->toolTip(), path);
        EXPECT_EQ(table->item(row, 1)->data(Qt::UserRole).toString(), path);
        EXPECT_EQ(table->item(row, 1)->flags(), Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        ASSERT_NE(playCell(tab, row), nullptr);
        ASSERT_NE(selectCell(tab, row), nullptr);
        EXPECT_EQ(playCell(tab, row)->bell(), path);
        EXPECT_EQ(selectCell(tab, row)->bell(), path);
    }

    // The lengths arrive from the probe thread; the unreadable file measures 0.
    const QStringList lengths{"00:01", "00:02", "00:00", "01:05"};
    EXPECT_TRUE(GuiTest::waitFor([&] { return columnTexts(table, 2) == lengths; }, 30000))
        << columnTexts(table, 2).join(QLatin1Char(' ')).toStdString();
    GuiTest::grabToPng(&tab, QStringLiteral("bell_tab"));

    // A second tab (the editor opened anew) knows every length at once.
    RtpInfoBellWidget again;
    EXPECT_EQ(columnTexts(again.table(), 2), lengths);

    folder.removeSounds();
    RtpInfoBellWidget empty;
    EXPECT_EQ(empty.table()->rowCount(), 0);
    EXPECT_EQ(empty.table()->columnCount(), 4);
}

TEST(RtpInfoBellWidget, RepeatTypeShowsItsField)
{
    TempAppDir app;
    RtpInfoBellWidget tab;
    QSignalSpy changed(&tab, &RtpInfoBellWidget::bellChanged);
    ASSERT_EQ(tab.repeatCombo()->count(), 3);
    const struct
    {
        int row;
        int data;
        QString text;
        bool duration;
        bool times;
    } cases[] = {
        {1, RtpInfoBellWidget::kDuration, "Duration", true, false},
        {2, RtpInfoBellWidget::kTimes, "Times", false, true},
        {0, RtpInfoBellWidget::kOnce, "Once Only", false, false},
    };
    int emitted = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        tab.repeatCombo()->setCurrentIndex(c.row);
        EXPECT_EQ(changed.count(), ++emitted);
        EXPECT_EQ(tab.repeatCombo()->itemText(c.row), c.text);
        EXPECT_EQ(tab.loopType(), c.data);
        EXPECT_EQ(!tab.durationEdit()->isHidden(), c.duration);
        EXPECT_EQ(!tab.secondsLabel()->isHidden(), c.duration);
        EXPECT_EQ(!tab.timesEdit()->isHidden(), c.times);
    }
}

// Filling from a channel reports nothing; the fields read back as numbers, empty as 0, and
// the editors take whole numbers in their ranges only.
TEST(RtpInfoBellWidget, FillsAndReadsBackTheChannelValues)
{
    TempAppDir app;
    RtpInfoBellWidget tab;
    tab.resize(560, 360);
    tab.show();
    QSignalSpy changed(&tab, &RtpInfoBellWidget::bellChanged);

    const struct
    {
        int loopType;
        int shownType;
        bool duration;
        bool times;
    } cases[] = {{1, 1, true, false}, {2, 2, false, true}, {0, 0, false, false}, {7, 0, false, false}};
    for (const auto& c : cases) {
        tab.setBell(QStringLiteral("/bells/door.mp3"), c.loopType, 30, 4);
        EXPECT_EQ(tab.bellPath(), "/bells/door.mp3");
        EXPECT_EQ(tab.loopType(), c.shownType);
        EXPECT_EQ(!tab.durationEdit()->isHidden(), c.duration);
        EXPECT_EQ(!tab.timesEdit()->isHidden(), c.times);
        EXPECT_EQ(tab.duration(), 30);
        EXPECT_EQ(tab.loops(), 4);
        GuiTest::grabToPng(&tab, QStringLiteral("bell_tab_repeat_%1").arg(c.loopType));
    }
    EXPECT_EQ(changed.count(), 0);

    tab.durationEdit()->clear();
    tab.timesEdit()->clear();
    EXPECT_EQ(tab.duration(), 0);
    EXPECT_EQ(tab.loops(), 0);

    const struct
    {
        QLineEdit* edit;
        QString typed;
        QString kept;
    } typing[] = {
        {tab.durationEdit(), "12a3", "123"},
        {tab.durationEdit(), "-5", "5"},
        {tab.durationEdit(), "864000", "86400"},
        {tab.timesEdit(), "99999", "9999"},
        {tab.timesEdit(), "1.5", "15"},
    };
    for (const auto& t : typing) {
        t.edit->clear();
        t.edit->setFocus();
        QTest::keyClicks(t.edit, t.typed);
        EXPECT_EQ(t.edit->text(), t.kept) << t.typed.toStdString();
    }
    // A number of as many digits as the limit can be typed, but is neither saved nor read past it.
    tab.setBell(QString(), 1, 0, 0);
    changed.clear();
    tab.durationEdit()->clear();
    tab.durationEdit()->setFocus();
    QTest::keyClicks(tab.durationEdit(), "99999");
    QTest::keyClick(tab.durationEdit(), Qt::Key_Return);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(tab.duration(), RtpInfoBellWidget::kMaxDuration);
    tab.durationEdit()->clear();
    QTest::keyClicks(tab.durationEdit(), "45");
    QTest::keyClick(tab.durationEdit(), Qt::Key_Return);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(tab.duration(), 45);

    tab.setEditable(false);
    GuiTest::grabToPng(&tab, QStringLiteral("bell_tab_channel_running"));
    for (QWidget* control : {static_cast<QWidget*>(tab.previewButton()),
                             static_cast<QWidget*>(tab.fileEdit()), static_cast<QWidget*>(tab.selectButton()),
                             static_cast<QWidget*>(tab.repeatCombo()), static_cast<QWidget*>(tab.durationEdit()),
                             static_cast<QWidget*>(tab.timesEdit()), static_cast<QWidget*>(tab.table())})
        EXPECT_FALSE(control->isEnabled());
    EXPECT_EQ(tab.secondsLabel()->textColor(), QColor(102, 102, 102));
    tab.setEditable(true);
    EXPECT_TRUE(tab.table()->isEnabled());
    EXPECT_EQ(tab.secondsLabel()->textColor(), QColor(Qt::black));
}

// Each way of choosing a bell puts its path into the file edit and reports the change once.
TEST(RtpInfoBellWidget, EveryChoiceReportsOnce)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg");
    BellFolder folder;
    ASSERT_TRUE(folder.addTone(QStringLiteral("chime.mp3"), 0.5));
    ASSERT_TRUE(folder.addTone(QStringLiteral("gong.mp3"), 0.5));
    RtpInfoBellWidget tab;
    tab.resize(560, 360);
    tab.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tab));
    ASSERT_EQ(tab.table()->rowCount(), 2);
    QSignalSpy changed(&tab, &RtpInfoBellWidget::bellChanged);
    GuiTestHook& hook = GuiTest::hook();
    hook.reset();

    // The "Select" button of row 1.
    press(selectCell(tab, 1)->button());
    EXPECT_EQ(tab.bellPath(), folder.path("gong.mp3"));
    EXPECT_EQ(changed.count(), 1);

    // The select cell beside its button.
    QTest::mouseClick(selectCell(tab, 0), Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    EXPECT_EQ(tab.bellPath(), folder.path("chime.mp3"));
    EXPECT_EQ(changed.count(), 2);

    // A double click on the name of row 1 (QTest's double click on a widget sends only the
    // second press; the operator's first one comes before it).
    QWidget* viewport = tab.table()->viewport();
    const QRect name = tab.table()->visualItemRect(tab.table()->item(1, 1));
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, name.center());
    QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, name.center());
    EXPECT_EQ(tab.bellPath(), folder.path("gong.mp3"));
    EXPECT_EQ(changed.count(), 3);

    // The file dialog, accepted and then cancelled.
    hook.answerFiles({QStringLiteral("/elsewhere/siren.flac")});
    QTest::mouseClick(tab.selectButton(), Qt::LeftButton);
    EXPECT_EQ(tab.bellPath(), "/elsewhere/siren.flac");
    EXPECT_EQ(changed.count(), 4);
    ASSERT_EQ(hook.fileAsks().size(), 1);
    EXPECT_EQ(hook.fileAsks().first().mode, QFileDialog::ExistingFile);
    EXPECT_EQ(hook.fileAsks().first().nameFilter, "*.mp3;*.wav;*.flac");
    QTest::mouseClick(tab.selectButton(), Qt::LeftButton);
    EXPECT_EQ(tab.bellPath(), "/elsewhere/siren.flac");
    EXPECT_EQ(changed.count(), 4);

    // Typing a path reports when the edit is finished.
    tab.fileEdit()->setFocus();
    tab.fileEdit()->selectAll();
    QTest::keyClicks(tab.fileEdit(), "/typed.mp3");
    QTest::keyClick(tab.fileEdit(), Qt::Key_Return);
    EXPECT_EQ(changed.count(), 5);
    hook.reset();
}

// The preview button needs an existing file; with nothing playing, a missing one only asks.
TEST(RtpInfoBellWidget, PreviewWithoutAFileAsks)
{
    TempAppDir app;
    RtpInfoBellWidget tab;
    GuiTestHook& hook = GuiTest::hook();
    for (const QString& path : {QString(), app.filePath(QStringLiteral("missing.mp3")), app.path()}) {
        hook.reset();
        tab.setBell(path, 0, 0, 0);
        press(tab.previewButton());
        ASSERT_EQ(hook.boxes().size(), 1) << path.toStdString();
        EXPECT_EQ(hook.boxes().first().text, "Please select bell file");
        EXPECT_EQ(hook.boxes().first().yesCaption, "OK");
        EXPECT_EQ(hook.boxes().first().noCaption, "Cancel");
        EXPECT_FALSE(tab.isPreviewPlaying());
        EXPECT_FALSE(tab.previewButton()->isChecked());
    }
    hook.reset();
}

// The preview plays on the PC's output (here a private null sink): a path with "#" and "%" is
// heard; the same row's play cell stops it, another row's switches to that file; the marks follow
// the player, and the end of the file clears them.
TEST(RtpInfoBellWidget, PreviewIsHeardAndMarksFollowIt)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg", "parec");
    TestPulseServer pulse;
    TEST_START_PULSE(pulse);
    BellFolder folder;
    const QString odd = QStringLiteral("bell #1 100% loud.mp3");
    ASSERT_TRUE(folder.addTone(odd, 8.0, 660));
    ASSERT_TRUE(folder.addTone(QStringLiteral("short.mp3"), 1.0, 440));
    ASSERT_TRUE(pulse.startRecording());

    RtpInfoBellWidget tab;
    tab.resize(560, 360);
    tab.show();
    ASSERT_EQ(tab.table()->rowCount(), 2);
    const int oddRow = 0;   // "b..." sorts before "s..."
    const int shortRow = 1;
    ASSERT_EQ(playCell(tab, oddRow)->bell(), folder.path(odd));

    press(playCell(tab, oddRow));
    EXPECT_TRUE(tab.isPreviewPlaying());
    EXPECT_EQ(tab.previewedBell(), folder.path(odd));
    EXPECT_EQ(playMarks(tab), (QList<bool>{true, false}));
    EXPECT_FALSE(tab.previewButton()->isChecked()) << "the file edit names another file";
    EXPECT_TRUE(GuiTest::waitFor(
        [&] { return TestAudio::rms(TestAudio::trimSilence(pulse.recorded())) > 0.02; }, 15000))
        << "nothing reached the output";
    GuiTest::grabToPng(&tab, QStringLiteral("bell_tab_previewing"));

    // The same cell again stops it.
    press(playCell(tab, oddRow));
    EXPECT_FALSE(tab.isPreviewPlaying());
    EXPECT_EQ(playMarks(tab), (QList<bool>{false, false}));

    // Another cell while one plays switches.
    press(playCell(tab, oddRow));
    ASSERT_TRUE(tab.isPreviewPlaying());
    press(playCell(tab, shortRow));
    EXPECT_TRUE(tab.isPreviewPlaying());
    EXPECT_EQ(tab.previewedBell(), folder.path("short.mp3"));
    EXPECT_EQ(playMarks(tab), (QList<bool>{false, true}));

    // The 1-s file plays out: the marks go.
    EXPECT_TRUE(GuiTest::waitFor([&] { return !tab.isPreviewPlaying(); }, 15000));
    EXPECT_EQ(playMarks(tab), (QList<bool>{false, false}));

    // The preview button plays the file edit's bell and checks itself and that row.
    tab.setBell(folder.path(odd), 0, 0, 0);
    press(tab.previewButton());
    EXPECT_TRUE(tab.isPreviewPlaying());
    EXPECT_TRUE(tab.previewButton()->isChecked());
    EXPECT_EQ(playMarks(tab), (QList<bool>{true, false}));
    // A click while it plays, with the edit naming a file that is gone, stops it and asks nothing.
    GuiTest::hook().reset();
    tab.setBell(folder.path("gone.mp3"), 0, 0, 0);
    press(tab.previewButton());
    EXPECT_FALSE(tab.isPreviewPlaying());
    EXPECT_FALSE(tab.previewButton()->isChecked());
    EXPECT_TRUE(GuiTest::hook().boxes().isEmpty());

    // Closing the editor while a preview plays stops it.
    auto other = std::make_unique<RtpInfoBellWidget>();
    press(playCell(*other, oddRow));
    EXPECT_TRUE(other->isPreviewPlaying());
    other.reset();
    pulse.stopRecording();
}
