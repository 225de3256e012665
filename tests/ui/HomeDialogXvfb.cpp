// The whole program with real windows: as root in the tool namespace of netns-run.sh, with the two
// simulated devices behind its adapter, on a private X server. It has to find both devices by
// itself, show them in its table and copy them from there; the channel editor, every options page
// and the QR code dialog are opened with the pointer as a user would open them; SIGTERM with all
// of them open ends it with exit code 0. Every window is left as a picture in the test's output
// folder for a person to look at.
#include "GuiTest.h"
#include "HomeDialog.h"
#include "HomeTopWidget.h"
#include "RDButton.h"
#include "RDOptionsDialog.h"
#include "RDPixmapWidget.h"
#include "RDServerAPIWidget.h"
#include "RDSystemNetwork.h"
#include "SonarisRun.h"
#include "TestDeviceSim.h"
#include "TestSupport.h"
#include "VexaCode.h"
#include "XvfbDisplay.h"
#include "ZAVezeDevice.h"
#include "ZAVezeDeviceTableWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

const QSize kScreen(1920, 1080);
const int kDpi = 96;
// Generous: the program runs under the sanitizers on a machine shared with other test runs.
const int kWindowMs = 30000;

// Where the program's windows have what the test clicks, at the size the real window has: the
// same classes laid out here on the offscreen platform at 96 dpi (as the test main sets it up)
// with the font the program has on the X display, so that only the windows' own arithmetic counts.
class ProgramFont
{
public:
    explicit ProgramFont(const XvfbDisplay& display)
        : m_saved(QApplication::font())
    {
        QFont font;
        m_known = display.applicationFont(&font);
        // What main() does with the font it finds.
        font.setFamily(QStringLiteral("Arial"));
        QApplication::setFont(font);
    }
    ~ProgramFont() { QApplication::setFont(m_saved); }
    bool isKnown() const { return m_known; }

private:
    QFont m_saved;
    bool m_known = false;
};

struct HomeSpots
{
    QPoint rtpButton;
    QPoint optionsButton;
    QPoint cell[2][ZAVezeDeviceTableWidget::ColumnCount];
};

HomeSpots homeSpots(const QSize& size)
{
    HomeDialog home(-1);
    home.showNormal();
    home.resize(size);
    home.tableWidget()->setDevices({ZAVezeDevice(), ZAVezeDevice()});
    QApplication::processEvents();
    HomeSpots spots;
    const auto centre = [&](QWidget* widget) { return widget->mapTo(&home, widget->rect().center()); };
    spots.rtpButton = centre(home.topWidget()->rtpButton());
    spots.optionsButton = centre(home.topWidget()->settingsButton());
    QTableWidget* view = home.tableWidget()->tableWidget();
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < ZAVezeDeviceTableWidget::ColumnCount; ++column)
            spots.cell[row][column] =
                view->viewport()->mapTo(&home, view->visualRect(view->model()->index(row, column)).center());
    return spots;
}

struct OptionsSpots
{
    QPoint tab[5];
    QPoint apiCode;
};

OptionsSpots optionsSpots(const QSize& size)
{
    RDOptionsDialog options;
    options.resize(size);
    options.show();
    options.tabs()->setCurrentIndex(RDOptionsDialog::kAppConnectPage);
    QApplication::processEvents();
    OptionsSpots spots;
    QTabBar* bar = options.tabs()->tabBar();
    for (int i = 0; i < 5; ++i)
        spots.tab[i] = bar->mapTo(&options, bar->tabRect(i).center());
    RDPixmapWidget* code = options.appConnectPage()->apiImage();
    spots.apiCode = code->parentWidget()->mapTo(&options, code->geometry().center());
    return spots;
}

// The simulated devices of devices.json as the table lists them (by address): name, MAC, IP.
QList<QStringList> simulatedDevices()
{
    QFile file(TestSupport::sourceDir() + QStringLiteral("/tests/ZAVeze/sim/devices.json"));
    QList<QStringList> devices;
    if (!file.open(QIODevice::ReadOnly))
        return devices;
    for (const QJsonValue& value : QJsonDocument::fromJson(file.readAll()).object().value("devices").toArray()) {
        const QJsonObject device = value.toObject();
        devices.append({device.value("info").toObject().value("name").toString(), device.value("mac").toString(),
                        device.value("ip").toString()});
    }
    std::sort(devices.begin(), devices.end(), [](const QStringList& a, const QStringList& b) {
        return QHostAddress(a.at(2)).toIPv4Address() < QHostAddress(b.at(2)).toIPv4Address();
    });
    return devices;
}

QString adapterAddress()
{
    for (const RDSystemNetwork& network : RDSystemNetwork::networks())
        if (network.name() == TestDeviceSim::interfaceName())
            return network.ip();
    return QString();
}

// The program's windows as the X server sees them, polled every 100 ms. Each poll also takes in
// what the program printed, so that its output pipe never fills up and stops it.
class ProgramWindows
{
public:
    ProgramWindows(const XvfbDisplay& display, SonarisRun& run)
        : m_display(display)
        , m_run(run)
    {
    }

    // Waits for a window of the program at least that large that was not there before (smaller
    // ones, such as tool tips and progress dialogs, are passed over); an empty one after timeoutMs.
    XvfbDisplay::Window waitForNew(const QSize& atLeast, int timeoutMs = kWindowMs)
    {
        QElapsedTimer clock;
        clock.start();
        do {
            m_run.output();
            for (const XvfbDisplay::Window& window : m_display.windows(m_run.pid())) {
                if (!m_known.contains(window.id) && window.geometry.width() >= atLeast.width() &&
                    window.geometry.height() >= atLeast.height()) {
                    m_known.insert(window.id);
                    return window;
                }
            }
            QThread::msleep(100);
        } while (clock.elapsed() < timeoutMs);
        return XvfbDisplay::Window();
    }

    // Waits until the one window is all the program shows.
    bool waitForOnly(const XvfbDisplay::Window& kept, int timeoutMs = kWindowMs)
    {
        QElapsedTimer clock;
        clock.start();
        do {
            m_run.output();
            const QList<XvfbDisplay::Window> shown = m_display.windows(m_run.pid());
            if (shown.size() == 1 && shown.first().id == kept.id)
                return true;
            QThread::msleep(100);
        } while (clock.elapsed() < timeoutMs);
        return false;
    }

private:
    const XvfbDisplay& m_display;
    SonarisRun& m_run;
    QSet<QString> m_known;
};

bool save(const QByteArray& png, const QString& name)
{
    QFile file(GuiTest::outputDir() + QLatin1Char('/') + name + QStringLiteral(".png"));
    return !png.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(png) == png.size();
}

} // namespace

TEST(HomeDialogXvfb, FindsBothDevicesOpensEveryWindowAndEndsOnSigterm)
{
    SONARIS_REQUIRE_PEER(TestDeviceSim::unavailableReason().isEmpty(), TestDeviceSim::unavailableReason().toStdString());
    // As a user runs it: root, so that the capture opens. netns-run.sh without root falls back to
    // an unprivileged user namespace, where the program would not run as it does for users.
    SONARIS_REQUIRE_PEER(geteuid() == 0 && qEnvironmentVariableIsEmpty("ZAVEZE_NETNS_INNER"),
                         "root (the whole program runs as root in the test's network namespace)");
    SONARIS_REQUIRE_COMMANDS("Xvfb", "xdotool", "ffmpeg", "zbarimg", "setpriv");

    XvfbDisplay display;
    ASSERT_TRUE(display.start(kScreen, kDpi)) << display.errorText().toStdString();

    SonarisRun run;
    ASSERT_TRUE(run.isValid());
    ASSERT_TRUE(run.seed({{QStringLiteral("network name"), TestDeviceSim::interfaceName()},
                          {QStringLiteral("api enable"), QStringLiteral("1")}}));
    // Without Qt's GLX integration: the program draws with the raster engine alone, and the GLX
    // plugin would load Mesa's software driver only to choose window visuals. That driver keeps an
    // allocation in its own globals and is unloaded at exit, which LeakSanitizer then reports as
    // a leak, and it takes Xlib's display lock where ThreadSanitizer cannot see it.
    ASSERT_TRUE(run.start({QStringLiteral("QT_QPA_PLATFORM=xcb"), QStringLiteral("QT_XCB_GL_INTEGRATION=none"),
                           QStringLiteral("DISPLAY=") + display.name(),
                           QStringLiteral("SONARIS_APP_DIR=") + run.dir(),
                           QStringLiteral("XDG_CONFIG_HOME=") + run.path(QStringLiteral("config"))}));
    QElapsedTimer sinceStart;
    sinceStart.start();
    ProgramWindows windows(display, run);

    // The main window, and the scan it starts by itself.
    const XvfbDisplay::Window homeWindow = windows.waitForNew(QSize(1000, 600));
    const QRect home = homeWindow.geometry;
    ASSERT_FALSE(home.isEmpty()) << "no window after " << kWindowMs << " ms\n" << run.output().toStdString();
    EXPECT_EQ(home.size(), QSize(kScreen.width() * 8 / 10, kScreen.height() * 8 / 10))
        << "80% of the screen (no window manager here to maximise it)";
    const QList<QStringList> devices = simulatedDevices();
    ASSERT_EQ(devices.size(), 2);
    for (const QStringList& device : devices) {
        const QJsonObject answered = TestDeviceSim::waitForLog(
            [&](const QJsonObject& entry) {
                return entry.value("identity").toString() == device.at(1) &&
                       entry.value("body").toObject().value("method").toString() == "search" &&
                       entry.value("action").toString().startsWith("reply");
            },
            kWindowMs);
        EXPECT_FALSE(answered.isEmpty()) << "the simulated device " << device.at(1).toStdString()
                                         << " got no search to answer";
    }
    ASSERT_TRUE(windows.waitForOnly(homeWindow)) << "the search dialog did not close";
    const QByteArray homePicture = display.grabSettled(home);
    EXPECT_TRUE(save(homePicture, QStringLiteral("home")));
    std::printf("home.png taken %.1f s after the start\n", sinceStart.elapsed() / 1000.0);

    // What the table holds, copied from it: the names, MACs and addresses of both rows.
    const ProgramFont font(display);
    ASSERT_TRUE(font.isKnown()) << "the font of a program on the display is not known";
    const HomeSpots spots = homeSpots(home.size());
    ASSERT_TRUE(display.click(home.topLeft() + spots.cell[0][ZAVezeDeviceTableWidget::NameColumn]));
    ASSERT_TRUE(display.click(home.topLeft() + spots.cell[1][ZAVezeDeviceTableWidget::IpColumn], true));
    QString expected;
    for (const QStringList& device : devices)
        expected += (expected.isEmpty() ? QString() : QStringLiteral("\n")) + device.join(QLatin1Char('\t'));
    QString copied;
    for (int attempt = 0; attempt < 10 && copied != expected; ++attempt) {
        ASSERT_TRUE(display.key(QStringLiteral("ctrl+c")));
        copied = display.clipboardText();
    }
    EXPECT_EQ(copied.toStdString(), expected.toStdString());
    EXPECT_TRUE(save(display.grabSettled(home, homePicture), QStringLiteral("home-selected")));

    // The channel editor.
    ASSERT_TRUE(display.click(home.topLeft() + spots.rtpButton));
    const QRect editor = windows.waitForNew(QSize(700, 700)).geometry;
    ASSERT_FALSE(editor.isEmpty()) << "no channel editor";
    EXPECT_TRUE(save(display.grabSettled(editor), QStringLiteral("channel-editor")));

    // The options, page by page; the App Connect page last, for its QR code.
    ASSERT_TRUE(display.click(home.topLeft() + spots.optionsButton));
    const QRect options = windows.waitForNew(QSize(620, 380)).geometry;
    ASSERT_FALSE(options.isEmpty()) << "no options dialog";
    const OptionsSpots optionSpots = optionsSpots(options.size());
    QByteArray page = display.grabSettled(options);
    EXPECT_TRUE(save(page, QStringLiteral("options-general")));
    const struct
    {
        int tab;
        const char* name;
    } pages[] = {{1, "options-network"}, {2, "options-about"}, {4, "options-data"}, {3, "options-app-connect"}};
    for (const auto& shown : pages) {
        ASSERT_TRUE(display.click(options.topLeft() + optionSpots.tab[shown.tab]));
        page = display.grabSettled(options, page);
        EXPECT_TRUE(save(page, QLatin1String(shown.name))) << shown.name << " did not show";
    }

    const QString caption = adapterAddress() + QStringLiteral(":9012");
    ASSERT_TRUE(display.click(options.topLeft() + optionSpots.apiCode));
    const QRect qr = windows.waitForNew(QSize(400, 430)).geometry;
    ASSERT_FALSE(qr.isEmpty()) << "no QR code dialog";
    EXPECT_TRUE(save(display.grabSettled(qr), QStringLiteral("qr-code")));
    const TestSupport::Result decoded = TestSupport::run(
        QStringLiteral("zbarimg"),
        {QStringLiteral("--raw"), QStringLiteral("-q"), GuiTest::outputDir() + QStringLiteral("/qr-code.png")});
    EXPECT_EQ(QString::fromUtf8(decoded.out).trimmed().toStdString(), VexaCode::encode(caption).toStdString());

    // The end a session manager gives it, with the two modal dialogs and the editor open.
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitForExit(60000), 0) << run.output().toStdString();
    std::printf("the whole run took %.1f s\n", sinceStart.elapsed() / 1000.0);
}
