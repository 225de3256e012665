// The options dialog with the application object running in this process: tabs, the General
// page (language, start at log-on), the Network page (ports applied to the running servers) and
// the About page.
#include "RDOptionsDialog.h"

#include "GuiTest.h"
#include "GuiTestHook.h"
#include "RDLabel.h"
#include "RDLanguage.h"
#include "RDOptionsGenernalWidget.h"
#include "RDOptionsHelpWidget.h"
#include "RDOptionsNetworkWidget.h"
#include "RDSwitch.h"
#include "RDVerticalTabStyle.h"
#include "RtpInfo.h"
#include "RtpManager.h"
#include "Sonaris.h"
#include "TestSupport.h"
#include "UiAppFixture.h"
#include "ZvDB.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace {

class RDOptionsDialogTest : public UiAppFixture
{
protected:
    void writeLanguage(const QString& name, const QByteArray& lines)
    {
        QDir().mkpath(m_app.filePath(QStringLiteral("language")));
        QFile file(m_app.filePath(QStringLiteral("language/%1.txt").arg(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(lines);
    }

    QString toastText(RDToast* page) const
    {
        return page->currentToast() && page->currentToast()->isVisible() ? page->currentToast()->text() : QString();
    }

    // curl's exit code and the HTTP status of "/api" on a port of 127.0.0.1.
    static std::pair<int, QByteArray> curlApi(int port)
    {
        const TestSupport::Result r = TestSupport::run(
            QStringLiteral("curl"), {"-s", "-o", "/dev/null", "-w", "%{http_code}", "--max-time", "10",
                                     QStringLiteral("http://127.0.0.1:%1/api?action=stop&id=1").arg(port)});
        return {r.exitCode, r.out};
    }
};

} // namespace

TEST_F(RDOptionsDialogTest, TabsOnTheLeftInOrder)
{
    create();
    RDOptionsDialog dialog;
    EXPECT_EQ(dialog.minimumSize(), QSize(620, 380));
    EXPECT_EQ(dialog.tabs()->tabPosition(), QTabWidget::West);
    const QStringList texts = {"General", "Network", "About", "App Connect", "Data"};
    ASSERT_EQ(dialog.tabs()->count(), texts.size());
    for (int i = 0; i < texts.size(); ++i)
        EXPECT_EQ(dialog.tabs()->tabText(i), texts.at(i));
    dialog.resize(620, 380);
    dialog.show();
    for (int i = 0; i < texts.size(); ++i)
        EXPECT_EQ(dialog.tabs()->tabBar()->tabRect(i).size(), QSize(90, 44)) << i;
    EXPECT_EQ(dialog.tabs()->geometry(), dialog.rect());
    EXPECT_EQ(dialog.aboutPage()->value(2)->text(), RDOptionsHelpWidget::kContact);
    EXPECT_TRUE(dialog.aboutPage()->value(2)->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_EQ(dialog.aboutPage()->caption(1)->geometry(), QRect(10, 40, 150, 30));
    const char* const names[] = {"options_general", "options_network", "options_about", "options_appconnect",
                                 "options_data"};
    for (int i = 0; i < texts.size(); ++i) {
        dialog.tabs()->setCurrentIndex(i);
        QTest::qWait(1);
        EXPECT_FALSE(GuiTest::grabToPng(&dialog, QLatin1String(names[i])).isEmpty());
    }
    // The selected tab is filled green; another tab is not.
    const QImage image = dialog.grab().toImage();
    const QRect selected = dialog.tabs()->tabBar()->tabRect(4).translated(dialog.tabs()->tabBar()->pos());
    EXPECT_EQ(QColor(image.pixel(selected.left() + 10, selected.top() + 8)), QColor(53, 141, 0));
    const QRect other = dialog.tabs()->tabBar()->tabRect(0).translated(dialog.tabs()->tabBar()->pos());
    EXPECT_NE(QColor(image.pixel(other.left() + 10, other.top() + 8)), QColor(53, 141, 0));
}

// Choosing a language stores it and re-texts the open windows; choosing the active one again
// stores and re-texts nothing.
TEST_F(RDOptionsDialogTest, LanguageSwitchRetextsAndStores)
{
    writeLanguage(QStringLiteral("English"), "english=English\n");
    writeLanguage(QStringLiteral("Deutsch"), "deutsch=Deutsch\ngeneral=Allgemein\nnetwork=Netzwerk\n"
                                             "language=Sprache\nversion=Fassung\nsave=Speichern\n");
    ASSERT_TRUE(start());
    ASSERT_EQ(RDLanguage::currentLanguage(), QStringLiteral("English"));
    RDOptionsDialog dialog;
    dialog.resize(620, 380);
    dialog.show();
    QComboBox* choice = dialog.generalPage()->languageChoice();
    ASSERT_EQ(choice->count(), 2);
    EXPECT_EQ(choice->itemText(0), "Deutsch");
    EXPECT_EQ(choice->currentText(), "English");

    choice->setCurrentIndex(0);
    EXPECT_EQ(setting(QStringLiteral("language")), "Deutsch");
    EXPECT_EQ(RDLanguage::currentLanguage(), "Deutsch");
    EXPECT_EQ(dialog.tabs()->tabText(0), "Allgemein");
    EXPECT_EQ(dialog.tabs()->tabText(1), "Netzwerk");
    EXPECT_EQ(dialog.generalPage()->languageCaption()->text(), "Sprache");
    EXPECT_EQ(dialog.networkPage()->saveButton()->text(), "Speichern");
    EXPECT_EQ(dialog.aboutPage()->caption(0)->text(), "Fassung");
    EXPECT_EQ(dialog.aboutPage()->value(0)->text(), "3.2.9");
    EXPECT_EQ(dialog.aboutPage()->value(1)->text(), "2026-10-14");
    GuiTest::grabToPng(&dialog, QStringLiteral("options_general_deutsch"));

    // The active language again: nothing stored, nothing re-texted.
    m_sonaris->setLanguage(QStringLiteral("marker"));
    dialog.tabs()->setTabText(0, QStringLiteral("untouched"));
    dialog.generalPage()->onLanguageChanged(0);
    EXPECT_EQ(setting(QStringLiteral("language")), "marker");
    EXPECT_EQ(dialog.tabs()->tabText(0), "untouched");

    // Out of range: nothing.
    dialog.generalPage()->onLanguageChanged(7);
    EXPECT_EQ(setting(QStringLiteral("language")), "marker");
    choice->setCurrentIndex(1);
    EXPECT_EQ(dialog.tabs()->tabText(0), "General");
    EXPECT_EQ(setting(QStringLiteral("language")), "English");
}

TEST_F(RDOptionsDialogTest, RunAtStartUpWritesTheAutostartEntry)
{
    // The start-up names the application, and with it the entry.
    ASSERT_TRUE(start());
    const QString entry = m_app.filePath(QStringLiteral("config/autostart/Quorvel Sonaris.desktop"));
    RDOptionsDialog dialog;
    dialog.resize(620, 380);
    dialog.show();
    RDSwitch* toggle = dialog.generalPage()->startSwitch();
    EXPECT_FALSE(toggle->isChecked());
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_EQ(setting(QStringLiteral("auto run")), "1");
    ASSERT_TRUE(QFileInfo::exists(entry)) << entry.toStdString();
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("Exec=")) << "an entry that starts the program";
    GuiTest::waitFor([&] { return !toggle->isAnimating(); });

    // A new dialog shows the stored state.
    {
        RDOptionsDialog again;
        EXPECT_TRUE(again.generalPage()->startSwitch()->isChecked());
    }
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_FALSE(QFileInfo::exists(entry));
    EXPECT_EQ(setting(QStringLiteral("auto run")), "0");
}

// A port is a decimal number from 1 to 65535; anything else is refused with a toast and the
// stored port stays.
TEST_F(RDOptionsDialogTest, PortValidationTable)
{
    create();
    RDOptionsDialog dialog;
    dialog.resize(620, 380);
    dialog.show();
    dialog.tabs()->setCurrentIndex(RDOptionsDialog::kNetworkPage);
    RDOptionsNetworkWidget* page = dialog.networkPage();
    EXPECT_EQ(page->sipPortField()->text(), QString::number(m_sipPort));
    EXPECT_EQ(page->httpPortField()->text(), QString::number(m_httpPort));
    const struct
    {
        const char* text;
        bool valid;
    } rows[] = {{"0", false},     {"-5", false}, {"abc", false}, {"65536", false}, {"70000", false},
                {"", false},      {"6000", true}, {"65535", true}, {"1", true}};
    for (const auto& row : rows) {
        for (const bool sip : {true, false}) {
            const QString key = sip ? QStringLiteral("sip port") : QStringLiteral("http port");
            const QString before = setting(key);
            page->hideToast();
            QLineEdit* field = sip ? page->sipPortField() : page->httpPortField();
            field->setText(QLatin1String(row.text));
            // The HTTP server is not running: a changed port is only stored.
            if (sip)
                page->onSipPortEditFinished();
            else
                page->onHttpPortEditFinished();
            if (row.valid) {
                EXPECT_EQ(setting(key), QLatin1String(row.text)) << row.text << " " << sip;
                EXPECT_TRUE(toastText(page).isEmpty()) << row.text;
            } else {
                EXPECT_EQ(setting(key), before) << row.text << " " << sip;
                EXPECT_EQ(toastText(page), "Invalid port") << row.text << " " << sip;
            }
        }
    }
    page->sipPortField()->setText(QStringLiteral("abc"));
    page->hideToast();
    QTest::mouseClick(page->saveButton(), Qt::LeftButton);
    EXPECT_EQ(toastText(page), "Invalid port");
    GuiTest::grabToPng(&dialog, QStringLiteral("options_network_invalid_port"));
}

// A new HTTP port moves the running server: curl is answered on the new port and refused on the
// old one. The same port again restarts nothing: an open connection stays open.
TEST_F(RDOptionsDialogTest, HttpPortChangeMovesTheServer)
{
    SONARIS_REQUIRE_COMMANDS("curl");
    ASSERT_TRUE(start());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return curlApi(m_httpPort).second == "200"; }, 10000));
    RDOptionsDialog dialog;
    RDOptionsNetworkWidget* page = dialog.networkPage();
    const int newPort = TestSupport::freeTcpPort();
    page->httpPortField()->setText(QString::number(newPort));
    page->onHttpPortEditFinished();
    EXPECT_EQ(setting(QStringLiteral("http port")), QString::number(newPort));
    EXPECT_EQ(curlApi(newPort).second, "200");
    const auto old = curlApi(m_httpPort);
    EXPECT_EQ(old.first, 7) << "connection refused on the old port, got " << old.second.toStdString();

    // The same port again restarts nothing: a connection opened before is still served.
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(newPort));
    ASSERT_TRUE(socket.waitForConnected(5000));
    page->onHttpPortEditFinished();
    socket.write("GET /api?action=stop&id=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray reply;
    EXPECT_TRUE(GuiTest::waitFor([&] {
        socket.waitForReadyRead(50);
        reply += socket.readAll();
        return reply.contains("\r\n\r\n");
    }, 10000));
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 200")) << reply.toStdString();
}

// A new SIP port reaches the channels' registrations: a SIPp registrar sees REGISTER sent from
// the old port, then from the new one.
TEST_F(RDOptionsDialogTest, SipPortChangeSeenByRegistrar)
{
    SONARIS_REQUIRE_COMMANDS("sipp");
    create();
    const int registrarPort = freeUdpPort();
    ASSERT_GT(registrarPort, 0);
    RtpInfo info;
    info.name = QStringLiteral("phone");
    info.address = QStringLiteral("127.0.0.1:%1").arg(freeUdpPort());
    info.source = 1;
    info.sip.status = 1;
    info.sip.server = QStringLiteral("127.0.0.1");
    info.sip.port = QString::number(registrarPort);
    info.sip.username = QStringLiteral("301");
    info.sip.authId = QStringLiteral("301");
    info.sip.password = QStringLiteral("secret");
    info.sip.expire = QStringLiteral("60");
    {
        ZvDB db;
        ASSERT_GT(db.insertZvRtp(ZvDB::toZvRtp(info)), 0);
    }

    const QString logFile = m_app.filePath(QStringLiteral("sipp.log"));
    QProcess registrar;
    registrar.start(QStringLiteral("sipp"),
                    {"-sf", TestSupport::sourceDir() + "/tests/ZADer/sip/sipp/reg_plain.xml", "-i", "127.0.0.1", "-p",
                     QString::number(registrarPort), "-m", "1000", "-timeout", "60s", "-nostdin", "-trace_logs",
                     "-log_file", logFile});
    ASSERT_TRUE(registrar.waitForStarted(10000));
    // SIPp writes its log out when it ends: SIGUSR1 ends it once its transactions are done.
    const auto stopRegistrar = [&] {
        ::kill(pid_t(registrar.processId()), SIGUSR1);
        if (!registrar.waitForFinished(20000)) {
            registrar.kill();
            registrar.waitForFinished(5000);
        }
        QFile file(logFile);
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    };
    // The program's own log tells when a registration has gone through.
    const auto registrations = [&] {
        int count = 0;
        for (const QFileInfo& log : QDir(m_app.filePath(QStringLiteral("log"))).entryInfoList(QDir::Files)) {
            QFile file(log.filePath());
            if (file.open(QIODevice::ReadOnly))
                count += file.readAll().count("Registration succeeded");
        }
        return count;
    };
    ASSERT_TRUE(start());
    EXPECT_TRUE(TestSupport::waitUntil([&] { return registrations() >= 1; }, 20000));
    RDOptionsDialog dialog;
    RDOptionsNetworkWidget* page = dialog.networkPage();
    const int newPort = freeUdpPort();
    page->sipPortField()->setText(QString::number(newPort));
    page->onSipPortEditFinished();
    EXPECT_EQ(setting(QStringLiteral("sip port")), QString::number(newPort));
    EXPECT_TRUE(TestSupport::waitUntil([&] { return registrations() >= 2; }, 20000));
    const QString seen = stopRegistrar();
    const auto sentFrom = [&](int port) {
        return seen.contains(QRegularExpression(QStringLiteral("REGISTER contact \\S+ expires [1-9][0-9]* via \\S+:%1\\s").arg(port)));
    };
    const bool first = sentFrom(m_sipPort);
    const bool second = sentFrom(newPort);
    EXPECT_TRUE(first) << "REGISTER from the start-up port " << m_sipPort;
    EXPECT_TRUE(second) << "REGISTER from the new port " << newPort << "\n" << seen.toStdString();
}
