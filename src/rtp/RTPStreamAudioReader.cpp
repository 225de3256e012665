#include "RTPStreamAudioReader.h"

#include "RDLog.h"
#include "RDThread.h"
#include "RTPStreamAudioReaderObserver.h"

#include <QStringList>

extern "C" {
#include <libavutil/error.h>
}

namespace {

bool isSchemeChar(QChar c)
{
    // The characters FFmpeg takes as a protocol name before the colon.
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
           || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') || c == QLatin1Char('-')
           || c == QLatin1Char('.');
}

} // namespace

RTPStreamAudioReader::RTPStreamAudioReader() = default;

RTPStreamAudioReader::~RTPStreamAudioReader()
{
    stop();
}

bool RTPStreamAudioReader::isAllowedUrl(const QString& url, QString* why)
{
    int length = 0;
    while (length < url.size() && isSchemeChar(url.at(length)))
        ++length;
    // Without "scheme:" in front FFmpeg opens a local file.
    if (length < 2 || length >= url.size() || url.at(length) != QLatin1Char(':')) {
        if (why)
            *why = QStringLiteral("not a network URL");
        return false;
    }
    const QStringList allowed = QString::fromLatin1(RTPMediaInput::kUrlProtocols).split(QLatin1Char(','));
    // A nested scheme ("hls+http", "crypto+file") names every protocol it goes through.
    const QStringList protocols = url.left(length).split(QLatin1Char('+'));
    for (const QString& protocol : protocols) {
        if (!allowed.contains(protocol, Qt::CaseInsensitive)) {
            if (why)
                *why = QStringLiteral("protocol \"%1\" is not allowed").arg(protocol);
            return false;
        }
    }
    return true;
}

bool RTPStreamAudioReader::start()
{
    prepareStart();
    resetPacing();
    m_resetRequest = false;
    return startThread("StreamReader", [this](RDThread* thread) { _run(thread); });
}

RTPAudioPacket* RTPStreamAudioReader::read()
{
    if (!isRunning())
        return nullptr;
    return pacedPop();
}

void RTPStreamAudioReader::reset()
{
    if (isRunning())
        m_resetRequest = true;
}

bool RTPStreamAudioReader::_open(RDThread* thread)
{
    const QByteArray url = m_url.toUtf8();
    QString why;
    int ret = -1;
    if (!isAllowedUrl(m_url, &why))
        RDLOG("refused stream URL %s: %s", url.constData(), why.toUtf8().constData());
    else
        ret = m_input.open(m_url, m_payloadType.load(), [thread] { return thread->isStop(); });
    if (m_observer) {
        if (ret == 0)
            m_observer->onOpened(this);
        else
            m_observer->onOpenFailed(this);
    }
    RDLOG("open file %s %s", url.constData(), ret == 0 ? "success" : "failure");
    return ret == 0;
}

void RTPStreamAudioReader::_close()
{
    m_input.close();
}

void RTPStreamAudioReader::_waitToRetry(RDThread* thread)
{
    _close();
    thread->sleepUntilStop(kRetryDelayMs);
}

void RTPStreamAudioReader::_run(RDThread* thread)
{
    const RTPMediaInput::Sink sink = [this](RTPAudioPacket* packet) { m_queue.push(packet); };
    while (!thread->isStop()) {
        if (m_resetRequest.exchange(false))
            _close();
        if (m_queue.count() > kQueueCap) {
            // Over the cap the queue holds several packet times of audio: no need to poll.
            thread->sleepUntilStop(kFullQueueWaitMs);
            continue;
        }
        if (!m_input.isOpen() && !_open(thread)) {
            if (thread->isStop())
                break;
            RDLOG("open %s fail, retry open after 5s", m_url.toUtf8().constData());
            _waitToRetry(thread);
            continue;
        }
        const int ret = m_input.readPacket(sink);
        if (ret >= 0 || thread->isStop())
            continue;
        if (ret == AVERROR_EOF) {
            // The last partial frame and what the codecs hold still belong to the stream.
            m_input.flush(sink);
            if (m_observer)
                m_observer->onEnd(this);
            RDLOG("read %s eof, retry open after 5s", m_url.toUtf8().constData());
            _waitToRetry(thread);
        } else {
            RDLOG("read %s: %s", m_url.toUtf8().constData(), RTPMediaInput::errorText(ret).toUtf8().constData());
            RDLOG("read %s error, retry open after 5s", m_url.toUtf8().constData());
            _waitToRetry(thread);
        }
    }
    // Only a stop ends the loop, and a stopped reader hands out nothing more.
    _close();
    m_finished = true;
}
