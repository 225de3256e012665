#include "SingleInstanceLock.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <QByteArray>
#include <QtGlobal>

#include <unistd.h>

TEST(SingleInstanceLockTest, LockFileNameIsSafeAndDistinct)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
    const std::string base = dir.path().toStdString() + "/";
    EXPECT_EQ(SingleInstanceLock::lockPath("Quorvel Sonaris"), base + "Quorvel_Sonaris.lock");
    EXPECT_EQ(SingleInstanceLock::lockPath("../etc/passwd"), base + "_.._etc_passwd.lock");
    EXPECT_EQ(SingleInstanceLock::lockPath(""), base + "_.lock");
    const std::string a = SingleInstanceLock::lockPath(std::string(4000, 'a') + "1");
    const std::string b = SingleInstanceLock::lockPath(std::string(4000, 'a') + "2");
    EXPECT_NE(a, b);
    EXPECT_LT(a.size() - base.size(), 255u);

    qputenv("XDG_RUNTIME_DIR", "relative/dir");
    EXPECT_EQ(SingleInstanceLock::lockPath("x"), "/tmp/x-" + std::to_string(getuid()) + ".lock");
    qunsetenv("XDG_RUNTIME_DIR");
}

TEST(SingleInstanceLockTest, SecondHolderInOneProcessIsRefused)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
    SingleInstanceLock first("same"), second("same");
    EXPECT_EQ(first.acquire(), SingleInstanceLock::Acquired);
    EXPECT_EQ(first.acquire(), SingleInstanceLock::Acquired) << "already held by this object";
    EXPECT_EQ(second.acquire(), SingleInstanceLock::Held);
    EXPECT_TRUE(first.release());
    EXPECT_FALSE(first.release());
    EXPECT_EQ(second.acquire(), SingleInstanceLock::Acquired);

    // A lock file that cannot be opened is a failure, not "held".
    ASSERT_TRUE(QDir(dir.path()).mkdir("broken.lock"));
    SingleInstanceLock broken("broken");
    EXPECT_EQ(broken.acquire(), SingleInstanceLock::Failed);
    EXPECT_FALSE(broken.errorText().empty());
    EXPECT_FALSE(broken.isHeld());
    qunsetenv("XDG_RUNTIME_DIR");
}
