#include "RtpInfoSipDialog.h"

#include "GuiTest.h"
#include "GuiTestHook.h"
#include "RDLabel.h"
#include "RtpInfo.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

RtpSip account(int status)
{
    RtpSip sip;
    sip.status = status;
    sip.server = QStringLiteral("127.0.0.1");
    sip.port = QStringLiteral("5060");
    sip.username = QStringLiteral("1001");
    sip.authId = QStringLiteral("auth1001");
    sip.password = QStringLiteral("se cret");
    sip.displayName = QStringLiteral("Hall speakers");
    sip.expire = QStringLiteral("3600");
    return sip;
}

class RtpInfoSipDialogTest : public ::testing::Test
{
protected:
    void SetUp() override { GuiTest::hook().reset(); }
    void TearDown() override { GuiTest::hook().reset(); }
};

} // namespace

TEST_F(RtpInfoSipDialogTest, TextsAndPlaceholders)
{
    RtpInfoSipDialog dialog;
    const char* const labels[] = {"SIP Server",   "SIP Port",     "SIP Number", "SIP Auth Id",
                                  "SIP Password", "Display Name", "Expire Time"};
    const char* const placeholders[] = {"Please input sip server",   "Please input sip port",
                                        "Please input sip number",   "Please input sip auth id",
                                        "Please input sip password", "Please input display name",
                                        "Please input expire time"};
    for (int i = 0; i < RtpInfoSipDialog::kFieldCount; ++i) {
        EXPECT_EQ(dialog.rowLabel(i)->text(), labels[i]);
        EXPECT_EQ(dialog.rowEdit(i)->placeholderText(), placeholders[i]);
        EXPECT_EQ(dialog.rowEdit(i)->echoMode(), QLineEdit::Normal);
    }
    EXPECT_EQ(dialog.captionLabel()->text(), "Enable SIP");
    EXPECT_EQ(dialog.saveButton()->text(), "Save");
    EXPECT_EQ(dialog.cancelButton()->text(), "Cancel");
    EXPECT_EQ(dialog.minimumSize(), QSize(400, 330));
}

// Status 0: unchecked and greyed but filled; saving keeps the texts and writes 0. Toggling greys
// and wakes the fields without clearing them.
TEST_F(RtpInfoSipDialogTest, DisabledAccountRoundTrip)
{
    RtpInfoSipDialog dialog;
    const RtpSip stored = account(0);
    dialog.setRtpSip(3, stored);
    EXPECT_FALSE(dialog.enableCheckBox()->isChecked());
    for (int i = 0; i < RtpInfoSipDialog::kFieldCount; ++i) {
        EXPECT_FALSE(dialog.rowLabel(i)->isEnabled()) << i;
        EXPECT_FALSE(dialog.rowEdit(i)->isEnabled()) << i;
    }
    EXPECT_FALSE(dialog.captionLabel()->isEnabled());
    EXPECT_FALSE(dialog.statusLabel()->isEnabled());
    EXPECT_TRUE(dialog.enableCheckBox()->isEnabled());
    EXPECT_TRUE(dialog.saveButton()->isEnabled());
    EXPECT_EQ(dialog.rowEdit(RtpInfoSipDialog::kDisplayName)->text(), "Hall speakers");
    // No channel manager, never registered: no state text.
    EXPECT_TRUE(dialog.statusLabel()->text().isEmpty());
    dialog.resize(400, 330);
    dialog.show();
    GuiTest::grabToPng(&dialog, QStringLiteral("sip_dialog_disabled"));

    RtpSip out;
    dialog.getRtpSip(out);
    EXPECT_EQ(out, stored);

    dialog.enableCheckBox()->setChecked(true);
    for (int i = 0; i < RtpInfoSipDialog::kFieldCount; ++i)
        EXPECT_TRUE(dialog.rowEdit(i)->isEnabled()) << i;
    EXPECT_TRUE(dialog.captionLabel()->isEnabled());
    GuiTest::grabToPng(&dialog, QStringLiteral("sip_dialog_enabled"));
    dialog.enableCheckBox()->setChecked(false);
    EXPECT_FALSE(dialog.rowEdit(RtpInfoSipDialog::kServer)->isEnabled());
    EXPECT_EQ(dialog.rowEdit(RtpInfoSipDialog::kServer)->text(), "127.0.0.1");

    RtpSip enabled = account(1);
    dialog.setRtpSip(3, enabled);
    dialog.getRtpSip(out);
    EXPECT_EQ(out, enabled);
}

TEST_F(RtpInfoSipDialogTest, LayoutOfRowsAndButtons)
{
    RtpInfoSipDialog dialog;
    dialog.setRtpSip(1, account(1));
    dialog.show();
    for (const QSize size : {QSize(400, 330), QSize(700, 450)}) {
        dialog.resize(size);
        const int w = size.width();
        int c = 150;
        for (int i = 0; i < RtpInfoSipDialog::kFieldCount; ++i)
            c = std::max(c, dialog.rowLabel(i)->sizeHint().width());
        EXPECT_EQ(dialog.enableCheckBox()->geometry(), QRect(10, 10, 20, 20));
        EXPECT_EQ(dialog.statusLabel()->geometry(), QRect(c + 10, 10, w - c - 20, 20));
        int top = 40;
        for (int i = 0; i < RtpInfoSipDialog::kFieldCount; ++i) {
            EXPECT_EQ(dialog.rowLabel(i)->geometry(), QRect(10, top, c, 30)) << i;
            EXPECT_EQ(dialog.rowEdit(i)->geometry(), QRect(c + 10, top, w - c - 20, 30)) << i;
            top = dialog.rowLabel(i)->geometry().bottom();
        }
        EXPECT_EQ(dialog.saveButton()->geometry().top(), size.height() - 50);
        EXPECT_EQ(dialog.cancelButton()->geometry().top(), size.height() - 50);
        EXPECT_LE(dialog.saveButton()->geometry().right(), w / 2);
        EXPECT_GE(dialog.cancelButton()->geometry().left(), w / 2);
    }
}

// The port takes 1-65535 only, and no text takes a line break (they end up in SIP headers).
TEST_F(RtpInfoSipDialogTest, PortAndLineBreaksAreRefused)
{
    RtpInfoSipDialog dialog;
    dialog.setRtpSip(1, account(1));
    QLineEdit* port = dialog.rowEdit(RtpInfoSipDialog::kPort);
    const struct
    {
        const char* typed;
        const char* shown;
        bool acceptable;
    } cases[] = {{"5060", "5060", true}, {"65535", "65535", true}, {"1", "1", true},
                 {"655351", "65535", true}, {"50a6", "506", true}, {"-5", "5", true},
                 {"0", "", false}, {"70000", "7000", true}};
    for (const auto& c : cases) {
        port->clear();
        QTest::keyClicks(port, QString::fromLatin1(c.typed));
        EXPECT_EQ(port->text(), c.shown) << c.typed;
        EXPECT_EQ(port->hasAcceptableInput(), c.acceptable) << c.typed;
    }

    QLineEdit* server = dialog.rowEdit(RtpInfoSipDialog::kServer);
    server->clear();
    QTest::keyClicks(server, QStringLiteral("sip.example"));
    QTest::keyClick(server, Qt::Key_Return);
    EXPECT_EQ(server->text(), "sip.example");

    // A stored text with line breaks is shown and saved without them.
    RtpSip injected = account(1);
    injected.displayName = QStringLiteral("Hall\r\nX-Injected: 1");
    dialog.setRtpSip(1, injected);
    RtpSip out;
    dialog.getRtpSip(out);
    EXPECT_EQ(out.displayName, "HallX-Injected: 1");
}

TEST_F(RtpInfoSipDialogTest, SaveWithABadPortStaysOpen)
{
    RtpInfo record;
    record.id = 8;
    record.sip = account(1);
    record.sip.port = QStringLiteral("0");
    bool sawToast = false;
    GuiTest::onModal([&sawToast](QWidget* modal) {
        auto* dialog = qobject_cast<RtpInfoSipDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
        EXPECT_TRUE(dialog->isVisible());
        sawToast = dialog->currentToast() != nullptr;
        if (sawToast) {
            EXPECT_EQ(dialog->currentToast()->text(), "Please input sip port");
        }
        GuiTest::grabToPng(dialog, QStringLiteral("sip_dialog_bad_port"));
        dialog->rowEdit(RtpInfoSipDialog::kPort)->setText(QStringLiteral("5062"));
        QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
    });
    EXPECT_TRUE(RtpInfoSipDialog::editRecord(record));
    EXPECT_TRUE(sawToast);
    EXPECT_EQ(record.sip.port, "5062");

    // An empty port is no port at all, and may be saved.
    record.sip.port.clear();
    GuiTest::onModal([](QWidget* modal) {
        QTest::mouseClick(static_cast<RtpInfoSipDialog*>(modal)->saveButton(), Qt::LeftButton);
    });
    EXPECT_TRUE(RtpInfoSipDialog::editRecord(record));
    EXPECT_TRUE(record.sip.port.isEmpty());
}

TEST_F(RtpInfoSipDialogTest, EditRecordSavesOrLeavesTheRecord)
{
    RtpInfo record;
    record.id = 11;
    record.sip = account(0);

    GuiTest::onModal([](QWidget* modal) {
        auto* dialog = qobject_cast<RtpInfoSipDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->parentWidget(), nullptr);
        dialog->enableCheckBox()->setChecked(true);
        QLineEdit* user = dialog->rowEdit(RtpInfoSipDialog::kUsername);
        user->selectAll();
        QTest::keyClicks(user, QStringLiteral("2002"));
        QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
    });
    EXPECT_TRUE(RtpInfoSipDialog::editRecord(record));
    EXPECT_EQ(record.sip.status, 1);
    EXPECT_EQ(record.sip.username, "2002");
    EXPECT_EQ(record.sip.server, "127.0.0.1");

    const RtpInfo before = record;
    GuiTest::onModal([](QWidget* modal) {
        auto* dialog = static_cast<RtpInfoSipDialog*>(modal);
        dialog->enableCheckBox()->setChecked(false);
        QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
    });
    EXPECT_FALSE(RtpInfoSipDialog::editRecord(record));
    EXPECT_EQ(record, before);
    GuiTest::onModal([](QWidget* modal) {
        auto* dialog = static_cast<RtpInfoSipDialog*>(modal);
        dialog->rowEdit(RtpInfoSipDialog::kServer)->setText(QStringLiteral("10.9.9.9"));
        dialog->close();
    });
    EXPECT_FALSE(RtpInfoSipDialog::editRecord(record));
    EXPECT_EQ(record, before);

    record.startedSource = 16;
    const RtpInfo running = record;
    EXPECT_FALSE(RtpInfoSipDialog::editRecord(record));
    EXPECT_EQ(record, running);
    EXPECT_EQ(GuiTest::hook().boxTexts(), QStringList{"Please stop rtp"});
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}
