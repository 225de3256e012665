#include "RDLabel.h"
#include "RDPagingIndicateView.h"
#include "RDPagingInfoView.h"
#include "RDPagingItemView.h"

#include "GuiTest.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QStringList labels(const RDPagingIndicateView& view)
{
    QStringList texts;
    for (RDPagingItemView* item : view.items())
        texts << item->text();
    return texts;
}

int selectedIndex(const RDPagingIndicateView& view)
{
    for (size_t i = 0; i < view.items().size(); ++i)
        if (view.items()[i]->isSelected())
            return static_cast<int>(i);
    return -1;
}

QStringList range(int first, int last)
{
    QStringList texts;
    for (int i = first; i <= last; ++i)
        texts << QString::number(i);
    return texts;
}

} // namespace

TEST(RDPagingIndicateView, PageCountTable)
{
    const struct {
        int items;
        int pageSize;
        int pages;
        size_t buttons;
        bool strip;
    } cases[] = {
        {120, 50, 3, 3, true}, {100, 50, 2, 2, true}, {0, 50, 0, 0, false},
        {1, 50, 1, 1, false},  {10, 0, 0, 0, false},  {1000, 50, 20, 11, true},
    };
    RDPagingIndicateView view;
    view.resize(800, 40);
    view.show();
    for (const auto& c : cases) {
        view.setTotal(c.items, c.pageSize);
        EXPECT_EQ(view.pageCount(), c.pages) << c.items << "/" << c.pageSize;
        EXPECT_EQ(view.items().size(), c.buttons) << c.items << "/" << c.pageSize;
        EXPECT_EQ(view.infoView()->isVisible(), c.strip) << c.items << "/" << c.pageSize;
    }
    view.setTotal(1, 50);
    EXPECT_EQ(labels(view), QStringList({"1"}));
    EXPECT_TRUE(view.items()[0]->isSelected());
}

TEST(RDPagingIndicateView, WindowOfButtons)
{
    RDPagingIndicateView view;
    view.resize(800, 40);
    view.setPageCount(30);
    EXPECT_EQ(labels(view), range(1, 11));
    EXPECT_EQ(selectedIndex(view), 0);
    view.setCurrentPage(15);
    EXPECT_EQ(labels(view), range(11, 21));
    EXPECT_EQ(selectedIndex(view), 5);
    view.setCurrentPage(29);
    EXPECT_EQ(labels(view), range(20, 30));
    EXPECT_EQ(selectedIndex(view), 10);
    EXPECT_EQ(view.infoView()->pageInfoLabel()->text(), "30 / 30");

    // Fewer pages than the current one: the last page, not "30 / 2".
    view.setPageCount(2);
    EXPECT_EQ(view.currentPage(), 1);
    EXPECT_EQ(view.infoView()->pageInfoLabel()->text(), "2 / 2");
}

TEST(RDPagingIndicateView, ClicksAndSetCurrentPage)
{
    RDPagingIndicateView view;
    view.resize(800, 40);
    view.show();
    view.setPageCount(5);
    QSignalSpy changed(&view, &RDPagingIndicateView::currentPageChanged);
    view.setCurrentPage(2);
    EXPECT_EQ(changed.count(), 0);
    QTest::mouseClick(view.items()[2], Qt::LeftButton);   // the current page: emitted all the same
    ASSERT_TRUE(GuiTest::waitFor([&] { return changed.count() == 1; }));
    EXPECT_EQ(changed[0][0].toInt(), 2);
    QTest::mouseClick(view.items()[4], Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitFor([&] { return changed.count() == 2; }));
    EXPECT_EQ(changed[1][0].toInt(), 4);
    EXPECT_EQ(view.currentPage(), 4);
    EXPECT_TRUE(view.items()[4]->isSelected());
}

TEST(RDPagingIndicateView, GoTo)
{
    RDPagingIndicateView view;
    view.resize(800, 40);
    view.show();
    view.setPageCount(5);
    QSignalSpy changed(&view, &RDPagingIndicateView::currentPageChanged);
    QLineEdit* edit = view.infoView()->pageEdit();
    QTest::keyClicks(edit, "5");
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_TRUE(GuiTest::waitFor([&] { return changed.count() == 1; }));
    EXPECT_EQ(changed[0][0].toInt(), 4);
    EXPECT_EQ(view.infoView()->pageInfoLabel()->text(), "5 / 5");
    EXPECT_TRUE(edit->text().isEmpty());

    for (const char* typed : {"0", "6", "x"}) {
        QTest::keyClicks(edit, typed);
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_TRUE(GuiTest::waitFor([&] { return edit->text().isEmpty(); })) << typed;
        QCoreApplication::processEvents();
        EXPECT_EQ(changed.count(), 1) << typed;
    }

    // The "Go" label does the same.
    QTest::keyClicks(edit, "2");
    QTest::mouseClick(view.infoView()->goButton(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitFor([&] { return changed.count() == 2; }));
    EXPECT_EQ(changed[1][0].toInt(), 1);
}

TEST(RDPagingIndicateView, LayoutAndPicture)
{
    RDPagingIndicateView view;
    view.resize(760, 40);
    view.setPageCount(30);
    view.setCurrentPage(15);
    view.show();
    const int infoWidth = view.infoView()->sizeHint().width();
    const int x0 = (760 - 11 * 35 - infoWidth) / 2;
    EXPECT_EQ(view.items()[0]->geometry(), QRect(x0, 5, 30, 30));
    EXPECT_EQ(view.items()[10]->geometry(), QRect(x0 + 350, 5, 30, 30));
    EXPECT_EQ(view.infoView()->geometry(), QRect(x0 + 385, 5, infoWidth, 30));
    EXPECT_EQ(view.sizeHint(), QSize(infoWidth + 11 * 35, 30));
    EXPECT_FALSE(GuiTest::grabToPng(&view, "paging_30_pages").isEmpty());
}
