#include "RtpInfoListWidget.h"

#include "GuiTest.h"
#include "RDButton.h"
#include "RDLabel.h"
#include "RDPixmapCache.h"
#include "RtpInfoItemWidget.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

RtpInfo channel(int id, const char* name, int startedSource = 0, int startedType = 0)
{
    RtpInfo info;
    info.id = id;
    info.name = QString::fromLatin1(name);
    info.address = QStringLiteral("239.255.0.%1:8000").arg(id);
    info.startedSource = startedSource;
    info.startedType = startedType;
    return info;
}

bool sameImage(const QPixmap& shown, const char* path)
{
    if (!path || !*path)
        return shown.isNull();
    return !shown.isNull() && shown.toImage() == cachedPixmap(QString::fromLatin1(path), 16).toImage();
}

class RtpInfoListWidgetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        list.resize(185, 400);
        list.show();
    }

    // The ids of the rows, and the index of the marked one (-1 when none).
    QVector<int> ids() const
    {
        QVector<int> out;
        for (int i = 0; i < list.rowCount(); ++i)
            out.append(list.itemWidget(i)->rtpInfo().id);
        return out;
    }
    int marked() const
    {
        int found = -1;
        for (int i = 0; i < list.rowCount(); ++i) {
            if (list.itemWidget(i)->isSelected()) {
                EXPECT_EQ(found, -1) << "two rows marked";
                found = i;
            }
        }
        return found;
    }
    // Opens the context menu at a row (-1: below the rows) and returns its action texts.
    QStringList openMenu(int row)
    {
        QListWidget* view = list.listWidget();
        const QPoint at = row >= 0 ? view->visualItemRect(view->item(row)).center()
                                   : QPoint(10, view->height() - 5);
        list.onListWidgetContextMenu(at);
        QStringList texts;
        if (!list.menu())
            return texts;
        for (QAction* action : list.menu()->actions())
            texts.append(action->isSeparator() ? QStringLiteral("|") : action->text());
        return texts;
    }
    QAction* menuAction(const QString& text) const
    {
        for (QAction* action : list.menu()->actions()) {
            if (action->text() == text)
                return action;
        }
        return nullptr;
    }

    RtpInfoListWidget list;
};

} // namespace

// Icons by what started the channel and what it sends; none and the play pixmap when stopped.
TEST_F(RtpInfoListWidgetTest, RowIconsByTriggerAndSource)
{
    const struct
    {
        int source;
        int trigger;
        const char* triggerIcon;
        const char* sourceIcon;
    } rows[] = {
        {0, 3, "", ""},
        {1, 3, ":/clock.png", ":/media_gray.png"},
        {1, 1, "", ":/media_gray.png"},
        {1, 5, "", ":/media_gray.png"},
        {2, 2, ":/http.png", ":/microphone_gray.png"},
        {4, 4, ":/sip.png", ":/speak_gray.png"},
        {6, 3, ":/clock.png", ":/microphone_gray.png"},
        {16, 2, ":/http.png", ":/stream_gray.png"},
        {32, 3, ":/clock.png", ":/alarm_gray.png"},
        {64, 1, ":/sip.png", ""},
        {64 | 1, 3, ":/sip.png", ""},
        {128, 1, "", ""},
        {128, 2, ":/http.png", ""},
    };
    RtpInfoItemWidget row;
    row.resize(180, 30);
    for (const auto& r : rows) {
        row.setRtpInfo(channel(1, "Hall", r.source, r.trigger));
        EXPECT_EQ(row.playButton()->isChecked(), r.source != 0) << r.source;
        EXPECT_TRUE(sameImage(row.triggerIcon()->currentPixmap(), r.triggerIcon)) << r.source << "/" << r.trigger;
        EXPECT_TRUE(sameImage(row.sourceIcon()->currentPixmap(), r.sourceIcon)) << r.source << "/" << r.trigger;
    }
    row.setRtpInfo(channel(1, "Hall"));
    EXPECT_EQ(row.playButton()->currentPixmap().toImage(), cachedPixmap(QStringLiteral(":/play_style.png"), 20).toImage());
    row.setRtpInfo(channel(1, "Hall", 1, 3));
    EXPECT_EQ(row.playButton()->currentPixmap().toImage(), cachedPixmap(QStringLiteral(":/pause_style.png"), 20).toImage());
}

TEST_F(RtpInfoListWidgetTest, NameOrAddress)
{
    list.setRtpInfos({channel(1, "Hall"), channel(2, "")});
    EXPECT_EQ(list.itemWidget(0)->nameLabel()->text(), "Hall");
    EXPECT_EQ(list.itemWidget(1)->nameLabel()->text(), "239.255.0.2:8000");
    EXPECT_EQ(list.itemWidget(0)->nameLabel()->font().pixelSize(), 13);
    EXPECT_EQ(list.listWidget()->item(0)->sizeHint(), QSize(0, 30));
}

// The play button asks for a start or a stop by the row's state; a row never stored asks
// nothing, and so does a click on it.
TEST_F(RtpInfoListWidgetTest, PlayButtonByState)
{
    list.setRtpInfos({channel(1, "A"), channel(2, "B", 16, 2), channel(0, "C")});
    QSignalSpy starts(&list, &RtpInfoListWidget::requestStartRtpInfo);
    QSignalSpy stops(&list, &RtpInfoListWidget::requestStopRtpInfo);
    QSignalSpy clicks(&list, &RtpInfoListWidget::clickRtpInfo);
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(list.itemWidget(i)->playButton(), Qt::LeftButton);
    ASSERT_EQ(starts.count(), 1);
    ASSERT_EQ(stops.count(), 1);
    EXPECT_EQ(starts.at(0).at(0).value<RtpInfo>().id, 1);
    EXPECT_EQ(stops.at(0).at(0).value<RtpInfo>().id, 2);
    // The press on a play button also reaches the row under it (which the dialog selects).
    clicks.clear();
    for (int i = 0; i < 3; ++i)
        list.onItemClicked(list.listWidget()->item(i));
    ASSERT_EQ(clicks.count(), 2);
    EXPECT_EQ(clicks.at(1).at(0).value<RtpInfo>().id, 2);
    EXPECT_EQ(marked(), 0) << "the list does not move the mark itself";
}

TEST_F(RtpInfoListWidgetTest, TitleButtons)
{
    QSignalSpy adds(&list, &RtpInfoListWidget::requestAddRtpInfo);
    QSignalSpy saves(&list, &RtpInfoListWidget::requestSaveRtpInfo);
    QTest::mouseClick(list.addButton(), Qt::LeftButton);
    QTest::mouseClick(list.saveButton(), Qt::LeftButton);
    EXPECT_EQ(adds.count(), 1);
    ASSERT_EQ(saves.count(), 1);
    EXPECT_EQ(saves.at(0), (QList<QVariant>{true, false, true}));
    EXPECT_EQ(list.addButton()->geometry(), QRect(185 - 30, 5, 25, 25));
    EXPECT_EQ(list.saveButton()->geometry(), QRect(185 - 60, 5, 25, 25));
    EXPECT_EQ(list.listWidget()->geometry(), QRect(1, 35, 183, 360));
}

// The mark stays with its channel over a rebuild, moves to the first row when that channel is
// gone, and nothing is marked in an empty list.
TEST_F(RtpInfoListWidgetTest, MarkAfterRebuild)
{
    list.setRtpInfos({channel(1, "A"), channel(2, "B"), channel(3, "C")});
    EXPECT_EQ(marked(), 0);
    list.selectRtpInfo(channel(3, "C"));
    EXPECT_EQ(marked(), 2);
    RtpInfo out;
    ASSERT_EQ(list.selectedRtpInfo(out), 0);
    EXPECT_EQ(out.id, 3);
    list.setRtpInfos({channel(3, "C"), channel(1, "A"), channel(2, "B")});
    EXPECT_EQ(marked(), 0);
    EXPECT_EQ(ids(), (QVector<int>{3, 1, 2}));
    list.selectRtpInfo(channel(2, "B"));
    list.setRtpInfos({channel(1, "A"), channel(3, "C")});
    EXPECT_EQ(marked(), 0);
    list.setRtpInfos({});
    EXPECT_EQ(marked(), -1);
    out = channel(7, "untouched");
    EXPECT_EQ(list.selectedRtpInfo(out), -1);
    EXPECT_EQ(out.id, 7);
    // A record never stored is never marked by selectRtpInfo.
    list.setRtpInfos({channel(0, "new"), channel(4, "D")});
    list.selectRtpInfo(channel(0, "new"));
    EXPECT_EQ(marked(), -1);
    EXPECT_EQ(list.itemWidget(1)->background.fillColor, RtpInfoItemWidget::kClearColor);
    list.selectRtpInfo(channel(4, "D"));
    EXPECT_EQ(list.itemWidget(1)->background.fillColor, RtpInfoItemWidget::kSelectedColor);
}

TEST_F(RtpInfoListWidgetTest, ContextMenuEntries)
{
    list.setRtpInfos({channel(1, "A"), channel(2, "B", 1, 3), channel(0, "never stored")});
    EXPECT_EQ(openMenu(0), QStringList({"Start", "|", "Top", "|", "Delete"}));
    EXPECT_EQ(openMenu(1), QStringList({"Stop", "|", "Top", "|", "Delete"}));
    EXPECT_EQ(openMenu(2), QStringList({"Add"}));
    EXPECT_EQ(openMenu(-1), QStringList({"Add"}));
    EXPECT_TRUE(list.menu()->isVisible());
    QSignalSpy adds(&list, &RtpInfoListWidget::requestAddRtpInfo);
    menuAction(QStringLiteral("Add"))->trigger();
    EXPECT_EQ(adds.count(), 1);
    // One menu at a time.
    EXPECT_EQ(list.listWidget()->findChildren<QMenu*>().size(), 1);
}

// An action acts on the channel its menu was opened for, also after the list was rebuilt in
// another order meanwhile, and on nothing once that channel is gone.
TEST_F(RtpInfoListWidgetTest, MenuActionsFollowTheChannel)
{
    list.setRtpInfos({channel(1, "A"), channel(2, "B"), channel(3, "C")});
    QSignalSpy deletes(&list, &RtpInfoListWidget::requestDeleteRtpInfo);
    QSignalSpy tops(&list, &RtpInfoListWidget::requestTopRtpInfo);
    QSignalSpy starts(&list, &RtpInfoListWidget::requestStartRtpInfo);
    QSignalSpy stops(&list, &RtpInfoListWidget::requestStopRtpInfo);

    openMenu(1);
    list.setRtpInfos({channel(3, "C"), channel(1, "A"), channel(2, "B", 6, 1)});
    menuAction(QStringLiteral("Delete"))->trigger();
    ASSERT_EQ(deletes.count(), 1);
    EXPECT_EQ(deletes.at(0).at(0).value<RtpInfo>().id, 2);
    // Start was offered; the channel runs now: the action stops it.
    menuAction(QStringLiteral("Start"))->trigger();
    EXPECT_EQ(starts.count(), 0);
    ASSERT_EQ(stops.count(), 1);
    EXPECT_EQ(stops.at(0).at(0).value<RtpInfo>().id, 2);

    openMenu(2);
    list.setRtpInfos({channel(1, "A"), channel(3, "C")});
    menuAction(QStringLiteral("Delete"))->trigger();
    menuAction(QStringLiteral("Top"))->trigger();
    EXPECT_EQ(deletes.count(), 1) << "the channel has gone: nothing";
    EXPECT_EQ(tops.count(), 0);

    openMenu(1);
    menuAction(QStringLiteral("Top"))->trigger();
    ASSERT_EQ(tops.count(), 1);
    EXPECT_EQ(tops.at(0).at(0).value<RtpInfo>().id, 3);
}

TEST_F(RtpInfoListWidgetTest, Picture)
{
    list.titleLabel()->setText(QStringLiteral("All Zones"));
    list.setRtpInfos({channel(1, "Lobby", 1, 3), channel(2, "", 0), channel(3, "Car park bells", 32, 2),
                      channel(4, "Front desk phone", 64, 4)});
    list.selectRtpInfo(channel(3, ""));
    EXPECT_FALSE(GuiTest::grabToPng(&list, QStringLiteral("RtpInfoListWidget")).isEmpty());
}
