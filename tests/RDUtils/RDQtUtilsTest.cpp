#include "RDQtUtils.h"

#include <QPainterPath>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(RDQtUtils, FormatTime)
{
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {65.9, "01:05"},
        {0, "00:00"},
        {59.999, "00:59"},
        {6000, "100:00"},
        {-1, "--:--"},
        {std::nan(""), "--:--"},
        {std::numeric_limits<double>::infinity(), "--:--"},
        {1e300, "--:--"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatTime(c.seconds), QString::fromLatin1(c.text)) << c.seconds;
}

TEST(RDQtUtils, PathNames)
{
    const struct {
        const char* path;
        const char* fileName;
        const char* baseName;
    } cases[] = {
        {"C:\\music\\", "C:\\music\\", "C:\\music\\"},
        {"C:\\music\\a/b.mp3", "b.mp3", "b"},
        {"/x/song.final.mp3", "song.final.mp3", "song.final"},
        {"/x/.hidden", ".hidden", ""},
        {"/x/name.", "name.", "name."},
        {"plain", "plain", "plain"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fileName(QString::fromLatin1(c.path)), QString::fromLatin1(c.fileName)) << c.path;
        EXPECT_EQ(baseName(QString::fromLatin1(c.path)), QString::fromLatin1(c.baseName)) << c.path;
    }
}

TEST(RDQtUtils, JoinPath)
{
    EXPECT_EQ(joinPath("/a/", "/b"), "/a/b");
    EXPECT_EQ(joinPath("/a/", "b"), "/a/b");
    EXPECT_EQ(joinPath("/a", "/b"), "/a/b");
    EXPECT_EQ(joinPath("/a", "b"), "/a/b");
}

TEST(RDQtUtils, MakeDirAndFileExists)
{
    QTemporaryDir dir;
    const QString sub = dir.filePath("log");
    EXPECT_FALSE(fileExists(sub));
    EXPECT_TRUE(makeDir(sub));
    EXPECT_TRUE(fileExists(sub));
    EXPECT_TRUE(makeDir(sub));
    EXPECT_FALSE(makeDir(dir.filePath("a/b")));   // one level only
}

TEST(RDQtUtils, RoundedRectPath)
{
    QPainterPath plain;
    roundedRectPath(plain, QRect(0, 0, 10, 10), 0);
    QPainterPath expected;
    expected.addRect(QRectF(0, 0, 10, 10));
    EXPECT_EQ(plain, expected);

    // The rounded outline runs along the inclusive right and bottom edges.
    QPainterPath rounded;
    roundedRectPath(rounded, QRect(0, 0, 10, 10), 5);
    EXPECT_EQ(rounded.boundingRect(), QRectF(0, 0, 9, 9));
    EXPECT_TRUE(rounded.contains(QPointF(4.5, 4.5)));
    EXPECT_FALSE(rounded.contains(QPointF(0.5, 0.5)));   // the corner is cut
}
