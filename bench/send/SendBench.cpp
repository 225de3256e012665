// sonaris-bench-send: plays N channels from one audio file, as playlists of one item (or as
// bells, --source 32), with a given codec to ADDR:PORT, ADDR:PORT+2, ... for S seconds, then exits. It prints nothing but
// errors; bench/pacing.sh receives and measures what it sends.
//
//   sonaris-bench-send --file F --codec 0..5 --to ADDR:PORT --channels N --seconds S
//                      [--pacing wait|nanosleep|1ms] [--delay MS] [--source 1|32]
//
// --pacing and --delay change how every send loop waits, for comparison runs.

#include "RtpInfoSession.h"
#include "RtpInfoSessionSendThread.h"
#include "RtpPortManager.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QString>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

// The engine's log echoes to Qt's debug output; only warnings and worse reach stderr here.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

int usage()
{
    std::fprintf(stderr, "usage: sonaris-bench-send --file F --codec 0..5 --to ADDR:PORT --channels N --seconds S "
                         "[--pacing wait|nanosleep|1ms] [--delay MS] [--source 1|32]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QString file, to;
    int codec = 0, channels = 1, source = RtpInfo::kSourcePlaylist;
    double seconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QString key = QString::fromLocal8Bit(argv[i]);
        const QString value = QString::fromLocal8Bit(argv[i + 1]);
        if (key == "--file") {
            file = value;
        } else if (key == "--codec") {
            codec = value.toInt();
        } else if (key == "--to") {
            to = value;
        } else if (key == "--channels") {
            channels = value.toInt();
        } else if (key == "--seconds") {
            seconds = value.toDouble();
        } else if (key == "--pacing") {
            if (value == "wait")
                RtpInfoSessionSendThread::setPacing(RtpInfoSessionSendThread::kPacingWait);
            else if (value == "nanosleep")
                RtpInfoSessionSendThread::setPacing(RtpInfoSessionSendThread::kPacingNanosleep);
            else if (value == "1ms")
                RtpInfoSessionSendThread::setPacing(RtpInfoSessionSendThread::kPacingMillisecond);
            else
                return usage();
        } else if (key == "--source") {
            source = value.toInt();
            if (source != RtpInfo::kSourcePlaylist && source != RtpInfo::kSourceBell)
                return usage();
        } else if (key == "--delay") {
            RtpInfoSessionSendThread::setScheduleDelay(value.toDouble() / 1000.0);
        } else {
            return usage();
        }
    }
    const QStringList address = to.split(':');
    const int port = address.size() == 2 ? address[1].toInt() : 0;
    if (file.isEmpty() || codec < 0 || codec > 5 || channels < 1 || seconds <= 0 || port < 1 ||
        port + 2 * (channels - 1) > 65534 || QHostAddress(address[0]).protocol() != QAbstractSocket::IPv4Protocol)
        return usage();
    if (!QFileInfo(file).isReadable()) {
        std::fprintf(stderr, "sonaris-bench-send: cannot read %s\n", qPrintable(file));
        return 1;
    }
    qInstallMessageHandler(quietMessages);

    RtpPortManager::createInstance();
    std::vector<std::unique_ptr<RtpInfoSession>> sessions;
    for (int i = 0; i < channels; ++i) {
        RtpInfo info;
        info.id = i + 1;
        info.name = QStringLiteral("bench %1").arg(i + 1);
        info.address = QStringLiteral("%1:%2").arg(address[0]).arg(port + 2 * i);
        info.codec = codec;
        info.source = source;
        info.playlist = {file};
        info.bellPath = file;
        info.bellLoopType = RtpInfo::kBellOnce;
        auto session = std::make_unique<RtpInfoSession>();
        session->setRtpInfo(info);
        if (session->startSource(source, RtpInfo::kTriggerManual) < 0) {
            std::fprintf(stderr, "sonaris-bench-send: channel %d did not start\n", i + 1);
            return 1;
        }
        sessions.push_back(std::move(session));
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    int ended = 0;
    for (auto& session : sessions) {
        if (!session->isSending())
            ++ended;
        session->stopAll(RtpInfo::kTriggerApiStop);
    }
    RtpPortManager::destroyInstance();
    if (ended > 0) {
        std::fprintf(stderr, "sonaris-bench-send: %d channels stopped before the end\n", ended);
        return 1;
    }
    return 0;
}
