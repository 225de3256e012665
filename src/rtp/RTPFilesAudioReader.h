#pragma once

#include "RDThreadLocker.h"
#include "RTPAudioPacketQueue.h"
#include "RTPMediaInput.h"
#include "RTPThreadedAudioReader.h"

#include <QStringList>

#include <atomic>
#include <deque>
#include <mutex>

class RDThread;
class RTPFilesAudioReaderObserver;

// A channel's playlist: its files and URLs played in order and from the first again, each
// converted to the channel's payload type, with seeking within an item and jumping to another.
// The thread converts a few tenths of a second ahead in one go and then sleeps, stamping every
// packet with the time it is released: as the current item's run of packets goes on in real
// time, each a little (kLeadSeconds) before its turn, the first of a run at once. read() hands
// out released packets only, so a reader waking a few times a second releases them exactly as
// one that woke for every packet. Items that do not open, or yield no audio, are skipped (they
// stay in the list); a whole round without audio ends the reader.
//
// Set-up calls come before start(). start, stop and the destructor belong to the owner's
// thread; read, isFinished, reset, status, seek and jump may be called from any thread.
class RTPFilesAudioReader : public RTPThreadedAudioReader
{
public:
    // The thread reads on while at most this many released packets wait to be read.
    static constexpr int kQueueCap = 2;
    // How long before its turn a packet is released.
    static constexpr double kLeadSeconds = 0.01;
    // The thread converts until the release times reach this far ahead of the clock, and sleeps
    // until they are only kRefillSeconds ahead; a seek, jump, reset or stop wakes it at once.
    static constexpr double kAheadSeconds = 0.3;
    static constexpr double kRefillSeconds = 0.1;

    RTPFilesAudioReader();
    ~RTPFilesAudioReader() override;

    void setPlaylist(const QStringList& playlist);
    QStringList playlist() const;
    // Rounds after the first: 0 plays the list once, -1 (what channels use) without end.
    void setRepeatCount(int count) { m_repeatCount = count; }
    // Not owned; called on the reader's thread.
    void setObserver(RTPFilesAudioReaderObserver* observer) { m_observer = observer; }

    // The current item's index, the position within it and its duration (seconds, 0 when
    // unknown); returns 0.
    int status(int* index, double* position, double* duration);
    // Asks to go on from fraction (0..1) of the current item's duration; ignored for an item
    // of unknown duration or one that cannot seek.
    void seek(double fraction);
    // Asks to play item index (0 to count - 1) next, from its start; other indexes are ignored.
    void jump(int index);

    // Starts the reader thread (a running reader is stopped first); false only when no thread
    // could be made.
    bool start() override;
    // Ends the thread and drops what is converted.
    void stop() override;
    // The next packet once it is released; null before.
    RTPAudioPacket* read() override;
    // Asks to play the list again from its first item.
    void reset() override;

private:
    // A converted packet with its release time, and the item it belongs to (the generation of
    // the open or seek it follows) with the position it brings that item to.
    struct Queued
    {
        RTPAudioPacket* packet;
        double release;
        double position;
        int generation;
    };

    // The reader thread's body and its steps.
    void _run(RDThread* thread);
    // When the next packet of the run is released; only while a run goes on.
    double _nextRelease() const { return m_runStart + m_runDuration - kLeadSeconds; }
    // Sleeps until the next packet's release time when that is still ahead; true when it slept.
    bool _waitForDue(double now, RDThread* thread);
    // Sleeps while the release times reach kAheadSeconds ahead; true when it slept.
    bool _waitForAhead(double now, RDThread* thread);
    // Sleeps while more released packets wait than kQueueCap; true when it slept.
    bool _waitForRoom(double now, RDThread* thread);
    // Takes a seek or jump asked for; true when a jump was made (the loop starts over).
    bool _takeRequest(RDThread* thread);
    // Reads the next packet of the item into m_pending; sets m_ended at the item's end.
    void _readItem();
    // Reports the item's end and opens the next item that opens.
    void _endItem(RDThread* thread);
    bool _openFrom(int index, RDThread* thread);
    bool _openItem(int index, RDThread* thread);
    void _closeItem();
    bool _seek(double fraction);
    void _takeConverted(RTPAudioPacket* packet);
    void _queuePacket(RTPAudioPacket* packet, double now);
    void _restartRun();
    // The converted packets, under m_queueMutex.
    void _clearQueued();
    int _queuedCount() const;
    int _releasedCount(double now) const;

    // Guards the list, the status and the requests; never held across media I/O or a callback.
    mutable RDThreadLocker m_lock;
    QStringList m_playlist;
    int m_index = 0;
    double m_position = 0.0;
    double m_duration = 0.0;
    bool m_seekRequest = false;
    double m_seekFraction = 0.0;
    bool m_jumpRequest = false;
    int m_jumpIndex = 0;
    // Counts the opens and seeks: a packet of an earlier one no longer moves the position.
    int m_generation = 0;

    int m_repeatCount = -1;
    // Thread-only state: rounds left, the pacing of the current run of packets, the items in a
    // row that gave no audio, and the packets of the current item.
    int m_repeatsLeft = -1;
    double m_runStart = 0.0;
    double m_runDuration = 0.0;
    int m_barren = 0;
    int m_itemPackets = 0;
    // The position the packets converted so far bring the item to.
    double m_queuedPosition = 0.0;
    // False once no item is left to read; what was converted still goes out.
    bool m_reading = false;
    // The result that ended the current item (0 while it plays); its end is handled once the
    // item's last packets have been queued.
    int m_ended = 0;
    RTPMediaInput m_input;
    // Converted packets waiting for their turn in the queue (thread-only).
    RTPAudioPacketQueue m_pending;
    // Packets stamped for release, oldest first; a leaf lock.
    mutable std::mutex m_queueMutex;
    std::deque<Queued> m_queued;
    RTPFilesAudioReaderObserver* m_observer = nullptr;
};
