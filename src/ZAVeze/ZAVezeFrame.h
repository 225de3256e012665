#pragma once

#include <QByteArray>
#include <QJsonObject>

struct ZAVezeReply;

// The wire form of the device protocol: an Ethernet frame shaped as an ARP request, then the
// 18-byte tool header and the compact JSON text, without padding. All functions are pure.
//
//   0 dest MAC | 6 source MAC | 12 0x0806 | 14 ARP 1, 0x0800, 6, 4, op 1 | 22 sender MAC
//   28 sender IPv4 | 32 target MAC | 38 target IPv4 | 42 0x8888 | 44 kind 1 | 45 L+18 (16 bit)
//   47 0 (32 bit) | 51 L+18 (32 bit) | 55 flag 0 | 56 0 (16 bit) | 58 L+18 (16 bit) | 60 JSON
class ZAVezeFrame
{
public:
    static constexpr int kHeaderOffset = 42;
    static constexpr int kHeaderBytes = 18;
    static constexpr int kJsonOffset = kHeaderOffset + kHeaderBytes;
    // The JSON text that fits a 1514-byte frame; longer requests are refused, since the
    // adapter would refuse them and past 65517 bytes the 16-bit lengths wrap.
    static constexpr int kMaxJsonBytes = 1514 - kJsonOffset;
    static constexpr quint16 kMagic = 0x8888;
    static constexpr quint16 kEtherTypeArp = 0x0806;

    enum class Check {
        Accepted,
        TooShort,   // under 60 bytes
        BadMagic,   // bytes 42-43 are not 0x88 0x88
        BadFlag,    // byte 55 is not 0
        BadLength,  // the length at 45 + 42 is not the frame length
        NotForUs,   // ARP target MAC or IPv4 address is not the adapter's
        NotAnObject // the JSON text is not a non-empty object
    };

    static const char* checkName(Check check);

    // The request frame for json text (written as is) from the adapter's addresses to a
    // device's. Addresses are appended whole: callers pass 6 and 4 bytes.
    static QByteArray build(const QByteArray& destMac, const QByteArray& destIp, const QByteArray& sourceMac,
                            const QByteArray& sourceIp, const QByteArray& json);

    // Stage 1, cheap enough for the capture thread: length, magic, flag and the length field.
    static Check checkHeader(const QByteArray& frame);
    // Stage 2: stage 1 again, the ARP target must be the adapter, the JSON text (up to the
    // first zero byte) a non-empty object. Fills out only when Accepted.
    static Check parseReply(const QByteArray& frame, const QByteArray& adapterMac, const QByteArray& adapterIp,
                            ZAVezeReply& out);

    // The JSON text of a request: compact, keys in ascending order.
    static QByteArray jsonText(const QJsonObject& json);
    // The same with every "password" value at any depth replaced, for the log: the devices'
    // protocol carries passwords in clear, the log must not.
    static QByteArray logText(const QJsonObject& json);

    // A BPF expression that passes what stage 1 and the frame-size cap pass, so the kernel
    // drops the rest before it reaches the capture thread.
    static const char* captureFilter();

    static QString macText(const QByteArray& mac);
};
