#include "TestTone.h"

#include "TestAudio.h"
#include "TestSupport.h"

#include <QTemporaryFile>

#include <algorithm>
#include <cmath>
#include <cstring>

TestTone::Result TestTone::measure(const QByteArray& bytes, const QStringList& inputArguments,
                                   int rate, double tone, double edgeSeconds)
{
    Result result;
    QTemporaryFile file;
    if (!file.open() || file.write(bytes) != bytes.size() || !file.flush())
        return result;
    // The first channel alone: a downmix would mix the level of the layout change into it.
    QStringList args{"-hide_banner", "-loglevel", "error"};
    args += inputArguments;
    args << "-i" << file.fileName() << "-af" << "pan=mono|c0=c0" << "-ar" << QString::number(rate)
         << "-f" << "f32le" << "-";
    const TestSupport::Result decoded = TestSupport::run(QStringLiteral("ffmpeg"), args);
    if (decoded.exitCode != 0 || decoded.out.isEmpty())
        return result;
    QVector<float> samples(decoded.out.size() / int(sizeof(float)));
    std::memcpy(samples.data(), decoded.out.constData(), size_t(samples.size()) * sizeof(float));
    result.decoded = true;
    samples = TestAudio::trimSilence(samples);
    const int edge = int(edgeSeconds * rate);
    samples = samples.size() > 4 * edge ? samples.mid(edge, samples.size() - 2 * edge) : QVector<float>();
    result.samples = samples.size();
    result.frequency = TestAudio::toneFrequency(samples, rate);
    result.rms = TestAudio::rms(samples);
    result.maxStep = TestAudio::maxStep(samples);
    result.amplitude = fitSine(samples, tone, rate, &result.residual);
    return result;
}

double TestTone::fitSine(const QVector<float>& samples, double tone, int rate, double* residual)
{
    *residual = 0.0;
    const double w = 2.0 * M_PI * tone / rate;
    const int period = std::max(1, int(std::lround(rate / tone)));
    const int n = (samples.size() / period) * period;
    if (n == 0)
        return 0.0;
    double a = 0, b = 0;
    for (int i = 0; i < n; ++i) {
        a += samples[i] * std::sin(w * i);
        b += samples[i] * std::cos(w * i);
    }
    a *= 2.0 / n;
    b *= 2.0 / n;
    double worst = 0;
    for (int i = 0; i < n; ++i)
        worst = std::max(worst, std::fabs(samples[i] - (a * std::sin(w * i) + b * std::cos(w * i))));
    *residual = worst;
    return std::sqrt(a * a + b * b);
}

double TestTone::sineStep(double frequency, double amplitude, int rate)
{
    return 2.0 * M_PI * frequency * amplitude / rate;
}

QByteArray TestTone::sine(int rate, int channels, bool floatSamples, double seconds, double tone,
                          double amplitude)
{
    const int frames = int(std::lround(seconds * rate));
    const int bytes = floatSamples ? 4 : 2;
    QByteArray pcm(frames * channels * bytes, Qt::Uninitialized);
    char* out = pcm.data();
    for (int i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2.0 * M_PI * tone * i / rate);
        for (int c = 0; c < channels; ++c) {
            if (floatSamples) {
                const float f = float(v);
                std::memcpy(out, &f, sizeof(f));
            } else {
                const int16_t s = int16_t(std::lround(v * 32767.0));
                std::memcpy(out, &s, sizeof(s));
            }
            out += bytes;
        }
    }
    return pcm;
}
