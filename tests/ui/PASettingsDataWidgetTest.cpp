// The Data page with the application object in this process: export and import of the channel
// database checked with the sqlite3 command, and the action-log button.
#include "PASettingsDataWidget.h"

#include "GuiTest.h"
#include "GuiTestHook.h"
#include "RtpManager.h"
#include "Sonaris.h"
#include "TestSupport.h"
#include "UiAppFixture.h"
#include "ZvDB.h"
#include "ZvLogDialog.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class PASettingsDataWidgetTest : public UiAppFixture
{
protected:
    void SetUp() override
    {
        UiAppFixture::SetUp();
        SONARIS_REQUIRE_COMMANDS("sqlite3");
    }

    static QByteArray readAll(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static QByteArray query(const QString& file, const QString& sql)
    {
        return TestSupport::run(QStringLiteral("sqlite3"), {file, sql}).out;
    }

    void addChannel(const QString& name, const QString& address)
    {
        sqlite(QStringLiteral("insert into rtp(name, address, codec, volume, source) values('%1', '%2', 3, 80, 1);")
                   .arg(name, address));
    }

    void clickExport(PASettingsDataWidget& page) { QTest::mouseClick(page.exportButton(), Qt::LeftButton); }
    void clickImport(PASettingsDataWidget& page) { QTest::mouseClick(page.importButton(), Qt::LeftButton); }
};

} // namespace

TEST_F(PASettingsDataWidgetTest, ExportIntoAFolderAndOverAnExistingFile)
{
    create();
    addChannel(QStringLiteral("Hall"), QStringLiteral("239.255.0.1:8000"));
    PASettingsDataWidget page;
    page.resize(500, 300);
    page.show();
    GuiTest::grabToPng(&page, QStringLiteral("data_page"));
    QTemporaryDir folder;
    const QString target = folder.filePath(QStringLiteral("zv.db"));

    GuiTest::hook().answerFiles({folder.path()});
    clickExport(page);
    EXPECT_EQ(GuiTest::hook().fileAsks().at(0).mode, QFileDialog::Directory);
    EXPECT_EQ(GuiTest::hook().boxTexts(), QStringList{"Export Success"});
    const QByteArray tables = query(target, QStringLiteral(".tables"));
    for (const char* table : {"rtp", "settings", "vdb_version"})
        EXPECT_TRUE(tables.contains(table)) << tables.toStdString();
    EXPECT_EQ(query(target, QStringLiteral("select name from rtp where address != '239.255.0.0:8000';")), "Hall\n");

    // Onto the existing file: asked first; Cancel leaves it byte for byte.
    addChannel(QStringLiteral("Yard"), QStringLiteral("239.255.0.2:8000"));
    const QByteArray before = readAll(target);
    GuiTest::hook().reset();
    GuiTest::hook().answerFiles({folder.path()});
    GuiTest::hook().answerBox(QMessageBox::No);
    clickExport(page);
    EXPECT_EQ(GuiTest::hook().boxTexts(),
              QStringList{"zv.db, The file already exists, do you want to overwrite it"});
    EXPECT_EQ(readAll(target), before);

    GuiTest::hook().reset();
    GuiTest::hook().answerFiles({folder.path()});
    GuiTest::hook().answerBox(QMessageBox::Yes);
    clickExport(page);
    EXPECT_EQ(GuiTest::hook().boxTexts().last(), "Export Success");
    EXPECT_EQ(query(target, QStringLiteral("select name from rtp where address != '239.255.0.0:8000' order by name;")), "Hall\nYard\n");

    // A cancelled folder choice does nothing; a folder that cannot be written says so.
    GuiTest::hook().reset();
    clickExport(page);
    EXPECT_TRUE(GuiTest::hook().boxTexts().isEmpty());
    GuiTest::hook().answerFiles({folder.filePath(QStringLiteral("missing/deeper"))});
    clickExport(page);
    EXPECT_EQ(GuiTest::hook().boxTexts(), QStringList{"Export failed"});
}

// Import asks first; only "Import" replaces the data, and the open windows are told. A file
// that is not a channel database is refused and the database stays byte for byte.
TEST_F(PASettingsDataWidgetTest, ImportReplacesOrRefuses)
{
    ASSERT_TRUE(start());
    addChannel(QStringLiteral("Hall"), QStringLiteral("239.255.0.1:8000"));
    QTemporaryDir folder;
    const QString exported = folder.filePath(QStringLiteral("zv.db"));
    ASSERT_TRUE(ZvDB::exportTo(exported));
    query(exported, QStringLiteral("update rtp set name = 'Imported' where name = 'Hall';"));
    query(exported, QStringLiteral("insert or replace into settings(key, value) values('language', 'Deutsch');"));
    PASettingsDataWidget page;
    QSignalSpy imported(&page, &PASettingsDataWidget::dataImported);

    GuiTest::hook().answerFiles({exported});
    GuiTest::hook().answerBox(QMessageBox::No);
    clickImport(page);
    EXPECT_EQ(GuiTest::hook().boxTexts(), QStringList{"Import data will overwrite the original data"});
    EXPECT_EQ(sqlite(QStringLiteral("select name from rtp where address != '239.255.0.0:8000';")), "Hall\n");
    EXPECT_EQ(imported.count(), 0);

    GuiTest::hook().reset();
    GuiTest::hook().answerFiles({exported});
    GuiTest::hook().answerBox(QMessageBox::Yes);
    clickImport(page);
    EXPECT_EQ(GuiTest::hook().boxTexts().last(), "Import Success");
    EXPECT_EQ(sqlite(QStringLiteral("select name from rtp where address != '239.255.0.0:8000';")), "Imported\n");
    EXPECT_EQ(imported.count(), 1);
    // The application's own connection reads the new file.
    EXPECT_EQ(m_sonaris->language(), "Deutsch");
    QStringList names;
    for (const RtpInfo& info : RtpManager::instance()->getRtpInfos())
        names << info.name;
    EXPECT_TRUE(names.contains("Imported")) << names.join(',').toStdString();
    EXPECT_FALSE(names.contains("Hall"));

    // Not ours: a text file and a foreign SQLite database.
    const QString text = folder.filePath(QStringLiteral("notes.txt"));
    {
        QFile file(text);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a database\n");
    }
    const QString foreign = folder.filePath(QStringLiteral("foreign.db"));
    query(foreign, QStringLiteral("create table people(name text); insert into people values('x');"));
    for (const QString& path : {text, foreign}) {
        const QByteArray before = readAll(databaseFile());
        GuiTest::hook().reset();
        GuiTest::hook().answerFiles({path});
        GuiTest::hook().answerBox(QMessageBox::Yes);
        clickImport(page);
        EXPECT_EQ(GuiTest::hook().boxTexts().last(), "Import failed") << path.toStdString();
        EXPECT_EQ(readAll(databaseFile()), before) << path.toStdString();
        EXPECT_EQ(imported.count(), 1);
    }
    EXPECT_EQ(sqlite(QStringLiteral("select name from rtp where address != '239.255.0.0:8000';")), "Imported\n");
}

TEST_F(PASettingsDataWidgetTest, LogButtonListsEveryChannelAddress)
{
    create();
    addChannel(QStringLiteral("Hall"), QStringLiteral("239.255.0.1:8000"));
    addChannel(QStringLiteral("Yard"), QStringLiteral("239.255.0.2:8000"));
    ASSERT_TRUE(start());
    PASettingsDataWidget page;
    QStringList items;
    GuiTest::onModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<ZvLogDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        for (int i = 0; i < dialog->addressChoice()->count(); ++i)
            items << dialog->addressChoice()->itemText(i);
        dialog->reject();
    });
    QTest::mouseClick(page.logButton(), Qt::LeftButton);
    ASSERT_FALSE(items.isEmpty());
    EXPECT_EQ(items.first(), "All");
    EXPECT_TRUE(items.contains("239.255.0.1:8000"));
    EXPECT_TRUE(items.contains("239.255.0.2:8000"));
    EXPECT_EQ(items.size(), RtpManager::instance()->getRtpInfos().size() + 1);
}
