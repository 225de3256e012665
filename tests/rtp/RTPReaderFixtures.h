#pragma once

#include "TestSupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdio>

// Media files for the reader tests, made with the ffmpeg command in a test's own folder.
class RTPReaderFixtures
{
public:
    enum Kind
    {
        MulawWav,      // 8 kHz mono G.711 mu-law WAV: passes through to PCMU untouched
        Mp3,           // 44.1 kHz stereo 128 kbit/s MP3: passes through to MP3 channels
        Pcm16Wav,      // 44.1 kHz stereo 16-bit WAV
        SixChannelWav,      // 48 kHz 5.1 16-bit WAV
        SixChannelPlainWav  // the same with a plain format chunk: six channels, no layout
    };

    static QString suffix(Kind kind) { return kind == Mp3 ? QStringLiteral(".mp3") : QStringLiteral(".wav"); }

    static QStringList outputArguments(Kind kind)
    {
        switch (kind) {
        case MulawWav:
            return {"-ar", "8000", "-ac", "1", "-c:a", "pcm_mulaw"};
        case Mp3:
            return {"-ar", "44100", "-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k"};
        case Pcm16Wav:
            return {"-ar", "44100", "-ac", "2", "-c:a", "pcm_s16le"};
        case SixChannelWav:
            return {"-ar", "48000", "-ac", "6", "-c:a", "pcm_s16le"};
        case SixChannelPlainWav:
            return {"-ar", "48000", "-ac", "6", "-f", "s16le"};
        }
        return {};
    }

    // A sine of frequency Hz lasting seconds; empty on failure.
    static QString tone(const QDir& dir, const QString& name, double frequency, double seconds,
                        Kind kind)
    {
        const QString path = dir.filePath(name + suffix(kind));
        if (kind != SixChannelPlainWav)
            return TestSupport::makeTone(path, frequency, seconds, outputArguments(kind)) ? path : QString();
        const QString raw = path + QStringLiteral(".raw");
        if (!TestSupport::makeTone(raw, frequency, seconds, outputArguments(kind)))
            return QString();
        QFile file(raw);
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        const QByteArray samples = file.readAll();
        return write(dir, name + suffix(kind), wavHeader(6, 48000, quint32(samples.size())) + samples);
    }

    // A 16-bit PCM header with a plain (16-byte) format chunk, which carries no channel layout.
    static QByteArray wavHeader(int channels, int rate, quint32 dataBytes)
    {
        QByteArray h;
        auto u32 = [&h](quint32 v) {
            for (int i = 0; i < 4; ++i)
                h.append(char((v >> (8 * i)) & 0xff));
        };
        auto u16 = [&h](quint16 v) {
            h.append(char(v & 0xff));
            h.append(char(v >> 8));
        };
        h.append("RIFF");
        u32(36 + dataBytes);
        h.append("WAVEfmt ");
        u32(16);
        u16(1);   // PCM
        u16(quint16(channels));
        u32(quint32(rate));
        u32(quint32(rate * channels * 2));
        u16(quint16(channels * 2));
        u16(16);
        h.append("data");
        u32(dataBytes);
        return h;
    }

    // A tone whose frequency tells the time: 200 + 100 * (whole seconds) Hz.
    static QString steps(const QDir& dir, const QString& name, double seconds, Kind kind)
    {
        const QString path = dir.filePath(name + suffix(kind));
        const int rate = kind == MulawWav ? 8000 : 44100;
        QStringList args{"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                         QStringLiteral("aevalsrc=0.5*sin(2*PI*(200+100*floor(t))*t):s=%1:d=%2")
                             .arg(rate)
                             .arg(seconds)};
        args += outputArguments(kind);
        args << path;
        const TestSupport::Result r = TestSupport::run(QStringLiteral("ffmpeg"), args);
        if (r.exitCode != 0) {
            std::fprintf(stderr, "ffmpeg failed: %s\n", r.err.constData());
            return QString();
        }
        return path;
    }

    static QString write(const QDir& dir, const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return QString();
        return path;
    }

    // A WAV whose format chunk is garbage: no demuxer makes sense of it.
    static QString corruptWav(const QDir& dir, const QString& name)
    {
        QByteArray bytes("RIFF\x24\x10\x00\x00WAVEfmt \xff\xff\xff\x7f", 20);
        bytes += QByteArray(4096, '\x5a');
        return write(dir, name, bytes);
    }

    // A text file named like an MP3.
    static QString textAsMp3(const QDir& dir, const QString& name)
    {
        return write(dir, name, QByteArray("this is a list of songs, not a song\n").repeated(200));
    }

    // A 16-bit 8 kHz mono WAV with a valid header and no samples: it opens, and yields nothing.
    static QString emptyWav(const QDir& dir, const QString& name)
    {
        return write(dir, name, wavHeader(1, 8000, 0));
    }
};
