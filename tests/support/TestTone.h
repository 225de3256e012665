#pragma once

#include <QByteArray>
#include <QStringList>
#include <QVector>

// Decodes encoded audio bytes back with the ffmpeg command and measures the tone in them, so a
// test can check what an encoder produced: frequency, level and breaks.
class TestTone
{
public:
    struct Result
    {
        bool decoded = false;
        int samples = 0;        // after trimming
        double frequency = 0.0;
        double rms = 0.0;
        double maxStep = 0.0;
        double amplitude = 0.0;   // of the best-fitting sine of the expected frequency
        double residual = 0.0;    // largest deviation from that sine
    };

    // Writes bytes to a temporary file and decodes its first channel at rate; inputArguments name the
    // format of raw data (e.g. "-f", "mulaw", "-ar", "8000", "-ac", "1"). Silence at both ends is
    // trimmed, then edgeSeconds more, where a tone starts and stops abruptly.
    static Result measure(const QByteArray& bytes, const QStringList& inputArguments, int rate,
                          double tone, double edgeSeconds = 0.03);
    // Least-squares fit of a sine of frequency tone over whole periods of samples: returns its
    // amplitude and sets the largest deviation of the samples from it. A gap, a click or a
    // phase jump anywhere shows as a residual of the order of the amplitude.
    static double fitSine(const QVector<float>& samples, double tone, int rate, double* residual);
    // Interleaved PCM of a sine in every channel, signed 16-bit or 32-bit float.
    static QByteArray sine(int rate, int channels, bool floatSamples, double seconds, double tone,
                           double amplitude);
    // The largest step between neighbouring samples of a clean sine.
    static double sineStep(double frequency, double amplitude, int rate);
};
