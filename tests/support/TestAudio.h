#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// Decodes audio with the ffmpeg command and measures it, so tests can check what reached the
// wire or a file: the tone's frequency, its level and whether it has breaks.
class TestAudio
{
public:
    // Decodes input (a file, an SDP file, a URL) to mono float samples at rate. inputArguments
    // go before "-i" (e.g. "-protocol_whitelist file,udp,rtp"). Empty on failure.
    static QVector<float> decode(const QString& input, int rate,
                                 const QStringList& inputArguments = QStringList(),
                                 int timeoutMs = 60000);

    // Frequency of a pure tone, from interpolated zero crossings over the whole buffer.
    static double toneFrequency(const QVector<float>& samples, int rate);
    static double rms(const QVector<float>& samples);
    // Largest difference between neighbouring samples; a clean sine of frequency f and peak a
    // stays below 2*pi*f*a/rate, a click or a gap jumps far above it.
    static double maxStep(const QVector<float>& samples);
    // Drops leading and trailing samples whose magnitude stays below threshold.
    static QVector<float> trimSilence(const QVector<float>& samples, float threshold = 0.01f);
};
