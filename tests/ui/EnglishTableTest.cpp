// The English table the program ships in language/: every text the windows, dialogs, messages
// and workers look up has an entry there, under the key the table's reader makes of it and with
// the text itself as its value, so that choosing English changes nothing a user sees and a
// translator has every text to copy. A fresh installation lists it in the options.
#include "GuiTest.h"
#include "GuiTestHook.h"
#include "HomeDialog.h"
#include "PASettingsDataWidget.h"
#include "RDLanguage.h"
#include "RDOptionsDialog.h"
#include "RDOptionsGenernalWidget.h"
#include "RDOptionsNetworkWidget.h"
#include "RDServerAPIWidget.h"
#include "RtpInfoBellWidget.h"
#include "RtpInfoDialog.h"
#include "RtpInfoHttpDialog.h"
#include "RtpInfoListWidget.h"
#include "RtpInfoPlaylistWidget.h"
#include "RtpInfoScheduleDialog.h"
#include "RtpInfoSipDialog.h"
#include "RtpInfoStreamWidget.h"
#include "RtpInfoWidget.h"
#include "SingleInstanceLock.h"
#include "SipChannel.h"
#include "Sonaris.h"
#include "TestSupport.h"
#include "UiAppFixture.h"
#include "ZAVezeDeviceIPSetWidget.h"
#include "ZAVezeDeviceNameSetWidget.h"
#include "ZAVezeDeviceSearchDialog.h"
#include "ZAVezeDeviceSetWidget.h"
#include "ZAVezeDeviceSystemSetWidget.h"
#include "ZvLogDialog.h"
#include "ZvLogsView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>

namespace {

const QString kEnglish = QStringLiteral("English");

// The lookups seen while a Recorder lives; the observer may be called from worker threads.
std::mutex g_lookupMutex;
QSet<QString> g_lookups;

void recordLookup(const QString& text)
{
    std::lock_guard<std::mutex> lock(g_lookupMutex);
    g_lookups.insert(text);
}

class LookupRecorder
{
public:
    LookupRecorder()
    {
        std::lock_guard<std::mutex> lock(g_lookupMutex);
        g_lookups.clear();
        RDLanguage::setLookupObserver(&recordLookup);
    }
    ~LookupRecorder() { RDLanguage::setLookupObserver(nullptr); }

    QStringList texts() const
    {
        std::lock_guard<std::mutex> lock(g_lookupMutex);
        QStringList sorted = g_lookups.values();
        sorted.sort();
        return sorted;
    }
};

QString shippedFolder()
{
    return TestSupport::sourceDir() + QStringLiteral("/language");
}

// The English table as the program reads it.
QMap<QString, QString> shippedTable()
{
    RDLanguage::setLanguagePath(shippedFolder());
    QMap<QString, QString> table;
    EXPECT_TRUE(RDLanguage::loadLanguage(kEnglish, table)) << shippedFolder().toStdString();
    return table;
}

class EnglishTableTest : public UiAppFixture
{
protected:
    void TearDown() override
    {
        UiAppFixture::TearDown();
        qunsetenv("SONARIS_FAKE_NO_CAPTURE_DRIVER");
        RDLanguage::initLanguage(QString());
    }

    // Start-up as far as its questions: refused while another copy holds the lock, then asked
    // for the capture driver.
    void startAskingEverything()
    {
        {
            SingleInstanceLock other(Sonaris::kApplicationName);
            ASSERT_EQ(other.acquire(), SingleInstanceLock::Acquired);
            create();
            ASSERT_NE(m_sonaris->init(0, nullptr), 0);
            m_sonaris->shutdown();
            Sonaris::destroyInstance();
            m_sonaris = nullptr;
        }
        qputenv("SONARIS_FAKE_NO_CAPTURE_DRIVER", "1");
        ASSERT_TRUE(start());
    }

    // The device panel with no device chosen: every button pressed at each stage of filling its
    // fields, so that each of its messages comes up once.
    static void pressEveryPanelButton(ZAVezeDeviceSetWidget* panel)
    {
        ZAVezeDeviceIPSetWidget* ip = panel->ipSetWidget();
        ip->modeList()->setCurrentIndex(ip->modeList()->findData(QStringLiteral("Static")));
        const std::function<void()> stages[] = {
            [] {},
            [&] {
                panel->nameSetWidget()->nameField()->setText(QStringLiteral("speaker"));
                ip->ipField()->setText(QStringLiteral("192.168.1.20"));
                panel->systemSetWidget()->usernameField()->setText(QStringLiteral("admin"));
            },
            [&] {
                ip->netmaskField()->setText(QStringLiteral("255.255.255.0"));
                panel->systemSetWidget()->passwordField()->setText(QStringLiteral("secret"));
            },
            [&] {
                ip->gatewayField()->setText(QStringLiteral("192.168.1.1"));
                ip->dns1Field()->setText(QStringLiteral("8.8."));
            },
        };
        for (const auto& stage : stages) {
            stage();
            for (QPushButton* button : panel->findChildren<QPushButton*>())
                button->click();
        }
    }

    // Texts the log table shows for every action, trigger, source and codec it knows.
    static void nameEveryLogColumn()
    {
        for (int action = 0; action <= 1; ++action) {
            ZvLogsView::actionName(action);
            for (int trigger = 0; trigger <= 6; ++trigger)
                ZvLogsView::triggerName(action, trigger);
        }
        for (int source : {1, 2, 4, 6, 16, 32, 64, 128, 247})
            ZvLogsView::sourceName(source);
        for (int codec = 0; codec < 6; ++codec)
            ZvLogsView::codecName(codec);
    }
};

} // namespace

// Every window and dialog built and then re-texted by a switch to English, with the messages
// their first clicks raise, the start-up questions, the registration states and the log's
// column texts: each text they looked up is an entry whose value is that same text. Texts with
// '=' or a line break could not be entries at all, and two spellings of one key could not both
// keep their spelling; both show up here as failures.
TEST_F(EnglishTableTest, EveryTextLookedUpIsAnEntryWithItselfAsValue)
{
    const QMap<QString, QString> table = shippedTable();
    ASSERT_FALSE(table.isEmpty());
    LookupRecorder recorder;

    startAskingEverything();
    // Start-up pointed the table at the empty folder of this run; the General page is to list
    // the shipped languages by their names.
    RDLanguage::setLanguagePath(shippedFolder());
    GuiTestHook& hook = GuiTest::hook();
    {
        HomeDialog home(-1);
        home.show();
        pressEveryPanelButton(home.setWidget());
        home.onClickRtpButton();
        RtpInfoDialog* editor = home.rtpInfoDialog();
        ASSERT_TRUE(editor);
        QListWidget* channels = editor->listWidget()->listWidget();
        ASSERT_GT(channels->count(), 0);
        editor->listWidget()->onClickAddButton();
        editor->listWidget()->onListWidgetContextMenu(channels->visualItemRect(channels->item(0)).center());
        editor->listWidget()->onListWidgetContextMenu(QPoint(5, channels->height() - 5));
        RtpInfoPlaylistWidget* playlist = editor->formWidget()->playlistWidget();
        playlist->setPlaylist({QStringLiteral("/nonexistent/a.mp3")}, -1, 0, 0, 0);
        playlist->onListWidgetCustomMenu(playlist->listWidget()->visualItemRect(playlist->listWidget()->item(0)).center());
        editor->formWidget()->bellWidget()->onClickPlayBellButton();  // no bell file yet
        editor->formWidget()->streamWidget()->onClickPlayButton();    // no URL yet

        RtpInfoScheduleDialog schedule;
        RtpInfoSipDialog sip;
        sip.accept(); // no port: refused with its message
        RtpInfoHttpDialog http;
        ZAVezeDeviceSearchDialog search;
        ZvLogDialog log;
        log.onClickSearch(false);

        RDOptionsDialog options;
        options.show();
        options.tabs()->setCurrentIndex(RDOptionsDialog::kAppConnectPage);
        options.networkPage()->sipPortField()->setText(QStringLiteral("0"));
        options.networkPage()->onClickSaveButton();
        RDServerAPIWidget* connect = options.appConnectPage();
        connect->authSwitch()->setChecked(true);
        connect->userField()->clear();
        connect->save();
        connect->authSwitch()->setChecked(false);
        connect->save();
        // Export twice into one folder (the second asks before it overwrites), then import a
        // file that is no database.
        const QString exported = m_app.filePath(QStringLiteral("export"));
        ASSERT_TRUE(QDir().mkpath(exported));
        hook.answerFiles({exported});
        hook.answerFiles({exported});
        options.dataPage()->onClickExportData(false);
        options.dataPage()->onClickExportData(false);
        const QString notes = m_app.filePath(QStringLiteral("notes.txt"));
        QFile text(notes);
        ASSERT_TRUE(text.open(QIODevice::WriteOnly) && text.write("not a database\n") > 0);
        text.close();
        hook.answerFiles({notes});
        hook.answerBox(QMessageBox::Yes);
        options.dataPage()->onClickImportData(false);

        // Every registered window re-applies its texts, as when the operator picks English.
        RDLanguage::setLanguage(kEnglish);
    }
    for (int state = 0; state <= 8; ++state)
        SipChannel::statusText(state);
    nameEveryLogColumn();

    const QStringList looked = recorder.texts();
    ASSERT_GT(looked.size(), 100) << "no lookups were recorded";
    QStringList missing;
    QStringList changed;
    for (const QString& text : looked) {
        const auto entry = table.constFind(text.toLower());
        if (entry == table.constEnd())
            missing << text;
        else if (entry.value() != text)
            changed << QStringLiteral("%1 -> %2").arg(text, entry.value());
    }
    EXPECT_TRUE(missing.isEmpty()) << "not in English.txt: " << missing.join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(changed.isEmpty()) << "English.txt shows otherwise: " << changed.join(QStringLiteral(" | ")).toStdString();
}

// The other way round, from the sources rather than from a run (a message of a rare failure is
// not reached above): every value is a literal text of the program, or the name of a language
// file. An entry left behind by a renamed text would leave translators working on a dead text.
TEST_F(EnglishTableTest, EveryEntryIsATextOfTheProgram)
{
    const QMap<QString, QString> table = shippedTable();
    QByteArray sources;
    QDirIterator it(TestSupport::sourceDir() + QStringLiteral("/src"), {QStringLiteral("*.cpp"), QStringLiteral("*.h")},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        sources += file.readAll();
    }
    QStringList languages;
    QStringList displayNames;
    RDLanguage::languages(languages, displayNames);
    ASSERT_TRUE(languages.contains(kEnglish));

    QStringList stale;
    for (auto entry = table.constBegin(); entry != table.constEnd(); ++entry) {
        if (entry.key() != entry.value().toLower())
            stale << entry.key() + QLatin1Char('=') + entry.value();
        else if (!languages.contains(entry.value()) && !sources.contains('"' + entry.value().toUtf8() + '"'))
            stale << entry.value();
    }
    EXPECT_TRUE(stale.isEmpty()) << "no such text in src/: " << stale.join(QStringLiteral(" | ")).toStdString();
}

// A fresh installation, laid out as the build leaves it (the language folder beside the
// program), starts on English, lists it on the General page, and shows the same pictures as
// with no table at all.
TEST_F(EnglishTableTest, AFreshInstallationListsEnglishAndLooksTheSame)
{
    const QString built = TestSupport::binaryDir() + QStringLiteral("/src/language");
    const QStringList files = QDir(built).entryList(QDir::Files);
    ASSERT_TRUE(files.contains(QStringLiteral("English.txt"))) << built.toStdString();
    ASSERT_TRUE(QDir().mkpath(m_app.filePath(QStringLiteral("language"))));
    for (const QString& name : files)
        ASSERT_TRUE(QFile::copy(built + QLatin1Char('/') + name, m_app.filePath(QStringLiteral("language/") + name)));

    ASSERT_TRUE(start());
    EXPECT_EQ(RDLanguage::currentLanguage(), kEnglish);
    EXPECT_EQ(RDLanguage::languagePath(), m_app.filePath(QStringLiteral("language")));
    QMap<QString, QString> table;
    ASSERT_TRUE(RDLanguage::loadLanguage(kEnglish, table));

    RDOptionsDialog options;
    options.resize(620, 380);
    options.show();
    QComboBox* choice = options.generalPage()->languageChoice();
    ASSERT_EQ(choice->count(), 1);
    EXPECT_EQ(choice->itemText(0), kEnglish);
    EXPECT_EQ(choice->itemData(0).toString(), kEnglish);
    EXPECT_EQ(choice->currentIndex(), 0);
    EXPECT_FALSE(GuiTest::grabToPng(&options, QStringLiteral("fresh-install-general")).isEmpty());

    // Picking the language that runs already stores nothing.
    const QString stored = setting(QStringLiteral("language"));
    options.generalPage()->onLanguageChanged(0);
    EXPECT_EQ(setting(QStringLiteral("language")), stored);

    // Each window made afresh under each table, since the channel editor and its dialogs take
    // their texts only when they are made.
    const auto pictures = [] {
        QList<QImage> shown;
        {
            RDOptionsDialog options;
            options.resize(620, 380);
            options.show();
            for (int page = 0; page < options.tabs()->count(); ++page) {
                options.tabs()->setCurrentIndex(page);
                shown << options.grab().toImage();
            }
        }
        const auto add = [&](QWidget&& window, const QSize& size) {
            window.resize(size);
            window.show();
            shown << window.grab().toImage();
        };
        add(HomeDialog(-1), QSize(1200, 700));
        add(RtpInfoDialog(), QSize(700, 700));
        add(RtpInfoScheduleDialog(), QSize(700, 500));
        add(RtpInfoSipDialog(), QSize(400, 330));
        add(RtpInfoHttpDialog(), QSize(500, 200));
        add(ZvLogDialog(), QSize(900, 500));
        return shown;
    };
    const QList<QImage> english = pictures();
    RDLanguage::setLanguage(QStringLiteral("no such language"));
    const QList<QImage> untranslated = pictures();
    ASSERT_EQ(english.size(), untranslated.size());
    for (int i = 0; i < english.size(); ++i)
        EXPECT_TRUE(english[i] == untranslated[i]) << "picture " << i << " differs";
}
