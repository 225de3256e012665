#include "RTPFilesAudioReader.h"

#include "RDLog.h"
#include "RDThread.h"
#include "RTPFilesAudioReaderObserver.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/error.h>
}

RTPFilesAudioReader::RTPFilesAudioReader() = default;

RTPFilesAudioReader::~RTPFilesAudioReader()
{
    stop();
}

void RTPFilesAudioReader::setPlaylist(const QStringList& playlist)
{
    RDThreadLocker::Guard guard(m_lock);
    m_playlist = playlist;
}

QStringList RTPFilesAudioReader::playlist() const
{
    RDThreadLocker::Guard guard(m_lock);
    return m_playlist;
}

int RTPFilesAudioReader::status(int* index, double* position, double* duration)
{
    RDThreadLocker::Guard guard(m_lock);
    if (index)
        *index = m_index;
    if (position)
        *position = m_position;
    if (duration)
        *duration = m_duration;
    return 0;
}

void RTPFilesAudioReader::seek(double fraction)
{
    if (!std::isfinite(fraction))
        return;
    {
        RDThreadLocker::Guard guard(m_lock);
        m_seekRequest = true;
        m_seekFraction = std::min(1.0, std::max(0.0, fraction));
    }
    wake();
}

void RTPFilesAudioReader::jump(int index)
{
    {
        RDThreadLocker::Guard guard(m_lock);
        if (index < 0 || index >= m_playlist.size()) {
            RDLOG("jump to %d ignored: the playlist has %d items", index, int(m_playlist.size()));
            return;
        }
        m_jumpRequest = true;
        m_jumpIndex = index;
    }
    wake();
}

void RTPFilesAudioReader::reset()
{
    {
        RDThreadLocker::Guard guard(m_lock);
        if (m_playlist.isEmpty())
            return;
        m_jumpRequest = true;
        m_jumpIndex = 0;
    }
    wake();
}

bool RTPFilesAudioReader::start()
{
    prepareStart();
    {
        RDThreadLocker::Guard guard(m_lock);
        m_index = 0;
        m_position = 0.0;
        m_duration = 0.0;
        m_seekRequest = false;
        m_jumpRequest = false;
    }
    m_repeatsLeft = m_repeatCount;
    m_barren = 0;
    m_queuedPosition = 0.0;
    _restartRun();
    m_pending.clear();
    _clearQueued();
    return startThread("PlaylistReader", [this](RDThread* thread) { _run(thread); });
}

void RTPFilesAudioReader::stop()
{
    RTPThreadedAudioReader::stop();
    _clearQueued();
}

RTPAudioPacket* RTPFilesAudioReader::read()
{
    if (!isRunning())
        return nullptr;
    const double now = RDThread::tickTime();
    Queued taken;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (m_queued.empty() || m_queued.front().release > now)
            return nullptr;
        taken = m_queued.front();
        m_queued.pop_front();
    }
    RDThreadLocker::Guard guard(m_lock);
    if (taken.generation == m_generation)
        m_position = taken.position;
    return taken.packet;
}

void RTPFilesAudioReader::_clearQueued()
{
    std::deque<Queued> dropped;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        dropped.swap(m_queued);
    }
    for (const Queued& q : dropped)
        delete q.packet;
}

int RTPFilesAudioReader::_queuedCount() const
{
    std::lock_guard<std::mutex> lock(m_queueMutex);
    return int(m_queued.size());
}

int RTPFilesAudioReader::_releasedCount(double now) const
{
    std::lock_guard<std::mutex> lock(m_queueMutex);
    int count = 0;
    for (const Queued& q : m_queued) {
        if (q.release > now)
            break;
        ++count;
    }
    return count;
}

void RTPFilesAudioReader::_restartRun()
{
    m_runStart = 0.0;
    m_runDuration = 0.0;
}

bool RTPFilesAudioReader::_openItem(int index, RDThread* thread)
{
    QString path;
    {
        RDThreadLocker::Guard guard(m_lock);
        if (index < 0 || index >= m_playlist.size())
            return false;
        path = m_playlist.at(index);
    }
    m_queuedPosition = 0.0;
    qDebug().noquote() << "open file" << path;
    m_itemPackets = 0;
    const int ret = m_input.open(path, m_payloadType.load(), [thread] { return thread->isStop(); });
    _restartRun();
    if (ret < 0) {
        if (m_observer)
            m_observer->onItemOpenFailed(this, index);
        return false;
    }
    // Only an item that opened becomes the current one: the status never names an item that
    // does not play, however long a failing open takes.
    {
        RDThreadLocker::Guard guard(m_lock);
        m_index = index;
        m_position = 0.0;
        m_duration = m_input.duration();
        ++m_generation;
    }
    if (m_observer)
        m_observer->onItemOpened(this, index);
    return true;
}

void RTPFilesAudioReader::_closeItem()
{
    m_input.close();
}

bool RTPFilesAudioReader::_openFrom(int index, RDThread* thread)
{
    int count;
    {
        RDThreadLocker::Guard guard(m_lock);
        // A seek meant the item that was playing; a jump asked meanwhile (one right after the
        // start, or while an item ended) still stands and is taken on the next pass.
        m_seekRequest = false;
        count = int(m_playlist.size());
    }
    if (count == 0)
        return false;
    int i = std::max(0, index);
    for (int tries = 0; tries < count && !thread->isStop(); ++tries) {
        if (i >= count) {
            if (m_repeatsLeft == 0)
                return false;
            if (m_repeatsLeft > 0)
                --m_repeatsLeft;
            i = 0;
        }
        if (_openItem(i, thread))
            return true;
        _closeItem();
        if (++m_barren >= count)
            return false;
        ++i;
    }
    return false;
}

bool RTPFilesAudioReader::_seek(double fraction)
{
    const double duration = m_input.duration();
    if (duration <= 0.0) {
        RDLOG("seek ignored: the item's duration is unknown");
        return false;
    }
    const double target = fraction * duration;
    const int ret = m_input.seek(target);
    if (ret < 0) {
        RDLOG("seek to %.3f failed: %s", target, RTPMediaInput::errorText(ret).toUtf8().constData());
        return false;
    }
    _clearQueued();
    m_pending.clear();
    _restartRun();
    int index;
    {
        RDThreadLocker::Guard guard(m_lock);
        m_position = target;
        ++m_generation;
        index = m_index;
    }
    m_queuedPosition = target;
    if (m_observer)
        m_observer->onItemOpened(this, index);
    return true;
}

void RTPFilesAudioReader::_takeConverted(RTPAudioPacket* packet)
{
    ++m_itemPackets;
    m_barren = 0;
    m_pending.push(packet);
}

void RTPFilesAudioReader::_queuePacket(RTPAudioPacket* packet, double now)
{
    // The first packet of a run is released at once and starts its clock.
    const double release = m_runStart > 0.0 ? _nextRelease() : now;
    if (packet->duration > 0.0) {
        m_runDuration += packet->duration;
        m_queuedPosition += packet->duration;
    }
    if (m_runStart <= 0.0)
        m_runStart = now;
    // Only this thread changes the generation.
    const Queued queued{packet, release, m_queuedPosition, m_generation};
    std::lock_guard<std::mutex> lock(m_queueMutex);
    m_queued.push_back(queued);
}

namespace {

// The clock (tickTime) counts whole milliseconds: a nap of whole milliseconds from a reading
// of it ends when it reads at least `until`.
double napUntil(double now, double until)
{
    return std::ceil((until - now) * 1000.0) / 1000.0;
}

} // namespace

bool RTPFilesAudioReader::_waitForDue(double now, RDThread* thread)
{
    if (m_runStart <= 0.0 || now >= _nextRelease())
        return false;
    nap(thread, napUntil(now, _nextRelease()));
    return true;
}

bool RTPFilesAudioReader::_waitForAhead(double now, RDThread* thread)
{
    if (m_runStart <= 0.0 || _nextRelease() - now < kAheadSeconds)
        return false;
    // One wake-up converts a few tenths of a second: a channel's reader wakes about 5 times a
    // second rather than once for every packet.
    nap(thread, napUntil(now, _nextRelease() - kRefillSeconds));
    return true;
}

bool RTPFilesAudioReader::_waitForRoom(double now, RDThread* thread)
{
    if (_releasedCount(now) <= kQueueCap)
        return false;
    nap(thread, kFullQueueWaitMs / 1000.0);
    return true;
}

bool RTPFilesAudioReader::_takeRequest(RDThread* thread)
{
    bool seekRequest = false;
    bool jumpRequest = false;
    double fraction = 0.0;
    int target = 0;
    {
        RDThreadLocker::Guard guard(m_lock);
        if (m_seekRequest) {
            seekRequest = true;
            fraction = m_seekFraction;
            m_seekRequest = false;
        } else if (m_jumpRequest) {
            jumpRequest = true;
            target = m_jumpIndex;
            m_jumpRequest = false;
        }
    }
    if (seekRequest && m_reading) {
        if (_seek(fraction))
            m_ended = 0;
        return false;
    }
    if (!jumpRequest)
        return false;
    _clearQueued();
    m_pending.clear();
    _restartRun();
    _closeItem();
    m_ended = 0;
    m_reading = _openFrom(target, thread);
    return true;
}

void RTPFilesAudioReader::_readItem()
{
    const RTPMediaInput::Sink sink = [this](RTPAudioPacket* packet) { _takeConverted(packet); };
    m_ended = m_input.readPacket(sink);
    if (m_ended >= 0) {
        m_ended = 0;
        return;
    }
    // The last partial frame and what the codecs hold still belong to the item.
    m_input.flush(sink);
}

void RTPFilesAudioReader::_endItem(RDThread* thread)
{
    int index;
    QString path;
    {
        RDThreadLocker::Guard guard(m_lock);
        index = m_index;
        path = m_playlist.value(index);
    }
    if (m_ended == AVERROR_EOF) {
        if (m_observer)
            m_observer->onItemEnd(this, index);
    } else if (!thread->isStop()) {
        RDLOG("read %s: %s", path.toUtf8().constData(), RTPMediaInput::errorText(m_ended).toUtf8().constData());
    }
    m_ended = 0;
    _closeItem();
    if (thread->isStop())
        return;
    if (m_itemPackets == 0) {
        RDLOG("%s gives no audio", path.toUtf8().constData());
        // An item without audio counts as one that failed to open.
        if (++m_barren >= int(playlist().size())) {
            m_reading = false;
            return;
        }
    }
    m_reading = _openFrom(index + 1, thread);
}

void RTPFilesAudioReader::_run(RDThread* thread)
{
    if (!_openFrom(0, thread)) {
        _closeItem();
        m_finished = true;
        return;
    }
    m_reading = true;
    m_ended = 0;
    // The thread converts ahead and stamps each packet with its release time (see the class);
    // a seek or jump wakes it and drops what was not handed out yet. One demuxed packet may
    // convert to many (a WAV block holds half a second): they wait in m_pending and are stamped
    // while the release times stay within kAheadSeconds. An item ends, and the next opens, when
    // its run's clock reaches the end of its last packet, as if every packet had been waited for.
    while (!thread->isStop()) {
        const double now = RDThread::tickTime();
        if (_takeRequest(thread) || _waitForRoom(now, thread) || _waitForAhead(now, thread))
            continue;
        if (RTPAudioPacket* packet = m_pending.pop()) {
            _queuePacket(packet, now);
            continue;
        }
        if (!m_reading)
            break;
        if (m_ended == 0)
            _readItem();
        else if (!_waitForDue(now, thread))
            _endItem(thread);
    }
    // The reader finishes once its last packet's time has come and it was handed out.
    while (!thread->isStop()) {
        const double now = RDThread::tickTime();
        if (_waitForDue(now, thread))
            continue;
        if (_queuedCount() == 0)
            break;
        nap(thread, kFullQueueWaitMs / 1000.0);
    }
    m_pending.clear();
    _closeItem();
    m_finished = true;
}
