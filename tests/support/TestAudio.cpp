#include "TestAudio.h"

#include "TestSupport.h"

#include <cmath>
#include <cstring>

QVector<float> TestAudio::decode(const QString& input, int rate, const QStringList& inputArguments,
                                 int timeoutMs)
{
    QStringList args{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error")};
    args += inputArguments;
    args << QStringLiteral("-i") << input << QStringLiteral("-ac") << QStringLiteral("1")
         << QStringLiteral("-ar") << QString::number(rate) << QStringLiteral("-f") << QStringLiteral("f32le")
         << QStringLiteral("-");
    TestSupport::Result r = TestSupport::run(QStringLiteral("ffmpeg"), args, timeoutMs);
    QVector<float> samples;
    if (r.exitCode != 0 && r.out.isEmpty())
        return samples;
    samples.resize(r.out.size() / int(sizeof(float)));
    std::memcpy(samples.data(), r.out.constData(), size_t(samples.size()) * sizeof(float));
    return samples;
}

double TestAudio::toneFrequency(const QVector<float>& samples, int rate)
{
    double first = -1, last = -1;
    int crossings = 0;
    for (int i = 1; i < samples.size(); ++i) {
        const float a = samples[i - 1], b = samples[i];
        if (a < 0.0f && b >= 0.0f) {
            const double t = (i - 1) + double(-a) / double(b - a);
            if (first < 0)
                first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0.0;
    return (crossings - 1) * double(rate) / (last - first);
}

double TestAudio::rms(const QVector<float>& samples)
{
    if (samples.isEmpty())
        return 0.0;
    double sum = 0;
    for (float s : samples)
        sum += double(s) * s;
    return std::sqrt(sum / samples.size());
}

double TestAudio::maxStep(const QVector<float>& samples)
{
    double step = 0;
    for (int i = 1; i < samples.size(); ++i)
        step = std::max(step, double(std::fabs(samples[i] - samples[i - 1])));
    return step;
}

QVector<float> TestAudio::trimSilence(const QVector<float>& samples, float threshold)
{
    int begin = 0, end = samples.size();
    while (begin < end && std::fabs(samples[begin]) < threshold)
        ++begin;
    while (end > begin && std::fabs(samples[end - 1]) < threshold)
        --end;
    return samples.mid(begin, end - begin);
}
