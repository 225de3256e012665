#include "RTPFileAudioReader.h"

#include "RDLog.h"
#include "RDThread.h"
#include "RTPFileAudioReaderObserver.h"

extern "C" {
#include <libavutil/error.h>
}

namespace {

// Within this of the time limit counts as reached: packet durations are not exact in binary.
constexpr double kLimitSlack = 1e-9;

} // namespace

RTPFileAudioReader::RTPFileAudioReader() : RTPMediaReader("FileReader", kQueueCap) {}

RTPFileAudioReader::~RTPFileAudioReader()
{
    stop();
}

void RTPFileAudioReader::begin()
{
    m_repeatsLeft = m_repeatCount;
}

bool RTPFileAudioReader::limitReached() const
{
    const double limit = m_timeLimit;
    return limit > 0.0 && handedOut() >= limit - kLimitSlack;
}

void RTPFileAudioReader::reportOpen(bool opened)
{
    reportOpenTo(m_observer, this, opened);
}

bool RTPFileAudioReader::openFailed(RDThread*)
{
    // A file gone since the last pass ends playback with what was read.
    return false;
}

bool RTPFileAudioReader::passEnded(int result, RDThread* thread)
{
    const QByteArray path = location().toUtf8();
    if (result != AVERROR_EOF) {
        if (!thread->isStop())
            RDLOG("read %s: %s", path.constData(), RTPMediaInput::errorText(result).toUtf8().constData());
        return false;
    }
    if (passPackets() == 0) {
        // Repeating a file that gives nothing would only spin.
        RDLOG("%s gives no audio", path.constData());
        return false;
    }
    if (m_repeatsLeft == 0)
        return false;
    if (m_repeatsLeft > 0)
        --m_repeatsLeft;
    RDLOG("reset file");
    closeInput();
    return true;
}

void RTPFileAudioReader::reportFinished()
{
    if (m_observer)
        m_observer->onFinished(this);
}
