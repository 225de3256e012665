#include "RtpInfoPlaylistWidget.h"

#include "GuiTest.h"
#include "GuiTestHook.h"
#include "PlaylistItemWidget.h"
#include "RDLabel.h"
#include "RDSlider.h"
#include "RDThread.h"
#include "TestCommandStub.h"
#include "TestFileManager.h"
#include "TestSessionBus.h"
#include "TestSupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Audio files made once for the build: every test runs in a process of its own, and ffmpeg takes
// a while on a loaded machine. Each file is written under a temporary name and renamed, so
// processes that run at the same time never see half a file.
struct Fixtures
{
    QString dir;
    QString minute;    // 65 s MP3
    QString shortWav;  // 3 s WAV
    QString odd;       // in a folder whose name has blanks and quotes
    QString accented;  // beside it, with blanks and non-ASCII letters in its own name
    QString oddFolder;
    QString missing;
    bool made = false;
};

bool makeOnce(const QString& path, double seconds, const QStringList& arguments)
{
    if (QFile::exists(path))
        return true;
    const QFileInfo info(path);
    const QString temporary = info.dir().filePath(QStringLiteral("making-%1-%2.%3")
                                                      .arg(QCoreApplication::applicationPid())
                                                      .arg(info.completeBaseName(), info.suffix()));
    if (!TestSupport::makeTone(temporary, 440, seconds, arguments))
        return false;
    if (QFile::rename(temporary, path))
        return true;
    // Another process made it meanwhile.
    QFile::remove(temporary);
    return QFile::exists(path);
}

Fixtures& fixtures()
{
    static Fixtures f;
    if (!f.made && TestSupport::haveCommand(QStringLiteral("ffmpeg"))) {
        f.dir = TestSupport::binaryDir() + QStringLiteral("/test-media/playlist");
        f.minute = f.dir + QStringLiteral("/minute.mp3");
        f.shortWav = f.dir + QStringLiteral("/short.wav");
        f.oddFolder = f.dir + QStringLiteral("/my \"best\" 'songs' $(x)");
        QDir().mkpath(f.oddFolder);
        f.odd = f.oddFolder + QStringLiteral("/a b.flac");
        f.accented = f.oddFolder + QStringLiteral("/\u00e9t\u00e9 \u00fcber #1.flac");
        f.missing = f.dir + QStringLiteral("/gone.mp3");
        const QStringList small = {QStringLiteral("-ar"), QStringLiteral("8000"), QStringLiteral("-ac"),
                                   QStringLiteral("1")};
        f.made = makeOnce(f.minute, 65, small + QStringList{QStringLiteral("-b:a"), QStringLiteral("8k")}) &&
                 makeOnce(f.shortWav, 3, small) && makeOnce(f.odd, 1, small) && makeOnce(f.accented, 1, small);
    }
    return f;
}

QStringList texts(const RtpInfoPlaylistWidget& widget, int row)
{
    const PlaylistItemWidget* item = widget.rowWidget(row);
    return {item->nameLabel()->text(), item->durationLabel()->text()};
}

QStringList menuTexts(const QMenu* menu)
{
    QStringList out;
    for (const QAction* action : menu->actions()) {
        if (!action->isSeparator())
            out << action->text();
    }
    return out;
}

QAction* menuAction(const QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

QPoint rowCentre(const RtpInfoPlaylistWidget& widget, int row)
{
    return widget.listWidget()->visualItemRect(widget.listWidget()->item(row)).center();
}

// A double click as the mouse makes it: press, release, then the second press as a double click.
void doubleClick(QWidget* viewport, const QPoint& pos)
{
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, pos);
    QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, pos);
}

void openMenu(RtpInfoPlaylistWidget& widget, const QPoint& pos)
{
    emit widget.listWidget()->customContextMenuRequested(pos);
}

void sendMouse(QWidget* widget, QEvent::Type type, const QPoint& pos, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

class RtpInfoPlaylistWidgetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SONARIS_REQUIRE_COMMANDS("ffmpeg");
        ASSERT_TRUE(fixtures().made);
        GuiTest::hook().reset();
        m_widget = std::make_unique<RtpInfoPlaylistWidget>();
        m_widget->resize(600, 300);
        m_widget->show();
    }
    void TearDown() override
    {
        m_widget.reset();
        GuiTest::hook().reset();
    }

    // Waits until every existing file's row shows a time.
    bool waitForDurations()
    {
        return GuiTest::waitFor([this] {
            for (int row = 0; row < m_widget->fileRowCount(); ++row) {
                if (m_widget->rowWidget(row)->durationLabel()->text().isEmpty())
                    return false;
            }
            return true;
        });
    }

    std::unique_ptr<RtpInfoPlaylistWidget> m_widget;
};

} // namespace

TEST(RtpInfoPlaylistWidgetTime, FormatTable)
{
    const struct
    {
        double seconds;
        const char* text;
    } cases[] = {{65, "01:05"}, {6000, "100:00"}, {-1, "--:--"}, {0, "00:00"}, {59.99, "00:59"}, {3599, "59:59"}};
    for (const auto& c : cases)
        EXPECT_EQ(RtpInfoPlaylistWidget::formatTime(c.seconds), c.text) << c.seconds;
}

// Times come from the files; a missing file keeps its greyed row, and the playlist keeps it.
TEST_F(RtpInfoPlaylistWidgetTest, RowsWithDurationsAndAMissingFile)
{
    const Fixtures& f = fixtures();
    const QVector<QString> paths = {f.minute, f.missing, f.shortWav};
    m_widget->setPlaylist(paths, -1, 0, 0, 0);
    ASSERT_EQ(m_widget->fileRowCount(), 3);
    EXPECT_EQ(m_widget->listWidget()->count(), 4);
    EXPECT_EQ(m_widget->header()->nameLabel()->text(), "File Name");
    EXPECT_EQ(m_widget->header()->durationLabel()->text(), "Duration");
    ASSERT_TRUE(waitForDurations());
    EXPECT_EQ(texts(*m_widget, 0), QStringList({"minute.mp3", "01:05"}));
    EXPECT_EQ(texts(*m_widget, 1), QStringList({"gone.mp3", "--:--"}));
    EXPECT_EQ(texts(*m_widget, 2), QStringList({"short.wav", "00:03"}));
    EXPECT_TRUE(m_widget->rowWidget(1)->isMissing());
    EXPECT_EQ(m_widget->rowWidget(1)->nameLabel()->textColor(), QColor(102, 102, 102));
    EXPECT_EQ(m_widget->rowWidget(0)->nameLabel()->textColor(), QColor(0, 0, 0));
    EXPECT_EQ(m_widget->playlist(), paths);
    // Nothing plays: no position, no timer.
    EXPECT_FALSE(m_widget->positionLabel()->isVisible());
    EXPECT_FALSE(m_widget->slider()->isVisible());
    EXPECT_FALSE(m_widget->timer().isActive());
    GuiTest::grabToPng(m_widget.get(), QStringLiteral("playlist_missing_file"));

    // Only missing files: every row kept.
    m_widget->setPlaylist({f.missing, f.missing}, -1, 0, 0, 0);
    EXPECT_EQ(m_widget->fileRowCount(), 2);
    EXPECT_EQ(m_widget->playlist(), QVector<QString>({f.missing, f.missing}));
    m_widget->setPlaylist({}, -1, 0, 0, 0);
    EXPECT_EQ(m_widget->listWidget()->count(), 1);
    EXPECT_TRUE(m_widget->playlist().isEmpty());
}

// The playing index counts the missing file before it; a double click gives the same index.
TEST_F(RtpInfoPlaylistWidgetTest, PlayingRowAndDoubleClickCountEveryEntry)
{
    const Fixtures& f = fixtures();
    m_widget->setPlaylist({f.missing, f.minute, f.shortWav}, 2, 10.0, 65.0, RDThread::tickTime());
    ASSERT_TRUE(waitForDurations());
    EXPECT_FALSE(m_widget->rowWidget(1)->isPlaying());
    EXPECT_TRUE(m_widget->rowWidget(2)->isPlaying());
    EXPECT_EQ(m_widget->rowWidget(2)->nameLabel()->textColor(), QColor(255, 0, 0));
    EXPECT_EQ(m_widget->rowWidget(2)->durationLabel()->textColor(), QColor(255, 0, 0));
    EXPECT_EQ(m_widget->positionLabel()->text(), "00:10/01:05");
    EXPECT_EQ(m_widget->slider()->value(), 15);
    EXPECT_TRUE(m_widget->positionLabel()->isVisible());
    EXPECT_TRUE(m_widget->timer().isActive());
    EXPECT_EQ(m_widget->timer().interval(), 1000);
    GuiTest::grabToPng(m_widget.get(), QStringLiteral("playlist_playing"));

    QSignalSpy change(m_widget.get(), &RtpInfoPlaylistWidget::requestChangeFile);
    QWidget* viewport = m_widget->listWidget()->viewport();
    // A double click switches the file also while the channel runs.
    m_widget->setRunning(1);
    doubleClick(viewport, rowCentre(*m_widget, 2));
    ASSERT_EQ(change.count(), 1);
    EXPECT_EQ(change.first().at(0).toInt(), 2);
    // The add row is no file.
    doubleClick(viewport, rowCentre(*m_widget, 3));
    EXPECT_EQ(change.count(), 1);
}

TEST_F(RtpInfoPlaylistWidgetTest, PositionFollowsTheClock)
{
    const Fixtures& f = fixtures();
    // Taken 100 s ago at 10 s: now at 110 s and a little more on a slow machine.
    m_widget->setPlaylist({f.minute}, 0, 10.0, 600.0, RDThread::tickTime() - 100.0);
    m_widget->invokePlaying();
    const QStringList parts = m_widget->positionLabel()->text().split('/');
    ASSERT_EQ(parts.size(), 2);
    EXPECT_EQ(parts[1], "10:00");
    const QStringList minSec = parts[0].split(':');
    ASSERT_EQ(minSec.size(), 2);
    const int seconds = minSec[0].toInt() * 60 + minSec[1].toInt();
    EXPECT_GE(seconds, 110);
    EXPECT_LE(seconds, 140);
    EXPECT_EQ(m_widget->slider()->value(), seconds * 100 / 600);
    // Never past the end.
    m_widget->setPlaylist({f.minute}, 0, 10.0, 12.0, RDThread::tickTime() - 30.0);
    m_widget->invokePlaying();
    EXPECT_EQ(m_widget->positionLabel()->text(), "00:12/00:12");
    EXPECT_EQ(m_widget->slider()->value(), 100);
    // A length of 0 keeps the slider at the start.
    m_widget->setPlaylist({f.minute}, 0, 0.0, 0.0, RDThread::tickTime());
    EXPECT_EQ(m_widget->positionLabel()->text(), "00:00/00:00");
    EXPECT_EQ(m_widget->slider()->value(), 0);
    // Back to idle.
    m_widget->setPlaylist({f.minute}, -1, 0.0, 0.0, 0.0);
    EXPECT_FALSE(m_widget->timer().isActive());
    EXPECT_FALSE(m_widget->slider()->isVisible());
}

// While the thumb is dragged only the label follows; one seek goes out on the release.
TEST_F(RtpInfoPlaylistWidgetTest, SeekOnlyOnRelease)
{
    const Fixtures& f = fixtures();
    m_widget->setPlaylist({f.missing, f.minute}, 1, 0.0, 100.0, RDThread::tickTime());
    QSignalSpy seek(m_widget.get(), &RtpInfoPlaylistWidget::requestSeekFile);
    RDSlider* slider = m_widget->slider();
    const int y = slider->height() / 2;
    auto xFor = [slider](int value) {
        const int tw = 12;
        return tw / 2 + (slider->width() - tw) * value / 100;
    };
    sendMouse(slider, QEvent::MouseButtonPress, QPoint(xFor(0), y), Qt::LeftButton, Qt::LeftButton);
    QString last;
    for (const int value : {20, 40, 60}) {
        sendMouse(slider, QEvent::MouseMove, QPoint(xFor(value), y), Qt::NoButton, Qt::LeftButton);
        EXPECT_NE(m_widget->positionLabel()->text(), last);
        last = m_widget->positionLabel()->text();
        // While pressed the clock does not move the thumb away from the pointer.
        m_widget->invokePlaying();
        EXPECT_EQ(m_widget->positionLabel()->text(), last);
    }
    EXPECT_EQ(seek.count(), 0);
    sendMouse(slider, QEvent::MouseButtonRelease, QPoint(xFor(60), y), Qt::LeftButton, Qt::NoButton);
    ASSERT_EQ(seek.count(), 1);
    EXPECT_EQ(seek.first().at(0).toInt(), 1);
    EXPECT_NEAR(seek.first().at(1).toDouble(), slider->value() / 100.0, 1e-9);
    EXPECT_NEAR(seek.first().at(1).toDouble(), 0.6, 0.021);
    EXPECT_EQ(m_widget->positionLabel()->text(),
              QStringLiteral("%1/01:40").arg(RtpInfoPlaylistWidget::formatTime(slider->value())));
}

TEST_F(RtpInfoPlaylistWidgetTest, MenuOffersWhatTheRowAllows)
{
    const Fixtures& f = fixtures();
    m_widget->setPlaylist({f.minute, f.shortWav}, -1, 0, 0, 0);
    openMenu(*m_widget, rowCentre(*m_widget, 1));
    ASSERT_NE(m_widget->menu(), nullptr);
    EXPECT_EQ(menuTexts(m_widget->menu()), QStringList({"Open In Explorer", "Top", "Delete", "Add"}));
    EXPECT_TRUE(m_widget->menu()->isVisible());
    GuiTest::grabToPng(m_widget->menu(), QStringLiteral("playlist_menu"));

    // The add row and the space below the rows: only "Add"; the old menu is gone.
    QPointer<QMenu> first = m_widget->menu();
    openMenu(*m_widget, rowCentre(*m_widget, 2));
    EXPECT_FALSE(first && first->isVisible());
    EXPECT_EQ(menuTexts(m_widget->menu()), QStringList({"Add"}));
    openMenu(*m_widget, QPoint(10, m_widget->listWidget()->viewport()->height() - 3));
    EXPECT_EQ(menuTexts(m_widget->menu()), QStringList({"Add"}));

    // While the channel runs: no menu at all.
    m_widget->setPlaylist({f.minute, f.shortWav}, -1, 0, 0, 0);
    m_widget->setRunning(16);
    openMenu(*m_widget, rowCentre(*m_widget, 0));
    EXPECT_EQ(m_widget->menu(), nullptr);
}

// Top and Delete act on the row the menu was opened on, and on nothing once the rows changed.
TEST_F(RtpInfoPlaylistWidgetTest, TopAndDeleteOnTheRememberedRow)
{
    const Fixtures& f = fixtures();
    m_widget->setPlaylist({f.minute, f.missing, f.shortWav}, -1, 0, 0, 0);
    QSignalSpy changed(m_widget.get(), &RtpInfoPlaylistWidget::playlistChanged);

    openMenu(*m_widget, rowCentre(*m_widget, 2));
    menuAction(m_widget->menu(), "Top")->trigger();
    EXPECT_EQ(m_widget->playlist(), QVector<QString>({f.shortWav, f.minute, f.missing}));
    EXPECT_EQ(changed.count(), 1);
    ASSERT_TRUE(waitForDurations());
    EXPECT_EQ(texts(*m_widget, 0), QStringList({"short.wav", "00:03"}));

    openMenu(*m_widget, rowCentre(*m_widget, 2));
    menuAction(m_widget->menu(), "Delete")->trigger();
    EXPECT_EQ(m_widget->playlist(), QVector<QString>({f.shortWav, f.minute}));
    EXPECT_EQ(changed.count(), 2);
    GuiTest::grabToPng(m_widget.get(), QStringLiteral("playlist_after_top_and_delete"));

    // A menu opened before the list was rebuilt (the channel changed meanwhile) does nothing.
    openMenu(*m_widget, rowCentre(*m_widget, 0));
    QPointer<QAction> staleDelete = menuAction(m_widget->menu(), "Delete");
    QPointer<QAction> staleTop = menuAction(m_widget->menu(), "Top");
    m_widget->setPlaylist({f.minute, f.shortWav, f.missing}, -1, 0, 0, 0);
    ASSERT_TRUE(staleDelete && staleTop);
    staleDelete->trigger();
    staleTop->trigger();
    EXPECT_EQ(m_widget->playlist(), QVector<QString>({f.minute, f.shortWav, f.missing}));
    EXPECT_EQ(changed.count(), 2);

    // So does one whose row was deleted under it by another menu's action.
    openMenu(*m_widget, rowCentre(*m_widget, 2));
    QPointer<QAction> lastRow = menuAction(m_widget->menu(), "Delete");
    openMenu(*m_widget, rowCentre(*m_widget, 0));
    menuAction(m_widget->menu(), "Delete")->trigger();
    if (lastRow)
        lastRow->trigger();
    EXPECT_EQ(m_widget->playlist(), QVector<QString>({f.shortWav, f.missing}));
    EXPECT_EQ(changed.count(), 3);
}

TEST_F(RtpInfoPlaylistWidgetTest, AddAppendsAndIsRefusedWhileRunning)
{
    const Fixtures& f = fixtures();
    m_widget->setPlaylist({f.minute}, -1, 0, 0, 0);
    QSignalSpy changed(m_widget.get(), &RtpInfoPlaylistWidget::playlistChanged);
    QWidget* viewport = m_widget->listWidget()->viewport();

    m_widget->setRunning(1);
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, rowCentre(*m_widget, 1));
    EXPECT_EQ(GuiTest::hook().boxTexts(), QStringList({"Please stop rtp"}));
    EXPECT_TRUE(GuiTest::hook().fileAsks().isEmpty());
    EXPECT_EQ(changed.count(), 0);

    // Files already listed are added again; a click on a file row asks nothing.
    m_widget->setRunning(0);
    GuiTest::hook().reset();
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, rowCentre(*m_widget, 0));
    EXPECT_TRUE(GuiTest::hook().fileAsks().isEmpty());
    GuiTest::hook().answerFiles({f.minute, f.shortWav});
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, rowCentre(*m_widget, 1));
    ASSERT_EQ(GuiTest::hook().fileAsks().size(), 1);
    EXPECT_EQ(GuiTest::hook().fileAsks().first().mode, QFileDialog::ExistingFiles);
    EXPECT_EQ(GuiTest::hook().fileAsks().first().nameFilter, "*.mp3;*.wav;*.flac");
    EXPECT_EQ(m_widget->playlist(), QVector<QString>({f.minute, f.minute, f.shortWav}));
    EXPECT_EQ(changed.count(), 1);

    // Cancelled: nothing changes. The menu's Add asks the same.
    openMenu(*m_widget, rowCentre(*m_widget, 0));
    menuAction(m_widget->menu(), "Add")->trigger();
    EXPECT_EQ(GuiTest::hook().fileAsks().size(), 2);
    EXPECT_EQ(m_widget->playlist().size(), 3);
    EXPECT_EQ(changed.count(), 1);
}

// The file manager is asked, over the session bus, to show the very file selected.
TEST_F(RtpInfoPlaylistWidgetTest, RevealShowsTheFileInTheFileManager)
{
    const Fixtures& f = fixtures();
    TestSessionBus bus;
    TEST_START_SESSION_BUS(bus);
    TestFileManager manager;
    ASSERT_TRUE(manager.start(bus.address())) << manager.error().toStdString();
    const TestCommandStub xdgOpen(QStringLiteral("xdg-open"));
    ASSERT_TRUE(xdgOpen.isValid());

    m_widget->setPlaylist({f.minute, f.accented}, -1, 0, 0, 0);
    openMenu(*m_widget, rowCentre(*m_widget, 1));
    menuAction(m_widget->menu(), "Open In Explorer")->trigger();
    const bool called = manager.waitForCalls(1, 20000);
    // The reveal's worker reads the bus and PATH: it ends before they are put back.
    QThreadPool::globalInstance()->waitForDone(90000);
    ASSERT_TRUE(called);
    ASSERT_EQ(manager.calls().size(), 1);
    const QStringList uris = manager.calls()[0].uris;
    ASSERT_EQ(uris.size(), 1);
    EXPECT_TRUE(uris[0].startsWith(QStringLiteral("file:///"))) << uris[0].toStdString();
    EXPECT_TRUE(uris[0].endsWith(QStringLiteral("/%C3%A9t%C3%A9%20%C3%BCber%20%231.flac"))) << uris[0].toStdString();
    EXPECT_EQ(QUrl(uris[0], QUrl::StrictMode).toLocalFile(), f.accented);
    EXPECT_TRUE(xdgOpen.runs().isEmpty());
}

// Without a file manager the file browser gets the file's folder as one argument, whatever its
// name holds.
TEST_F(RtpInfoPlaylistWidgetTest, RevealWithoutAFileManagerOpensTheFolder)
{
    const Fixtures& f = fixtures();
    const TestSessionBus noBus;
    const TestCommandStub xdgOpen(QStringLiteral("xdg-open"));
    ASSERT_TRUE(xdgOpen.isValid());

    m_widget->setPlaylist({f.minute, f.odd}, -1, 0, 0, 0);
    openMenu(*m_widget, rowCentre(*m_widget, 1));
    menuAction(m_widget->menu(), "Open In Explorer")->trigger();
    const bool ran = xdgOpen.waitForRuns(1, 20000);
    QThreadPool::globalInstance()->waitForDone(90000);
    ASSERT_TRUE(ran);
    EXPECT_EQ(xdgOpen.runs(), QList<QStringList>{{f.oddFolder}});
}
