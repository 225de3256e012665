// The App Connect page and the QR code dialog, with the application object running in this
// process: what Save stores and applies (a WebSocket client logs in on the new port with the
// new credentials), what it refuses, and QR codes that a reader decodes to the codes shown.
#include "RDServerAPIWidget.h"

#include "GuiTest.h"
#include "LoopP2pSocket.h"
#include "RDLabel.h"
#include "RDOptionsDialog.h"
#include "RDPixmapWidget.h"
#include "RDQRCodeDialog.h"
#include "Sonaris.h"
#include "TestSupport.h"
#include "UiAppFixture.h"
#include "VexaCode.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

#include <string>

#include <sys/socket.h>
#include <unistd.h>

namespace {

class RDServerAPIWidgetTest : public UiAppFixture
{
protected:
    QString toastText(RDToast* page) const
    {
        return page->currentToast() && page->currentToast()->isVisible() ? page->currentToast()->text() : QString();
    }

    // The "result" of a Login over WebSocket on the port, or a text saying what went wrong.
    static QString loginResult(int port, const QString& user, const QString& password)
    {
        const QString digest =
            QString::fromLatin1(QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5).toHex());
        const QString login =
            QStringLiteral(R"({"id":7,"method":"Login","username":"%1","password":"%2"})").arg(user, digest);
        const TestSupport::Result r = TestSupport::run(
            QStringLiteral("/usr/bin/python3"),
            {TestSupport::sourceDir() + QStringLiteral("/tests/VexaSDK/WS/ws_session.py"),
             QStringLiteral("ws://127.0.0.1:%1/").arg(port), "--timeout", "20", login},
            60000);
        for (const QByteArray& line : r.out.split('\n')) {
            if (!line.startsWith("recv "))
                continue;
            const QJsonObject reply = QJsonDocument::fromJson(line.mid(5)).object();
            if (reply.value("id").toInt() == 7)
                return QString::number(reply.value("result").toInt());
        }
        return QStringLiteral("no reply: ") + QString::fromLocal8Bit(r.out + r.err);
    }

    // What zbarimg reads from a picture of the widget.
    static QString decode(QWidget* widget, const QString& name)
    {
        const QString png = GuiTest::grabToPng(widget, name);
        const TestSupport::Result r = TestSupport::run(QStringLiteral("zbarimg"), {"--raw", "-q", png});
        return QString::fromUtf8(r.out).trimmed();
    }
};

} // namespace

// The page is empty until its tab is made current; then it shows the stored settings.
TEST_F(RDServerAPIWidgetTest, EmptyUntilItsTabIsShown)
{
    Sonaris* sonaris = create();
    sonaris->setApiEnable(1);
    sonaris->setAuthEnable(1);
    sonaris->setAuthUsername(QStringLiteral("operator"));
    sonaris->setAuthPassword(QStringLiteral("pass word"));
    sonaris->setVexaCode(QStringLiteral("0101"));
    RDOptionsDialog dialog;
    dialog.resize(620, 380);
    dialog.show();
    RDServerAPIWidget* page = dialog.appConnectPage();
    EXPECT_TRUE(page->portField()->text().isEmpty());
    EXPECT_TRUE(page->userField()->text().isEmpty());
    EXPECT_FALSE(page->apiSwitch()->isChecked());

    dialog.tabs()->setCurrentIndex(RDOptionsDialog::kAppConnectPage);
    EXPECT_EQ(page->portField()->text(), QString::number(m_apiPort));
    EXPECT_TRUE(page->apiSwitch()->isChecked());
    EXPECT_TRUE(page->authSwitch()->isChecked());
    EXPECT_EQ(page->userField()->text(), "operator");
    EXPECT_EQ(page->passwordField()->text(), "pass word");
    EXPECT_EQ(page->codeField()->text(), "0101");
    EXPECT_FALSE(page->p2pSwitch()->isChecked());
    EXPECT_FALSE(page->p2pImage()->isVisible()) << "P2P off: no code to click";
    EXPECT_TRUE(page->apiImage()->isVisible());
    EXPECT_FALSE(page->apiImage()->pixmap().isNull());
    GuiTest::grabToPng(&dialog, QStringLiteral("appconnect_refreshed"));
}

TEST_F(RDServerAPIWidgetTest, SwitchesEnableTheirFieldsAndCodes)
{
    create();
    RDServerAPIWidget page;
    page.resize(600, 360);
    page.show();
    page.refresh();
    const struct
    {
        QCheckBox* box;
        QWidget* field;
        QWidget* image;
    } groups[] = {{page.p2pSwitch(), page.codeField(), page.p2pImage()},
                  {page.apiSwitch(), page.portField(), page.apiImage()},
                  {page.authSwitch(), page.passwordField(), nullptr}};
    for (const auto& group : groups) {
        for (const bool on : {true, false, true}) {
            group.box->setChecked(on);
            EXPECT_EQ(group.field->isEnabled(), on);
            if (group.image) {
                EXPECT_EQ(group.image->isVisible(), on);
            }
        }
    }
    GuiTest::grabToPng(&page, QStringLiteral("appconnect_all_on"));
}

// Save stores every setting and applies it: a WebSocket client on the new port logs in with the
// new name and the MD5 of the new password, and not with another password.
TEST_F(RDServerAPIWidgetTest, SaveIsProvenByAWebSocketLogin)
{
    SONARIS_REQUIRE_PYTHON_MODULE("websockets", "python3-websockets");
    ASSERT_TRUE(start());
    RDOptionsDialog dialog;
    dialog.show();
    dialog.tabs()->setCurrentIndex(RDOptionsDialog::kAppConnectPage);
    RDServerAPIWidget* page = dialog.appConnectPage();
    const int port = TestSupport::freeTcpPort();
    page->apiSwitch()->setChecked(true);
    page->portField()->setText(QString::number(port));
    page->authSwitch()->setChecked(true);
    page->userField()->setText(QStringLiteral("operator"));
    page->passwordField()->setText(QStringLiteral("s3cret pw"));
    QTest::mouseClick(page->saveButton(), Qt::LeftButton);
    EXPECT_EQ(toastText(page), "Save Success");
    EXPECT_EQ(setting(QStringLiteral("api enable")), "1");
    EXPECT_EQ(setting(QStringLiteral("api port")), QString::number(port));
    EXPECT_EQ(setting(QStringLiteral("auth enable")), "1");
    EXPECT_EQ(setting(QStringLiteral("auth username")), "operator");
    EXPECT_EQ(setting(QStringLiteral("auth password")), "s3cret pw");
    EXPECT_EQ(setting(QStringLiteral("vexacode enable")), "0");
    GuiTest::grabToPng(&dialog, QStringLiteral("appconnect_saved"));

    EXPECT_EQ(loginResult(port, QStringLiteral("operator"), QStringLiteral("s3cret pw")), "0");
    const QString bad = loginResult(port, QStringLiteral("operator"), QStringLiteral("other"));
    EXPECT_NE(bad, "0");
    EXPECT_FALSE(bad.startsWith("no reply")) << bad.toStdString();
    EXPECT_NE(loginResult(m_apiPort, QStringLiteral("operator"), QStringLiteral("s3cret pw")), "0")
        << "nothing listens on the old port";
}

// A port outside 1-65535, or auth switched on without a name or password, is refused before
// anything is written.
TEST_F(RDServerAPIWidgetTest, RefusedSavesWriteNothing)
{
    Sonaris* sonaris = create();
    sonaris->setAuthUsername(QStringLiteral("kept"));
    RDServerAPIWidget page;
    page.resize(600, 360);
    page.show();
    page.refresh();
    const struct
    {
        const char* port;
        bool auth;
        const char* user;
        const char* password;
        const char* toast;
    } rows[] = {
        {"0", false, "", "", "Invalid port"},
        {"", false, "", "", "Invalid port"},
        {"65536", false, "", "", "Invalid port"},
        {"9100", true, "", "pw", "Please input username and password"},
        {"9100", true, "someone", "", "Please input username and password"},
    };
    const QString apiEnable = setting(QStringLiteral("api enable"));
    const QString authEnable = setting(QStringLiteral("auth enable"));
    for (const auto& row : rows) {
        page.hideToast();
        page.apiSwitch()->setChecked(true);
        page.portField()->setText(QLatin1String(row.port));
        page.authSwitch()->setChecked(row.auth);
        page.userField()->setText(QLatin1String(row.user));
        page.passwordField()->setText(QLatin1String(row.password));
        EXPECT_FALSE(page.save()) << row.port;
        EXPECT_EQ(toastText(&page), QLatin1String(row.toast)) << row.port;
        EXPECT_EQ(setting(QStringLiteral("api port")), QString::number(m_apiPort)) << row.port;
        EXPECT_EQ(setting(QStringLiteral("api enable")), apiEnable) << row.port;
        EXPECT_EQ(setting(QStringLiteral("auth username")), "kept") << row.port;
        EXPECT_EQ(setting(QStringLiteral("auth enable")), authEnable) << row.port;
    }
    GuiTest::grabToPng(&page, QStringLiteral("appconnect_refused"));
}

// A port that another program holds: stored, but no "Save Success".
TEST_F(RDServerAPIWidgetTest, PortInUseIsNoSuccess)
{
    ASSERT_TRUE(start());
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::Any, 0));
    RDServerAPIWidget page;
    page.resize(600, 360);
    page.show();
    page.refresh();
    page.apiSwitch()->setChecked(true);
    page.portField()->setText(QString::number(other.serverPort()));
    EXPECT_FALSE(page.save());
    EXPECT_EQ(toastText(&page), "Saved, but the IP address connection did not start");
    GuiTest::grabToPng(&page, QStringLiteral("appconnect_port_in_use"));
}

// Holds a P2P device name, as another program logged in under it would.
class UidHolder
{
public:
    explicit UidHolder(const std::string& uid)
    {
        sockaddr_un address;
        const socklen_t length = LoopP2pSocket::address(uid, address);
        m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd >= 0 && (bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(m_fd, 1) != 0)) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~UidHolder()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    UidHolder(const UidHolder&) = delete;
    UidHolder& operator=(const UidHolder&) = delete;

    bool holds() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// P2P switched on is a success only once the P2P server logged in under the code's UID: not with
// a code that carries no UID, nor with a UID that another program holds, whatever the IP address
// connection does. The settings are stored all the same.
TEST_F(RDServerAPIWidgetTest, P2pThatDoesNotComeUpIsNoSuccess)
{
    ASSERT_TRUE(start());
    // Runs side by side must not share a device name.
    const std::string heldUid = "APPCONNECT-HELD-" + std::to_string(getpid());
    const std::string freeUid = "APPCONNECT-FREE-" + std::to_string(getpid());
    UidHolder holder(heldUid);
    ASSERT_TRUE(holder.holds());
    const QString p2pFailed = QStringLiteral("Saved, but the P2P connection did not start");
    const struct
    {
        const char* what;
        QString code;
        bool api;
        const QString toast;
        bool ok;
    } rows[] = {
        {"empty code", QString(), false, p2pFailed, false},
        {"not a code", QStringLiteral("P2P-CODE"), false, p2pFailed, false},
        {"code without a UID", VexaCode::encode(QString()), false, p2pFailed, false},
        {"code without a UID, IP connection up", VexaCode::encode(QString()), true, p2pFailed, false},
        {"UID held by another program", VexaCode::encode(QString::fromStdString(heldUid)), false, p2pFailed, false},
        {"UID held by another program, IP connection up", VexaCode::encode(QString::fromStdString(heldUid)), true,
         p2pFailed, false},
        {"free UID", VexaCode::encode(QString::fromStdString(freeUid)), true, QStringLiteral("Save Success"), true},
    };
    RDServerAPIWidget page;
    page.resize(600, 360);
    page.show();
    page.refresh();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        page.hideToast();
        page.p2pSwitch()->setChecked(true);
        page.codeField()->setText(row.code);
        page.apiSwitch()->setChecked(row.api);
        page.portField()->setText(QString::number(m_apiPort));
        page.authSwitch()->setChecked(false);
        EXPECT_EQ(page.save(), row.ok);
        EXPECT_EQ(toastText(&page), row.toast);
        EXPECT_EQ(setting(QStringLiteral("vexacode enable")), "1");
        EXPECT_EQ(setting(QStringLiteral("vexacode")), row.code);
    }
    GuiTest::grabToPng(&page, QStringLiteral("appconnect_p2p_up"));
}

// Both codes decode to what the page shows: the IP code is the connection code of
// "<address>:<port>" (its caption the plain text), the P2P code the code field's text.
TEST_F(RDServerAPIWidgetTest, QrCodesDecodeToTheCodesShown)
{
    SONARIS_REQUIRE_COMMANDS("zbarimg");
    create();
    RDServerAPIWidget page;
    page.resize(600, 360);
    page.show();
    page.apiSwitch()->setChecked(true);
    page.portField()->setText(QStringLiteral("9123"));
    const QString caption = RDServerAPIWidget::apiCaption(QStringLiteral("9123"));
    ASSERT_TRUE(caption.endsWith(":9123"));
    const QString ipCode = VexaCode::encode(caption);
    QString decoded;
    QString shownCaption;
    GuiTest::onModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<RDQRCodeDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        shownCaption = dialog->captionLabel()->text();
        decoded = decode(dialog, QStringLiteral("qr_dialog_ip"));
        dialog->reject();
    });
    QTest::mouseClick(page.apiImage(), Qt::LeftButton);
    EXPECT_EQ(shownCaption, caption);
    EXPECT_EQ(decoded, ipCode);

    const QString p2pCode = VexaCode::encode(QStringLiteral("QSNRS-000123-ABCDE"));
    page.p2pSwitch()->setChecked(true);
    page.codeField()->setText(p2pCode);
    GuiTest::onModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<RDQRCodeDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        shownCaption = dialog->captionLabel()->text();
        decoded = decode(dialog, QStringLiteral("qr_dialog_p2p"));
        dialog->reject();
    });
    QTest::mouseClick(page.p2pImage(), Qt::LeftButton);
    EXPECT_EQ(shownCaption, p2pCode);
    EXPECT_EQ(decoded, p2pCode);

}

// Resizing redraws the code once, a second after the last resize; the dialog keeps its minimum.
TEST_F(RDServerAPIWidgetTest, QrDialogRedrawsOnceAfterResizing)
{
    RDQRCodeDialog dialog(QStringLiteral("010112127.0.0.1:9012P000"), QStringLiteral("127.0.0.1:9012"));
    EXPECT_EQ(dialog.minimumSize(), QSize(400, 430));
    dialog.relayout();
    dialog.updateQRCodeImage();
    dialog.show();
    const int drawn = dialog.drawCount();
    dialog.resize(500, 560);
    dialog.resize(520, 600);
    EXPECT_TRUE(dialog.redrawTimer().isActive());
    EXPECT_EQ(dialog.drawCount(), drawn);
    EXPECT_TRUE(GuiTest::waitFor([&] { return dialog.drawCount() > drawn; }, 5000));
    EXPECT_EQ(dialog.drawCount(), drawn + 1);
    EXPECT_FALSE(dialog.redrawTimer().isActive());
    EXPECT_EQ(dialog.image()->pixmap().size(), dialog.image()->size()) << "the code fills the space above its caption";
    dialog.resize(100, 100);
    EXPECT_EQ(dialog.size(), QSize(400, 430));
}
