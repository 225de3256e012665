#include "RDMessageBox.h"

#include "GuiTest.h"
#include "GuiTestHook.h"
#include "RDFileDialog.h"
#include "UrlRecorder.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QListView>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Shows the real boxes: the scripted hook is out of the way for the test's lifetime.
class RealBoxes : public ::testing::Test
{
protected:
    void SetUp() override { RDModalHook::setInstance(nullptr); }
    void TearDown() override { RDModalHook::setInstance(&GuiTest::hook()); }
};

using BoxFunction = std::function<int(const QString&, const QString&, const QString&)>;

} // namespace

TEST_F(RealBoxes, KeyTable)
{
    const BoxFunction information = showInformationBox;
    const BoxFunction warning = showWarningBox;
    const struct {
        const char* name;
        BoxFunction show;
        const char* yes;
        const char* no;
        Qt::Key key;
        int expected;
        QStringList captions;
    } cases[] = {
        {"warning both, Return", warning, "OK", "Cancel", Qt::Key_Return, QMessageBox::No, {"OK", "Cancel"}},
        {"information both, Return", information, "OK", "Cancel", Qt::Key_Return, QMessageBox::Yes,
         {"OK", "Cancel"}},
        {"yes only, Return", information, "Install", "", Qt::Key_Return, QMessageBox::Yes, {"Install"}},
        {"warning yes only, Return", warning, "OK", "", Qt::Key_Return, QMessageBox::Yes, {"OK"}},
        {"both, Escape", information, "OK", "Cancel", Qt::Key_Escape, QMessageBox::No, {"OK", "Cancel"}},
    };
    for (const auto& c : cases) {
        QStringList captions;
        QString title;
        QString text;
        GuiTest::onModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            for (QAbstractButton* button : box->buttons())
                captions << button->text();
            QTest::keyClick(box, c.key);
        });
        EXPECT_EQ(c.show("Please stop rtp", c.yes, c.no), c.expected) << c.name;
        EXPECT_EQ(title, qAppName()) << c.name;
        EXPECT_EQ(text, "Please stop rtp") << c.name;
        captions.sort();
        QStringList expected = c.captions;
        expected.sort();
        EXPECT_EQ(captions, expected) << c.name;
    }
}

TEST_F(RealBoxes, ClickByCaptionAndClosedBox)
{
    GuiTest::onModal([](QWidget* modal) {
        for (QAbstractButton* button : static_cast<QMessageBox*>(modal)->buttons())
            if (button->text() == "Cancel")
                QTest::mouseClick(button, Qt::LeftButton);
    });
    EXPECT_EQ(showInformationBox("Export Success", "OK", "Cancel"), QMessageBox::No);

    // A box ended without a button answers Cancel.
    GuiTest::onModal([](QWidget* modal) { static_cast<QDialog*>(modal)->done(-1); });
    EXPECT_EQ(showMessageBox(QMessageBox::Warning, "Stream Url is Empty", "OK", "", QMessageBox::NoButton),
              QMessageBox::Cancel);
}

TEST_F(RealBoxes, Picture)
{
    QString path;
    GuiTest::onModal([&](QWidget* modal) {
        path = GuiTest::grabToPng(modal, "message_box");
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    showWarningBox("Sonaris.db, The file already exists, do you want to overwrite it", "Ok", "Cancel");
    EXPECT_FALSE(path.isEmpty());
}

TEST(MessageBoxHook, AnswersAndRecords)
{
    GuiTestHook& hook = GuiTest::hook();
    hook.reset();
    hook.answerBox(QMessageBox::No);
    EXPECT_EQ(showInformationBox("Please install npcap first", "Install", "Cancel"), QMessageBox::No);
    // Unscripted: the default button.
    EXPECT_EQ(showWarningBox("Program already running", "OK", ""), QMessageBox::Yes);
    EXPECT_EQ(showWarningBox("Delete?", "OK", "Cancel"), QMessageBox::No);
    ASSERT_EQ(hook.boxes().size(), 3);
    EXPECT_EQ(hook.boxes()[0].icon, QMessageBox::Information);
    EXPECT_EQ(hook.boxes()[0].defaultButton, QMessageBox::Yes);
    EXPECT_EQ(hook.boxes()[0].yesCaption, "Install");
    EXPECT_EQ(hook.boxes()[2].defaultButton, QMessageBox::No);
    EXPECT_EQ(hook.boxTexts(), QStringList({"Please install npcap first", "Program already running", "Delete?"}));
    hook.reset();
}

TEST(FileDialogHook, AnswersAndRecords)
{
    GuiTestHook& hook = GuiTest::hook();
    hook.reset();
    hook.answerFiles({"/tmp/a.bin"});
    EXPECT_EQ(selectFiles(QFileDialog::ExistingFile, "*.bin"), QStringList({"/tmp/a.bin"}));
    EXPECT_TRUE(selectFiles(QFileDialog::Directory).isEmpty());   // unscripted: cancelled
    ASSERT_EQ(hook.fileAsks().size(), 2);
    EXPECT_EQ(hook.fileAsks()[0].nameFilter, "*.bin");
    EXPECT_EQ(hook.fileAsks()[1].mode, QFileDialog::Directory);
    hook.reset();
}

// The real dialog lists the files of every pattern of a ';'-separated filter, and no others.
TEST_F(RealBoxes, FileDialogTakesPatternsSeparatedBySemicolons)
{
    QTemporaryDir dir;
    for (const char* name : {"a.mp3", "b.wav", "c.flac", "d.txt", "e.mp3.bak"}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QStringList filters;
    QStringList listed;
    GuiTest::onModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        filters = dialog->nameFilters();
        dialog->setDirectory(dir.path());
        auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
        ASSERT_NE(view, nullptr);
        // The folder is read in the background; its five files and their filtering arrive later.
        GuiTest::waitFor([&] {
            listed.clear();
            const QModelIndex root = view->rootIndex();
            for (int row = 0; row < view->model()->rowCount(root); ++row) {
                const QModelIndex index = view->model()->index(row, 0, root);
                if (view->model()->flags(index) & Qt::ItemIsEnabled)
                    listed.append(index.data().toString());
            }
            listed.sort();
            return listed.size() == 3;
        });
        dialog->reject();
    });
    EXPECT_TRUE(selectFiles(QFileDialog::ExistingFile, "*.mp3;*.wav;*.flac").isEmpty());
    EXPECT_EQ(filters, QStringList({"*.mp3 *.wav *.flac"}));
    EXPECT_EQ(listed, QStringList({"a.mp3", "b.wav", "c.flac"}));
}

TEST(UrlRecorder, CatchesOpenedUrls)
{
    UrlRecorder recorder;
    EXPECT_TRUE(QDesktopServices::openUrl(QUrl("http://127.0.0.1:5262/api")));
    ASSERT_EQ(recorder.urls().size(), 1);
    EXPECT_EQ(recorder.urls()[0], QUrl("http://127.0.0.1:5262/api"));
}
