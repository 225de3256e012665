// The action-log dialog over a log seeded with the sqlite3 command: pages of 50 rows, newest
// first, the filters, and the texts of each column.
#include "ZvLogDialog.h"

#include "GuiTest.h"
#include "RDPagingIndicateView.h"
#include "RtpInfo.h"
#include "TestSupport.h"
#include "UiAppFixture.h"
#include "ZvLogsView.h"

#include <QComboBox>
#include <QDateEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class ZvLogDialogTest : public UiAppFixture
{
protected:
    void SetUp() override
    {
        UiAppFixture::SetUp();
        SONARIS_REQUIRE_COMMANDS("sqlite3");
        create();
    }

    // count rows: odd ids on address A, even ids on B, one day apart per ten rows from
    // 2026-05-01, so that row n (1-based) is written at timeOf(n).
    void seed(int count)
    {
        QString sql = QStringLiteral("begin;");
        for (int n = 1; n <= count; ++n) {
            sql += QStringLiteral("insert into alog(volume,rtpId,rtpAddress,action,source,type,codec,dateTime) "
                                  "values(80,%1,'%2',%3,1,1,3,'%4');")
                       .arg(n % 2 ? 1 : 2)
                       .arg(addressOf(n))
                       .arg(n % 2 ? 0 : 1)
                       .arg(timeOf(n));
        }
        sql += QStringLiteral("commit;");
        ASSERT_EQ(TestSupport::run(QStringLiteral("sqlite3"), {logFile(), sql}).exitCode, 0);
    }

    static QString addressOf(int n)
    {
        return n % 2 ? QStringLiteral("239.255.0.1:8000") : QStringLiteral("239.255.0.2:8000");
    }
    static QString timeOf(int n)
    {
        return QStringLiteral("2026-05-%1 10:00:%2")
            .arg(1 + (n - 1) / 10, 2, 10, QLatin1Char('0'))
            .arg(n % 60, 2, 10, QLatin1Char('0'));
    }

    QString logFile() const { return m_app.filePath(QStringLiteral("database/zvlog.db")); }

    // The date-time column of the table, top to bottom.
    static QStringList times(ZvLogsView* view)
    {
        QStringList out;
        for (int r = 0; r < view->table()->rowCount(); ++r)
            out << view->table()->item(r, 5)->text();
        return out;
    }

    // Address and date-time of every row of the table, top to bottom.
    static QStringList rows(ZvLogsView* view)
    {
        QStringList out;
        for (int r = 0; r < view->table()->rowCount(); ++r)
            out << view->table()->item(r, 0)->text() + QLatin1Char(' ') + view->table()->item(r, 5)->text();
        return out;
    }

    static QVector<RtpInfo> channels()
    {
        RtpInfo a;
        a.id = 1;
        a.address = QStringLiteral("239.255.0.1:8000");
        RtpInfo b;
        b.id = 2;
        b.address = QStringLiteral("239.255.0.2:8000");
        return {a, b};
    }
};

} // namespace

// 120 rows make 3 pages; page 3 holds the oldest 20, newest first; a new search goes back to
// the first page.
TEST_F(ZvLogDialogTest, PagesOfFiftyNewestFirst)
{
    seed(120);
    ZvLogDialog dialog;
    dialog.setRtpInfos(channels());
    dialog.show();
    ZvLogsView* view = dialog.view();
    EXPECT_EQ(view->total(), 120);
    EXPECT_EQ(view->navigator()->pageCount(), 3);
    ASSERT_EQ(view->table()->rowCount(), 50);
    EXPECT_EQ(view->table()->item(0, 5)->text(), "2026-05-12 10:00:00") << "row 120 first";
    GuiTest::grabToPng(&dialog, QStringLiteral("log_dialog_page1"));

    view->navigator()->onGotoPage(2);
    ASSERT_TRUE(GuiTest::waitFor([&] { return view->table()->rowCount() == 20; }));
    const QStringList last = times(view);
    EXPECT_EQ(last.first(), "2026-05-02 10:00:20") << "row 20";
    EXPECT_EQ(last.last(), "2026-05-01 10:00:01") << "row 1";
    EXPECT_EQ(view->navigator()->currentPage(), 2);
    GuiTest::grabToPng(&dialog, QStringLiteral("log_dialog_page3"));

    dialog.startEdit()->setDate(QDate(2026, 5, 1));
    dialog.endEdit()->setDate(QDate(2026, 5, 12));
    QTest::mouseClick(dialog.searchButton(), Qt::LeftButton);
    EXPECT_EQ(view->navigator()->currentPage(), 0) << "a search starts on its first page";
    EXPECT_EQ(view->total(), 120);
    EXPECT_EQ(view->table()->item(0, 5)->text(), "2026-05-12 10:00:00");
}

// A reversed range is swapped; one address filters the rows; "All" does not.
TEST_F(ZvLogDialogTest, FiltersByAddressAndDates)
{
    QString start;
    QString end;
    ZvLogDialog::rangeTexts(QDate(2026, 5, 10), QDate(2026, 5, 1), start, end);
    EXPECT_EQ(start, "2026-05-01 00:00:00");
    EXPECT_EQ(end, "2026-05-10 23:59:59");
    ZvLogDialog::rangeTexts(QDate(), QDate(2026, 5, 1), start, end);
    EXPECT_TRUE(start.isEmpty());
    EXPECT_EQ(end, "2026-05-01 23:59:59");

    seed(120);
    ZvLogDialog dialog;
    dialog.setRtpInfos(channels());
    ASSERT_EQ(dialog.addressChoice()->count(), 3);
    EXPECT_EQ(dialog.addressChoice()->itemText(0), "All");
    EXPECT_TRUE(dialog.addressChoice()->itemData(0).toString().isEmpty());
    dialog.startEdit()->setDate(QDate(2026, 5, 3));
    dialog.endEdit()->setDate(QDate(2026, 5, 2));
    dialog.onClickSearch(false);
    EXPECT_EQ(dialog.view()->total(), 20) << "rows 11 to 30";
    EXPECT_EQ(times(dialog.view()).first(), "2026-05-03 10:00:30");
    EXPECT_EQ(times(dialog.view()).last(), "2026-05-02 10:00:11");

    dialog.addressChoice()->setCurrentIndex(2);
    dialog.onClickSearch(false);
    EXPECT_EQ(dialog.view()->total(), 10);
    for (int r = 0; r < dialog.view()->table()->rowCount(); ++r)
        EXPECT_EQ(dialog.view()->table()->item(r, 0)->text(), "239.255.0.2:8000");
}

// Paging keeps the search's filters: with one address and a date range, page 2 and the last page
// show the next matching rows, newest first, and the count stays the filtered one.
TEST_F(ZvLogDialogTest, PagesOfAFilteredSearchKeepTheFilter)
{
    // Address A from 2026-05-06 to 2026-05-27 matches the odd rows 51 to 269: 110 rows, with
    // rows of A outside the dates and rows of B inside them on either side.
    seed(300);
    QStringList matching;
    for (int n = 269; n >= 51; n -= 2)
        matching << addressOf(n) + QLatin1Char(' ') + timeOf(n);
    ASSERT_EQ(matching.size(), 110);

    ZvLogDialog dialog;
    dialog.setRtpInfos(channels());
    dialog.show();
    ZvLogsView* view = dialog.view();
    dialog.addressChoice()->setCurrentIndex(1);
    dialog.startEdit()->setDate(QDate(2026, 5, 6));
    dialog.endEdit()->setDate(QDate(2026, 5, 27));
    QTest::mouseClick(dialog.searchButton(), Qt::LeftButton);
    ASSERT_EQ(view->total(), 110);
    EXPECT_EQ(rows(view), matching.mid(0, 50));

    const struct
    {
        int page;
        int first;
        int count;
    } pages[] = {{1, 50, 50}, {2, 100, 10}, {1, 50, 50}};
    for (const auto& page : pages) {
        view->navigator()->onGotoPage(page.page);
        const QStringList expected = matching.mid(page.first, page.count);
        ASSERT_TRUE(GuiTest::waitFor([&] { return rows(view).value(0) == expected.first(); }))
            << "page " << page.page << " shows " << rows(view).value(0).toStdString();
        EXPECT_EQ(rows(view), expected) << "page " << page.page;
        EXPECT_EQ(view->total(), 110) << "page " << page.page;
        EXPECT_EQ(view->navigator()->pageCount(), 3) << "page " << page.page;
        EXPECT_EQ(view->navigator()->currentPage(), page.page);
    }
    GuiTest::grabToPng(&dialog, QStringLiteral("log_dialog_filtered_page2"));
}

TEST_F(ZvLogDialogTest, ColumnTexts)
{
    const struct
    {
        int action;
        int trigger;
        const char* text;
    } triggers[] = {{0, 1, "Manual"}, {1, 1, "Manual"}, {0, 2, "HTTP"},      {0, 3, "Schedule"}, {1, 4, "SIP"},
                    {0, 5, "API"},    {1, 5, "Play Ended"}, {0, 6, ""},     {1, 6, "API"},      {0, 0, ""},
                    {1, 9, ""}};
    for (const auto& row : triggers)
        EXPECT_EQ(ZvLogsView::triggerName(row.action, row.trigger), QLatin1String(row.text))
            << row.action << "," << row.trigger;
    const struct
    {
        int source;
        const char* text;
    } sources[] = {{1, "Playlist"},     {2, "Microphone"}, {4, "Speaker"}, {6, "Audio Source"}, {16, "Live Radio"},
                   {32, "Bell Ringing"}, {64, "SIP"},       {128, "API"},   {247, "All"},         {3, ""}};
    for (const auto& row : sources)
        EXPECT_EQ(ZvLogsView::sourceName(row.source), QLatin1String(row.text)) << row.source;
    const char* const codecs[] = {"PCMU", "PCMA", "G722", "MP3", "L16 Mono", "L16 Stereo", ""};
    for (int codec = 0; codec < 7; ++codec)
        EXPECT_EQ(ZvLogsView::codecName(codec), QLatin1String(codecs[codec])) << codec;
    EXPECT_TRUE(ZvLogsView::codecName(-1).isEmpty());
    EXPECT_EQ(ZvLogsView::actionName(0), "Start");
    EXPECT_EQ(ZvLogsView::actionName(1), "Stop");

    // In the table, read only and centred.
    seed(120);
    ZvLogDialog dialog;
    QTableWidget* table = dialog.view()->table();
    ASSERT_GT(table->rowCount(), 0);
    EXPECT_EQ(table->item(0, 1)->text(), "Stop");
    EXPECT_EQ(table->item(0, 2)->text(), "Playlist");
    EXPECT_EQ(table->item(0, 4)->text(), "MP3");
    EXPECT_FALSE(table->item(0, 0)->flags() & Qt::ItemIsEditable);
    EXPECT_EQ(table->item(0, 0)->textAlignment(), int(Qt::AlignCenter));
    EXPECT_EQ(table->horizontalHeaderItem(5)->text(), "DateTime");
}
