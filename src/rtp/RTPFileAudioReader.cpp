#include "RTPFileAudioReader.h"

#include "RDLog.h"
#include "RDThread.h"
#include "RTPFileAudioReaderObserver.h"

#include <QDebug>

extern "C" {
#include <libavutil/error.h>
}

namespace {

// Within this of the time limit counts as reached: packet durations are not exact in binary.
constexpr double kLimitSlack = 1e-9;

} // namespace

RTPFileAudioReader::RTPFileAudioReader() = default;

RTPFileAudioReader::~RTPFileAudioReader()
{
    stop();
}

void RTPFileAudioReader::setPath(const QString& path)
{
    m_path = path;
}

bool RTPFileAudioReader::start()
{
    prepareStart();
    resetPacing();
    m_resetRequest = false;
    return startThread("FileReader", [this](RDThread* thread) { _run(thread); });
}

bool RTPFileAudioReader::_timeLimitReached() const
{
    const double limit = m_timeLimit;
    return limit > 0.0 && handedOut() >= limit - kLimitSlack;
}

RTPAudioPacket* RTPFileAudioReader::read()
{
    if (!isRunning() || _timeLimitReached())
        return nullptr;
    return pacedPop();
}

void RTPFileAudioReader::reset()
{
    if (isRunning())
        m_resetRequest = true;
}

bool RTPFileAudioReader::_openFile(RDThread* thread)
{
    qDebug().noquote() << "open file" << m_path;
    m_passPackets = 0;
    const int ret = m_input.open(m_path, m_payloadType.load(), [thread] { return thread->isStop(); });
    if (m_observer) {
        if (ret == 0)
            m_observer->onOpened(this);
        else
            m_observer->onOpenFailed(this);
    }
    RDLOG("open file %s %s", m_path.toUtf8().constData(), ret == 0 ? "success" : "failure");
    return ret == 0;
}

void RTPFileAudioReader::_closeFile()
{
    m_input.close();
}

void RTPFileAudioReader::_queuePacket(RTPAudioPacket* packet)
{
    ++m_passPackets;
    m_queue.push(packet);
}

void RTPFileAudioReader::_run(RDThread* thread)
{
    if (!_openFile(thread)) {
        _closeFile();
        m_finished = true;
        return;
    }
    const RTPMediaInput::Sink sink = [this](RTPAudioPacket* packet) { _queuePacket(packet); };
    int repeats = m_repeatCount;
    while (!thread->isStop()) {
        if (_timeLimitReached()) {
            m_queue.clear();
            break;
        }
        if (m_resetRequest.exchange(false)) {
            _closeFile();
            if (!_openFile(thread))
                break;
            continue;
        }
        if (m_queue.count() > kQueueCap) {
            // Over the cap the queue holds several packet times of audio: no need to poll.
            thread->sleepUntilStop(kFullQueueWaitMs);
            continue;
        }
        const int ret = m_input.readPacket(sink);
        if (ret >= 0)
            continue;
        // End of a pass: the last partial frame and what the codecs hold still belong to it.
        m_input.flush(sink);
        if (ret != AVERROR_EOF) {
            if (!thread->isStop())
                RDLOG("read %s: %s", m_path.toUtf8().constData(),
                      RTPMediaInput::errorText(ret).toUtf8().constData());
            break;
        }
        if (m_passPackets == 0) {
            // Repeating a file that gives nothing would only spin.
            RDLOG("%s gives no audio", m_path.toUtf8().constData());
            break;
        }
        if (repeats == 0)
            break;
        if (repeats > 0)
            --repeats;
        RDLOG("reset file");
        _closeFile();
        // A file gone since the last pass ends playback with what was read.
        if (!_openFile(thread))
            break;
    }
    while (!thread->isStop() && m_queue.count() > 0) {
        if (_timeLimitReached()) {
            m_queue.clear();
            break;
        }
        thread->sleepUntilStop(kFullQueueWaitMs);
    }
    if (m_observer)
        m_observer->onFinished(this);
    _closeFile();
    m_finished = true;
}
