#include "SipTestPcap.h"

#include <QFile>

#include <QtEndian>

namespace {

void append16(QByteArray& out, uint16_t value)
{
    char bytes[2];
    qToBigEndian(value, bytes);
    out.append(bytes, 2);
}

void append32(QByteArray& out, uint32_t value)
{
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}

void appendLittle32(QByteArray& out, uint32_t value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

} // namespace

bool SipTestPcap::write(const QString& path, const std::vector<Packet>& packets)
{
    QByteArray file;
    // pcap header: magic, version 2.4, zone, accuracy, snapshot length, Ethernet.
    appendLittle32(file, 0xa1b2c3d4);
    file.append("\x02\x00\x04\x00", 4);
    appendLittle32(file, 0);
    appendLittle32(file, 0);
    appendLittle32(file, 65535);
    appendLittle32(file, 1);
    for (const Packet& packet : packets) {
        QByteArray rtp;
        rtp.append(char(0x80));
        rtp.append(char((packet.marker ? 0x80 : 0) | (packet.payloadType & 0x7F)));
        append16(rtp, packet.sequence);
        append32(rtp, packet.timestamp);
        append32(rtp, packet.ssrc);
        rtp.append(packet.payload);
        QByteArray udp;
        append16(udp, 40000);
        append16(udp, 50000);
        append16(udp, uint16_t(8 + rtp.size()));
        append16(udp, 0);
        udp.append(rtp);
        QByteArray ip("\x45\x00", 2);
        append16(ip, uint16_t(20 + udp.size()));
        ip.append("\x00\x00\x00\x00\x40\x11\x00\x00", 8);
        ip.append("\x0a\x00\x00\x01\x0a\x00\x00\x02", 8);
        ip.append(udp);
        QByteArray frame(6, '\0');
        frame.append("\x02\x00\x00\x00\x00\x01\x08\x00", 8);
        frame.append(ip);
        const double time = 1000.0 + packet.time;
        const uint32_t seconds = uint32_t(time);
        appendLittle32(file, seconds);
        appendLittle32(file, uint32_t((time - seconds) * 1e6));
        appendLittle32(file, uint32_t(frame.size()));
        appendLittle32(file, uint32_t(frame.size()));
        file.append(frame);
    }
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(file) == file.size();
}

std::vector<SipTestPcap::Packet> SipTestPcap::pcmaStream(const QByteArray& alaw)
{
    std::vector<Packet> packets;
    for (int offset = 0, n = 0; offset + 160 <= alaw.size(); offset += 160, ++n) {
        Packet packet;
        packet.payload = alaw.mid(offset, 160);
        packet.payloadType = 8;
        packet.sequence = uint16_t(1000 + n);
        packet.timestamp = uint32_t(5000 + 160 * n);
        packet.ssrc = 0x1234;
        packet.time = n * 0.02;
        packets.push_back(packet);
    }
    return packets;
}

std::vector<SipTestPcap::Packet> SipTestPcap::telephoneEvent(int event, int updates)
{
    std::vector<Packet> packets;
    for (int n = 0; n < updates + 3; ++n) {
        const bool end = n >= updates;
        const int duration = 160 * std::min(n + 1, updates);
        Packet packet;
        packet.payload.append(char(event));
        packet.payload.append(char((end ? 0x80 : 0) | 10));
        packet.payload.append(char(duration >> 8));
        packet.payload.append(char(duration & 0xFF));
        packet.payloadType = 101;
        packet.marker = n == 0;
        packet.sequence = uint16_t(2000 + n);
        packet.timestamp = 90000;
        packet.ssrc = 0x5678;
        packet.time = n * 0.02;
        packets.push_back(packet);
    }
    return packets;
}
