#include "LayerTestUdp.h"
#include "RtpLayerSession.h"

#include "RDThread.h"
#include "TestAudio.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <thread>

namespace {

// G.711 mu-law of one 16-bit sample.
uint8_t toMuLaw(int sample)
{
    const int kBias = 0x84, kClip = 32635;
    const int sign = sample < 0 ? 0x80 : 0;
    int magnitude = std::min(std::abs(sample), kClip) + kBias;
    int exponent = 7;
    for (int mask = 0x4000; (magnitude & mask) == 0 && exponent > 0; mask >>= 1)
        --exponent;
    const int mantissa = (magnitude >> (exponent + 3)) & 0x0F;
    return uint8_t(~(sign | (exponent << 4) | mantissa));
}

bool waitUntilBound(int port, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (!LayerTestUdp::isFree(port))
            return true;
        RDThread::msleep(20);
    }
    return false;
}

QStringList lines(const QByteArray& text)
{
    QStringList out;
    for (const QByteArray& line : text.split('\n')) {
        if (!line.trimmed().isEmpty())
            out << QString::fromUtf8(line);
    }
    return out;
}

} // namespace

// A PCMU tone goes to an ffmpeg receiver set up by an SDP file while tshark records the wire:
// the tone decodes, every datagram dissects as RTP or RTCP, sender reports come on the RFC 3550
// schedule with the right counts, and the BYE at close ends ffmpeg's stream.
TEST(RtpLayerWireTest, ToneDecodesAndEveryPacketDissects)
{
    SONARIS_REQUIRE_COMMANDS("ffmpeg", "tshark");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const int farPort = LayerTestUdp::freeEvenPair();
    ASSERT_NE(farPort, 0);

    const QString sdpPath = dir.filePath("pcmu.sdp");
    {
        QFile sdp(sdpPath);
        ASSERT_TRUE(sdp.open(QIODevice::WriteOnly));
        sdp.write(QStringLiteral("v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=tone\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                                 "m=audio %1 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n")
                      .arg(farPort)
                      .toLatin1());
    }

    const QString capturePath = dir.filePath("wire.pcapng");
    QProcess capture;
    capture.start("tshark", {"-q", "-i", "lo", "-f",
                             QStringLiteral("udp port %1 or udp port %2").arg(farPort).arg(farPort + 1), "-w",
                             capturePath});
    ASSERT_TRUE(capture.waitForStarted(10000));
    QByteArray captureLog;
    for (int waited = 0; waited < 15000 && !captureLog.contains("Capturing on"); waited += 50) {
        capture.waitForReadyRead(50);
        captureLog += capture.readAllStandardError();
    }
    ASSERT_TRUE(captureLog.contains("Capturing on")) << captureLog.constData();

    QVector<float> decoded;
    std::thread decoder(
        [&] { decoded = TestAudio::decode(sdpPath, 8000, {"-protocol_whitelist", "file,udp,rtp"}, 60000); });
    const bool bound = waitUntilBound(farPort, 15000);

    // Opened just before the stream starts, as a channel does, so the report schedule starts
    // with the stream.
    RtpLayerSession session;
    int port = 0;
    for (int i = 0; i < 20 && !port; ++i) {
        const int candidate = LayerTestUdp::freeEvenPair();
        if (candidate && session.open("127.0.0.1", candidate, 8000, 1, "", 0.02) == 0)
            port = candidate;
    }

    // 9.6 s of 1 kHz at 20 ms per packet: long enough for two sender reports.
    const int packets = 480;
    int sent = 0;
    if (bound && port) {
        EXPECT_EQ(session.addDestination("127.0.0.1", farPort), 0);
        const double start = RDThread::tickTime();
        uint8_t frame[160];
        int n = 0;
        for (; sent < packets; ++sent) {
            for (int i = 0; i < 160; ++i, ++n)
                frame[i] = toMuLaw(int(std::lround(16000.0 * std::sin(2 * M_PI * 1000.0 * n / 8000.0))));
            const double due = start + sent * 0.02;
            while (RDThread::tickTime() < due) {
                session.serviceRtcp(RDThread::tickTime());
                RDThread::msleep(1);
            }
            ASSERT_EQ(session.sendPacket(frame, sizeof(frame), 0, false, 160), 0);
            session.serviceRtcp(RDThread::tickTime());
        }
    }
    session.byeAndClose();
    decoder.join();
    RDThread::msleep(300);
    capture.terminate();
    capture.waitForFinished(10000);
    ASSERT_TRUE(bound) << "ffmpeg did not bind its port";
    ASSERT_NE(port, 0);

    // ffmpeg stops at the BYE, so the decoder returned on its own, with the whole tone.
    const QVector<float> tone = TestAudio::trimSilence(decoded);
    EXPECT_NEAR(tone.size() / 8000.0, packets * 0.02, 0.25);
    EXPECT_NEAR(TestAudio::toneFrequency(tone, 8000), 1000.0, 2.0);
    EXPECT_NEAR(TestAudio::rms(tone), 16000.0 / 32768.0 / std::sqrt(2.0), 0.03);

    const TestSupport::Result fields = TestSupport::run(
        "tshark", {"-r", capturePath, "-d", QStringLiteral("udp.port==%1,rtp").arg(farPort), "-d",
                   QStringLiteral("udp.port==%1,rtcp").arg(farPort + 1), "-T", "fields", "-E", "separator=;",
                   "-e", "frame.time_relative", "-e", "udp.srcport", "-e", "frame.protocols", "-e", "rtcp.pt",
                   "-e", "rtcp.sender.packetcount", "-e", "rtcp.sender.octetcount", "-e", "_ws.malformed"});
    ASSERT_EQ(fields.exitCode, 0) << fields.err.constData();

    int rtp = 0;
    double firstRtp = -1;
    std::vector<double> reportTimes;
    QString last;
    for (const QString& line : lines(fields.out)) {
        const QStringList f = line.split(';');
        ASSERT_GE(f.size(), 7) << qPrintable(line);
        EXPECT_TRUE(f[6].isEmpty()) << "malformed: " << qPrintable(line);
        const bool isRtcp = f[2].contains("rtcp");
        EXPECT_TRUE(isRtcp || f[2].contains(":rtp")) << qPrintable(line);
        if (f[1].toInt() == port) {
            EXPECT_FALSE(isRtcp);
            if (firstRtp < 0)
                firstRtp = f[0].toDouble();
            ++rtp;
        } else if (f[1].toInt() == port + 1) {
            ASSERT_TRUE(isRtcp) << qPrintable(line);
            last = line;
            if (f[3].startsWith("200")) {
                reportTimes.push_back(f[0].toDouble());
                EXPECT_EQ(f[4].toInt(), rtp) << "packet count of the report at " << qPrintable(f[0]);
                EXPECT_EQ(f[5].toInt(), rtp * 160);
            }
            EXPECT_TRUE(f[3].contains("202")) << "every compound carries SDES: " << qPrintable(line);
        }
    }
    EXPECT_EQ(rtp, packets);
    ASSERT_GE(reportTimes.size(), 3u) << "two reports and the BYE";
    EXPECT_LT(reportTimes[0] - firstRtp, 3.3) << "first report after about half an interval";
    EXPECT_GT(reportTimes[0] - firstRtp, 0.9);
    for (size_t i = 1; i + 1 < reportTimes.size(); ++i) {
        EXPECT_GT(reportTimes[i] - reportTimes[i - 1], 1.9);
        EXPECT_LT(reportTimes[i] - reportTimes[i - 1], 6.4);
    }
    EXPECT_TRUE(last.split(';')[3].endsWith("203")) << "the last RTCP packet is the BYE compound: "
                                                    << qPrintable(last);
}
