#pragma once

#include "RTPAudioPacketQueue.h"
#include "RTPAudioTranscoder.h"

#include <QString>

#include <mutex>

class RTPAudioPacket;
class VexaAudioPacket;

// The audio frames a remote app talks into a channel, turned into packets of the channel's
// payload type. Frames come from the network: each is checked, and a frame of an unknown payload
// type, with other than 1 or 2 channels, or lasting 0 or more than a second is dropped. The
// conversion is set up anew when the frames' format changes; a format that cannot be converted
// is remembered, and its frames dropped, until the format changes again. At most
// RTPAudioPacketQueue::kLiveLimit packets wait; the oldest give way.
//
// Thread-safe: the reader thread feeds it while the send thread takes packets out; taking a
// packet never waits for a conversion in progress.
class RTPSDKReaderInput
{
public:
    // The longest frame taken, seconds.
    static constexpr double kMaxFrameSeconds = 1.0;
    // Dropped frames are logged at most this often, seconds.
    static constexpr double kDropLogInterval = 5.0;

    // take() results.
    static constexpr int kTaken = 0;
    static constexpr int kNotConverted = -1;   // a sound frame whose format cannot be converted
    static constexpr int kBadFrame = -2;       // a frame whose header or size does not hold up

    // What a checked frame holds. Sample-based types (all but MP3) carry their payload type's
    // own rate and, for L16, channel count; their duration comes from the byte count.
    struct Format
    {
        int payloadType = -1;
        int channels = 0;
        int sampleRate = 0;
        bool operator==(const Format& other) const
        {
            return payloadType == other.payloadType && channels == other.channels
                   && sampleRate == other.sampleRate;
        }
        bool operator!=(const Format& other) const { return !(*this == other); }
    };

    RTPSDKReaderInput();
    RTPSDKReaderInput(const RTPSDKReaderInput&) = delete;
    RTPSDKReaderInput& operator=(const RTPSDKReaderInput&) = delete;

    // Drops what is queued and any conversion; later frames are converted to payloadType.
    void open(int payloadType);
    // Drops what is queued and any conversion; frames are refused until the next open.
    void close();

    // The format and duration (seconds) of a frame; false, with the reason in *why, for a frame
    // to drop.
    static bool check(const VexaAudioPacket& frame, Format* format, double* duration, QString* why);
    // Converts one frame: kTaken, kNotConverted or kBadFrame.
    int take(const VexaAudioPacket& frame);
    // The next packet, owned by the caller; null when none is ready.
    RTPAudioPacket* pop();
    // Drops the queued packets and the audio waiting to fill a frame.
    void clear();
    // Frames dropped since open.
    int dropped() const;
    // Packets waiting to be taken.
    int queued() const { return m_ready.count(); }

private:
    void noteDrop(const QString& why);

    // Guards the conversion and the counts; the ready packets have the queue's own lock.
    mutable std::mutex m_mutex;
    RTPAudioPacketQueue m_ready;
    int m_payloadType = -1;
    bool m_accepting = false;
    RTPAudioTranscoder m_transcoder;
    Format m_converting;
    Format m_failed;
    int m_dropped = 0;
    int m_unlogged = 0;
    double m_lastDropLog = -1.0;
};
