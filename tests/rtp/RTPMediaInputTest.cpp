#include "RTPAudioPacket.h"
#include "RTPMediaInput.h"
#include "RTPReaderFixtures.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

extern "C" {
#include <libavutil/error.h>
}

namespace {

TEST(RTPMediaInputTest, TellsUrlsFromLocalPaths)
{
    const struct
    {
        const char* path;
        bool url;
    } cases[] = {
        {"/music/a.mp3", false},
        {"music/a.mp3", false},
        {"C:/music/a.mp3", false},
        {"C:\\music\\a.mp3", false},
        {"file:///music/a.mp3", false},
        {"FILE:/music/a.mp3", false},
        {"/music/odd:name.mp3", false},
        {"", false},
        {"http://radio.example/stream", true},
        {"HTTPS://radio.example/stream", true},
        {"rtsp://cam/audio", true},
        {"concat:/a.mp3|/b.mp3", true},
        {"subfile,,start,0,end,10,,:/a.mp3", true},
        {"data:audio/mp3;base64,AAAA", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RTPMediaInput::isUrl(QString::fromUtf8(c.path)), c.url) << c.path;
}

// Local files open by plain path or file: URL; protocols outside the list are refused even when
// they would reach a readable file.
TEST(RTPMediaInputTest, OpensLocalFilesAndRefusesOtherProtocols)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg");
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString path = RTPReaderFixtures::tone(QDir(tmp.path()), "a", 440, 0.2,
                                                 RTPReaderFixtures::MulawWav);
    ASSERT_FALSE(path.isEmpty());
    const auto never = [] { return false; };
    RTPMediaInput input;
    for (const QString& ok : {path, QStringLiteral("file:") + path}) {
        EXPECT_EQ(input.open(ok, 0, never), 0) << ok.toStdString();
        EXPECT_NEAR(input.duration(), 0.2, 0.001);
        int packets = 0;
        const RTPMediaInput::Sink count = [&packets](RTPAudioPacket* p) {
            ++packets;
            delete p;
        };
        int ret;
        while ((ret = input.readPacket(count)) >= 0) {
        }
        EXPECT_EQ(ret, AVERROR_EOF);
        input.flush(count);
        EXPECT_EQ(packets, 10);
        input.close();
    }
    for (const QString& refused : {QStringLiteral("concat:") + path + QStringLiteral("|") + path,
                                   QStringLiteral("subfile,,start,0,end,0,,:") + path}) {
        EXPECT_LT(input.open(refused, 0, never), 0) << refused.toStdString();
        EXPECT_FALSE(input.isOpen());
    }
    EXPECT_EQ(input.open(path, 99, never), RTPMediaInput::kNoConversion);
    EXPECT_FALSE(RTPMediaInput::errorText(RTPMediaInput::kNoConversion).isEmpty());
    // An interrupted open gives up at once.
    EXPECT_EQ(input.open(path, 0, [] { return true; }), AVERROR_EXIT);
}

} // namespace
