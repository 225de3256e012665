#include "AutoStartEntry.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

TEST(AutoStartEntryTest, QuotesTheExecPath)
{
    const struct
    {
        const char* path;
        const char* exec;
    } cases[] = {
        {"/usr/bin/sonaris", "\"/usr/bin/sonaris\""},
        {"/opt/Quorvel Sonaris/sonaris", "\"/opt/Quorvel Sonaris/sonaris\""},
        {"/opt/a\"b", "\"/opt/a\\\\\"b\""},
        {"/opt/$HOME/`x`", "\"/opt/\\\\$HOME/\\\\`x\\\\`\""},
        {"/opt/back\\slash", "\"/opt/back\\\\\\\\slash\""},
        {"/opt/100%/x", "\"/opt/100%%/x\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AutoStartEntry::quoteExec(QString::fromUtf8(c.path)), QString::fromUtf8(c.exec)) << c.path;
    EXPECT_TRUE(AutoStartEntry::content("App", "/opt/a\nb").isEmpty());
    EXPECT_TRUE(AutoStartEntry::content("App", "").isEmpty());
}

TEST(AutoStartEntryTest, InstallWritesOnceAndRemoveDeletes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    const QString path = AutoStartEntry::filePath("Quorvel Sonaris");
    EXPECT_EQ(path, dir.path() + "/autostart/Quorvel Sonaris.desktop");

    ASSERT_TRUE(AutoStartEntry::install("Quorvel Sonaris", "/opt/Quorvel Sonaris/sonaris"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    file.close();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nType=Application\n"));
    EXPECT_TRUE(text.contains("\nExec=\"/opt/Quorvel Sonaris/sonaris\"\n")) << text.constData();

    struct stat before, after;
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &before), 0);
    usleep(20000);
    ASSERT_TRUE(AutoStartEntry::install("Quorvel Sonaris", "/opt/Quorvel Sonaris/sonaris"));
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "same content: not written again";
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);

    ASSERT_TRUE(AutoStartEntry::install("Quorvel Sonaris", "/usr/bin/sonaris"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("\nExec=\"/usr/bin/sonaris\"\n")) << "a new path replaces the old";
    file.close();

    EXPECT_TRUE(AutoStartEntry::remove("Quorvel Sonaris"));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(AutoStartEntry::remove("Quorvel Sonaris")) << "nothing to remove is fine";
    qunsetenv("XDG_CONFIG_HOME");
}

TEST(AutoStartEntryTest, BlockedTargetsGiveFalse)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    // A file where the autostart folder should be.
    {
        QFile blocker(dir.filePath("autostart"));
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    EXPECT_FALSE(AutoStartEntry::install("App", "/usr/bin/app"));
    ASSERT_TRUE(QFile::remove(dir.filePath("autostart")));
    // A non-empty folder where the entry should be: it can be neither written nor removed.
    ASSERT_TRUE(QDir(dir.path()).mkpath("autostart/App.desktop/inner"));
    EXPECT_FALSE(AutoStartEntry::install("App", "/usr/bin/app"));
    EXPECT_FALSE(AutoStartEntry::remove("App"));
    qunsetenv("XDG_CONFIG_HOME");
}
