#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

// Writes RTP streams as pcap files (Ethernet, IPv4, UDP) for SIPp's pcap play, which replays
// the RTP of a recording to the address and port of the call's SDP. SIPp ships its samples only
// in its source tree, so tests make their own recordings.
class SipTestPcap
{
public:
    struct Packet
    {
        QByteArray payload;
        int payloadType = 0;
        bool marker = false;
        uint16_t sequence = 0;
        uint32_t timestamp = 0;
        uint32_t ssrc = 0;
        double time = 0; // seconds from the start of the recording
    };

    static bool write(const QString& path, const std::vector<Packet>& packets);

    // A-law (PCMA) frames of 20 ms (160 bytes), RTP payload type 8, from raw A-law bytes.
    static std::vector<Packet> pcmaStream(const QByteArray& alaw);
    // An RFC 4733 event on payload type 101: updates every 20 ms and the end packet sent three
    // times, one timestamp for all.
    static std::vector<Packet> telephoneEvent(int event, int updates);
};
