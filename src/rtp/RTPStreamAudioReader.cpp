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

RTPStreamAudioReader::RTPStreamAudioReader() : RTPMediaReader("StreamReader", kQueueCap) {}

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

bool RTPStreamAudioReader::admits()
{
    QString why;
    if (isAllowedUrl(url(), &why))
        return true;
    RDLOG("refused stream URL %s: %s", url().toUtf8().constData(), why.toUtf8().constData());
    return false;
}

void RTPStreamAudioReader::reportOpen(bool opened)
{
    reportOpenTo(m_observer, this, opened);
}

bool RTPStreamAudioReader::openFailed(RDThread* thread)
{
    RDLOG("open %s fail, retry open after 5s", url().toUtf8().constData());
    waitToRetry(thread, kRetryDelayMs);
    return true;
}

bool RTPStreamAudioReader::passEnded(int result, RDThread* thread)
{
    const QByteArray text = url().toUtf8();
    if (result == AVERROR_EOF) {
        if (m_observer)
            m_observer->onEnd(this);
        RDLOG("read %s eof, retry open after 5s", text.constData());
    } else {
        RDLOG("read %s: %s", text.constData(), RTPMediaInput::errorText(result).toUtf8().constData());
        RDLOG("read %s error, retry open after 5s", text.constData());
    }
    waitToRetry(thread, kRetryDelayMs);
    return true;
}
