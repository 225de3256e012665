#include "RDPcmVolume.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// Blocks come as char buffers of any alignment, so every sample is moved with memcpy.
template <typename T, typename Scale>
void scaleBlock(unsigned char* data, int bytes, Scale scale)
{
    const int count = bytes / int(sizeof(T));
    for (int i = 0; i < count; ++i) {
        T value;
        std::memcpy(&value, data + size_t(i) * sizeof(T), sizeof(T));
        value = scale(value);
        std::memcpy(data + size_t(i) * sizeof(T), &value, sizeof(T));
    }
}

template <typename T>
T clampToInt(double value)
{
    // Truncation toward zero, then the type's range; NaN cannot arise from a finite factor.
    value = std::trunc(value);
    if (value <= double(std::numeric_limits<T>::min()))
        return std::numeric_limits<T>::min();
    if (value >= double(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    return T(value);
}

} // namespace

void RDPcmVolume::adjustPcmVolume(void* samples, int bytes, int percent, int format)
{
    if (!samples || bytes <= 0 || percent == 100)
        return;
    const double factor = percent < 0 ? 0.0 : percent / 100.0;
    auto* data = static_cast<unsigned char*>(samples);
    switch (format) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_U8P:
        scaleBlock<uint8_t>(data, bytes, [factor](uint8_t v) {
            const double centred = std::trunc((int(v) - 128) * factor) + 128.0;
            return uint8_t(centred <= 0.0 ? 0 : centred >= 255.0 ? 255 : int(centred));
        });
        break;
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S16P:
        scaleBlock<int16_t>(data, bytes,
                            [factor](int16_t v) { return clampToInt<int16_t>(v * factor); });
        break;
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P:
        scaleBlock<int32_t>(data, bytes, [factor](int32_t v) {
            return clampToInt<int32_t>(double(v) * factor);
        });
        break;
    case AV_SAMPLE_FMT_S64:
    case AV_SAMPLE_FMT_S64P:
        scaleBlock<int64_t>(data, bytes, [factor](int64_t v) {
            return clampToInt<int64_t>(double(v) * factor);
        });
        break;
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
        scaleBlock<float>(data, bytes, [factor](float v) {
            const double scaled = double(v) * factor;
            if (scaled > FLT_MAX)
                return FLT_MAX;
            if (scaled < -FLT_MAX)
                return -FLT_MAX;
            return float(scaled);
        });
        break;
    case AV_SAMPLE_FMT_DBL:
    case AV_SAMPLE_FMT_DBLP:
        scaleBlock<double>(data, bytes, [factor](double v) { return v * factor; });
        break;
    default:
        break;
    }
}
