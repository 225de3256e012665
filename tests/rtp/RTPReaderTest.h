#pragma once

#include "RTPReaderEvents.h"
#include "TestLogFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QLatin1Char>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// What every reader test needs: ffmpeg for its fixtures, a folder for them, the reader's reports
// and its log lines.
class RTPReaderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SONARIS_REQUIRE_COMMANDS("ffmpeg");
        ASSERT_TRUE(tmp.isValid());
        dir = QDir(tmp.path());
    }

    // How often line stands in the log as a whole line.
    int logCount(const QString& line) const { return log.count(line + QLatin1Char('\n')); }

    RTPReaderEvents events;
    QTemporaryDir tmp;
    QDir dir;
    TestLogFile log;
};
