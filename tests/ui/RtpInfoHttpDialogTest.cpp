#include "RtpInfoHttpDialog.h"

#include "GuiTest.h"
#include "GuiTestHook.h"
#include "RDLabel.h"
#include "RDSystemNetwork.h"
#include "RtpInfo.h"
#include "Sonaris.h"
#include "TempAppDir.h"
#include "UrlRecorder.h"
#include "VDB.h"
#include "ZvDB.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QString link(const QString& url)
{
    return QStringLiteral("<a href=\"%1\">%1</a>").arg(url);
}

QString greyLink(const QString& url)
{
    return QStringLiteral("<a href=\"%1\" style=\"color:#666666\">%1</a>").arg(url);
}

class RtpInfoHttpDialogTest : public ::testing::Test
{
protected:
    void SetUp() override { GuiTest::hook().reset(); }
    void TearDown() override { GuiTest::hook().reset(); }
};

} // namespace

TEST_F(RtpInfoHttpDialogTest, FillsBoxesLinksAndEnabledStates)
{
    RtpInfoHttpDialog dialog;
    dialog.setValues(7, false, true, QStringLiteral("10.1.2.3"), 5262);
    EXPECT_EQ(dialog.size(), QSize(600, 400));
    EXPECT_TRUE(dialog.windowTitle().isEmpty());
    EXPECT_EQ(dialog.streamCaption()->text(), "Enable Http Stream");
    EXPECT_EQ(dialog.apiCaption()->text(), "Enable Http API");

    EXPECT_TRUE(dialog.streamCheckBox()->isChecked());
    EXPECT_FALSE(dialog.apiCheckBox()->isChecked());
    EXPECT_TRUE(dialog.streamCaption()->isEnabled());
    EXPECT_TRUE(dialog.streamLink()->isEnabled());
    EXPECT_FALSE(dialog.apiCaption()->isEnabled());
    EXPECT_FALSE(dialog.startLink()->isEnabled());
    EXPECT_FALSE(dialog.stopLink()->isEnabled());
    EXPECT_EQ(dialog.streamUrl(), "http://10.1.2.3:5262/stream/7");
    EXPECT_EQ(dialog.startUrl(), "http://10.1.2.3:5262/api?action=start&id=7");
    EXPECT_EQ(dialog.stopUrl(), "http://10.1.2.3:5262/api?action=stop&id=7");
    EXPECT_EQ(dialog.streamLink()->text(), link("http://10.1.2.3:5262/stream/7"));
    // A greyed link keeps its URL and says its grey itself (a link's colour is fixed at parsing).
    EXPECT_EQ(dialog.startLink()->text(), greyLink("http://10.1.2.3:5262/api?action=start&amp;id=7"));
    EXPECT_EQ(dialog.stopLink()->text(), greyLink("http://10.1.2.3:5262/api?action=stop&amp;id=7"));
    dialog.show();
    GuiTest::grabToPng(&dialog, QStringLiteral("http_dialog_stream_only"));

    // A toggle greys or wakes its part at once; the links stay as they are.
    dialog.streamCheckBox()->setChecked(false);
    EXPECT_FALSE(dialog.streamCaption()->isEnabled());
    EXPECT_FALSE(dialog.streamLink()->isEnabled());
    EXPECT_EQ(dialog.streamLink()->text(), greyLink("http://10.1.2.3:5262/stream/7"));
    dialog.apiCheckBox()->setChecked(true);
    EXPECT_TRUE(dialog.apiCaption()->isEnabled());
    EXPECT_TRUE(dialog.startLink()->isEnabled());
    EXPECT_TRUE(dialog.stopLink()->isEnabled());
    EXPECT_EQ(dialog.startLink()->text(), link("http://10.1.2.3:5262/api?action=start&amp;id=7"));
    GuiTest::grabToPng(&dialog, QStringLiteral("http_dialog_api_only"));
    int api = -1;
    int output = -1;
    dialog.values(api, output);
    EXPECT_EQ(api, 1);
    EXPECT_EQ(output, 0);

    // Filled again for another channel: both boxes follow the new values.
    dialog.setValues(9, true, true, QString(), 80);
    dialog.values(api, output);
    EXPECT_EQ(api, 1);
    EXPECT_EQ(output, 1);
    EXPECT_TRUE(dialog.streamLink()->isEnabled());
    // No adapter address: the host part is empty.
    EXPECT_EQ(dialog.streamLink()->text(), link("http://:80/stream/9"));
    EXPECT_EQ(dialog.startLink()->text(), link("http://:80/api?action=start&amp;id=9"));
    GuiTest::grabToPng(&dialog, QStringLiteral("http_dialog_both_no_address"));
}

TEST_F(RtpInfoHttpDialogTest, LayoutFollowsTheSize)
{
    RtpInfoHttpDialog dialog;
    dialog.setValues(3, true, true, QStringLiteral("192.168.10.20"), 5262);
    dialog.show();
    for (const QSize size : {QSize(600, 400), QSize(900, 500), QSize(420, 300)}) {
        dialog.resize(size);
        const int w = size.width();
        const int h = size.height();
        const QRect box = dialog.streamCheckBox()->geometry();
        EXPECT_EQ(box.topLeft(), QPoint(10, 10));
        const QRect caption = dialog.streamCaption()->geometry();
        EXPECT_EQ(caption.left(), box.right() + 1 + 10);
        EXPECT_EQ(caption.center().y(), box.center().y());
        const QRect stream = dialog.streamLink()->geometry();
        EXPECT_EQ(stream.top(), caption.bottom() + 1 + 10);
        EXPECT_EQ(stream.left(), caption.left());
        EXPECT_EQ(stream.right() + 1, w - 10);
        EXPECT_EQ(stream.height(), 20);
        const QRect apiBox = dialog.apiCheckBox()->geometry();
        EXPECT_EQ(apiBox.top(), stream.bottom() + 1 + 30);
        const QRect start = dialog.startLink()->geometry();
        const QRect stop = dialog.stopLink()->geometry();
        EXPECT_EQ(start.right() + 1, w - 20);
        EXPECT_EQ(stop.top(), start.bottom() + 1 + 10);
        EXPECT_EQ(stop.width(), start.width());
        for (QPushButton* button : {dialog.saveButton(), dialog.cancelButton()}) {
            EXPECT_EQ(button->geometry().top(), h - 50);
            EXPECT_EQ(button->height(), 30);
            EXPECT_GE(button->width(), 100);
        }
        // Each centred in its half.
        const QRect save = dialog.saveButton()->geometry();
        const QRect cancel = dialog.cancelButton()->geometry();
        EXPECT_NEAR(save.left() + save.width() / 2.0, w / 4.0, 1.0);
        EXPECT_NEAR(cancel.left() + cancel.width() / 2.0, w * 3 / 4.0, 1.0);
    }
}

// A click on a link opens it once: the labels do not open links on their own as well.
TEST_F(RtpInfoHttpDialogTest, LinkClickOpensOnce)
{
    UrlRecorder recorder;
    RtpInfoHttpDialog dialog;
    dialog.setValues(12, true, true, QStringLiteral("127.0.0.1"), 5262);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.startLink(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    ASSERT_EQ(recorder.urls().size(), 1);
    EXPECT_EQ(recorder.urls().first(), QUrl("http://127.0.0.1:5262/api?action=start&id=12"));

    // A greyed link opens nothing.
    dialog.streamCheckBox()->setChecked(false);
    QTest::mouseClick(dialog.streamLink(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    EXPECT_EQ(recorder.urls().size(), 1);
}

TEST_F(RtpInfoHttpDialogTest, EditRecordSavesOrLeavesTheRecord)
{
    RtpInfo record;
    record.id = 4;
    record.httpApi = 0;
    record.httpOutput = 1;
    record.name = QStringLiteral("Hall");

    // Save after a change: both switches are copied back, nothing else.
    GuiTest::onModal([](QWidget* modal) {
        auto* dialog = qobject_cast<RtpInfoHttpDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->parentWidget(), nullptr);
        dialog->apiCheckBox()->setChecked(true);
        dialog->streamCheckBox()->setChecked(false);
        QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
    });
    EXPECT_TRUE(RtpInfoHttpDialog::editRecord(record));
    EXPECT_EQ(record.httpApi, 1);
    EXPECT_EQ(record.httpOutput, 0);
    EXPECT_EQ(record.name, "Hall");

    // Cancel and the window's close leave the record as it was.
    const RtpInfo before = record;
    GuiTest::onModal([](QWidget* modal) {
        auto* dialog = qobject_cast<RtpInfoHttpDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->apiCheckBox()->setChecked(false);
        QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
    });
    EXPECT_FALSE(RtpInfoHttpDialog::editRecord(record));
    EXPECT_EQ(record, before);
    GuiTest::onModal([](QWidget* modal) {
        auto* dialog = qobject_cast<RtpInfoHttpDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->streamCheckBox()->setChecked(true);
        dialog->close();
    });
    EXPECT_FALSE(RtpInfoHttpDialog::editRecord(record));
    EXPECT_EQ(record, before);
    EXPECT_TRUE(GuiTest::hook().boxes().isEmpty());
}

TEST_F(RtpInfoHttpDialogTest, RefusedWhileTheChannelRuns)
{
    const int kinds[] = {1, 6, 16, 32, 64, 128};
    for (const int kind : kinds) {
        GuiTest::hook().reset();
        RtpInfo record;
        record.id = 5;
        record.startedSource = kind;
        const RtpInfo before = record;
        EXPECT_FALSE(RtpInfoHttpDialog::editRecord(record)) << kind;
        EXPECT_EQ(record, before);
        ASSERT_EQ(GuiTest::hook().boxes().size(), 1);
        const GuiTestHook::Box& box = GuiTest::hook().boxes().first();
        EXPECT_EQ(box.icon, QMessageBox::Information);
        EXPECT_EQ(box.text, "Please stop rtp");
        EXPECT_EQ(box.yesCaption, "OK");
        EXPECT_EQ(box.noCaption, "Cancel");
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

// The links name the chosen adapter's address and the "http port" setting.
TEST_F(RtpInfoHttpDialogTest, LinksComeFromTheSettings)
{
    TempAppDir appDir;
    Sonaris* sonaris = Sonaris::createInstance();
    {
        ZvDB db;
        db.checkUpgrade();
        db.initDefaults();
    }
    sonaris->setHttpPort(6123);
    const QString host = sonaris->network().ip();
    RtpInfoHttpDialog dialog;
    dialog.setValues(21, true, true);
    EXPECT_EQ(dialog.streamLink()->text(), link(QStringLiteral("http://%1:6123/stream/21").arg(host)));
    EXPECT_EQ(dialog.stopLink()->text(), link(QStringLiteral("http://%1:6123/api?action=stop&amp;id=21").arg(host)));
    Sonaris::destroyInstance();
    VDB::setDataRoot(QString());
}
