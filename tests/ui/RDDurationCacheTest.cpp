#include "RDDurationCache.h"

#include "GuiTest.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

// Lengths are measured on the worker and kept: the first lookup answers at once with "unknown",
// the result follows by signal, later lookups answer from the cache until the file changes.
TEST(RDDurationCache, MeasuresOffTheGuiThreadAndKeepsTheResult)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg");
    QTemporaryDir dir;
    const QString tone = dir.filePath(QStringLiteral("tone.mp3"));
    const QString missing = dir.filePath(QStringLiteral("missing.mp3"));
    ASSERT_TRUE(TestSupport::makeTone(tone, 440, 3.0));

    RDDurationCache cache;
    QSignalSpy ready(&cache, &RDDurationCache::durationReady);
    EXPECT_EQ(cache.duration(tone), RDDurationCache::kUnknown);
    EXPECT_EQ(cache.duration(tone), RDDurationCache::kUnknown);   // queued once
    EXPECT_EQ(cache.duration(missing), RDDurationCache::kUnknown);
    ASSERT_TRUE(GuiTest::waitFor([&] { return ready.count() == 2; }, 20000));
    EXPECT_EQ(ready.at(0).at(0).toString(), tone);
    EXPECT_NEAR(ready.at(0).at(1).toDouble(), 3.0, 0.1);
    EXPECT_EQ(ready.at(1).at(0).toString(), missing);
    EXPECT_EQ(ready.at(1).at(1).toDouble(), 0.0);
    EXPECT_NEAR(cache.duration(tone), 3.0, 0.1);
    EXPECT_EQ(cache.duration(missing), 0.0);
    EXPECT_EQ(cache.pendingCount(), 0);

    // The file is rewritten with another length: measured again.
    ASSERT_TRUE(TestSupport::makeTone(tone, 440, 5.0));
    EXPECT_EQ(cache.duration(tone), RDDurationCache::kUnknown);
    ASSERT_TRUE(GuiTest::waitFor([&] { return ready.count() == 3; }, 20000));
    EXPECT_NEAR(cache.duration(tone), 5.0, 0.1);
    // The missing file appears.
    ASSERT_TRUE(QFile::copy(tone, missing));
    EXPECT_EQ(cache.duration(missing), RDDurationCache::kUnknown);
    ASSERT_TRUE(GuiTest::waitFor([&] { return ready.count() == 4; }, 20000));
    EXPECT_NEAR(cache.duration(missing), 5.0, 0.1);
}

// A file whose open blocks (a FIFO nobody writes yet) holds the worker, never the caller; the
// cache can be destroyed while the probe is still blocked once a writer lets it go.
TEST(RDDurationCache, ABlockingOpenNeverHoldsTheCaller)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg");
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("tone.wav"));
    ASSERT_TRUE(TestSupport::makeTone(wav, 440, 1.0));
    QFile source(wav);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    const QString fifo = dir.filePath(QStringLiteral("pipe.wav"));
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);

    RDDurationCache cache;
    QSignalSpy ready(&cache, &RDDurationCache::durationReady);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(cache.duration(fifo), RDDurationCache::kUnknown);
    EXPECT_EQ(cache.duration(wav), RDDurationCache::kUnknown);
    EXPECT_LT(timer.elapsed(), 100);
    EXPECT_EQ(cache.pendingCount(), 2);

    // The worker waits in the FIFO's open; feeding it lets the probe go on, then the next file.
    QFile writer(fifo);
    ASSERT_TRUE(writer.open(QIODevice::WriteOnly));
    writer.write(bytes);
    writer.close();
    ASSERT_TRUE(GuiTest::waitFor([&] { return ready.count() == 2; }, 20000));
    EXPECT_EQ(ready.at(0).at(0).toString(), fifo);
    EXPECT_EQ(ready.at(1).at(0).toString(), wav);
    EXPECT_NEAR(ready.at(1).at(1).toDouble(), 1.0, 0.05);
}
