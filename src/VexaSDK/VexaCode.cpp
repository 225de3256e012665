#include "VexaCode.h"

#include "VexaCodeInfo.h"

#include <cctype>
#include <cstdint>

namespace {

const char* const kVersion = "01";
const char* const kKind = "01";
const char* const kPlatform = "P0";
constexpr int kFieldSize = 2;
// Version, kind and length come first in both layouts.
constexpr int kPayloadAt = 3 * kFieldSize;

// The payload length field: two hex digits of either case; anything else reads as 0.
int lengthField(const QString& code)
{
    const QString field = code.mid(2 * kFieldSize, kFieldSize);
    for (const QChar c : field) {
        if (c.unicode() > 0x7F || !std::isxdigit(c.unicode()))
            return 0;
    }
    return field.toInt(nullptr, 16);
}

} // namespace

QString VexaCode::encode(const QString& payload)
{
    if (payload.size() > kMaxPayload)
        return QString();
    QString code = QLatin1String(kVersion) + QLatin1String(kKind)
                   + QString::asprintf("%02x", static_cast<unsigned>(payload.size())) + payload
                   + QLatin1String(kPlatform);
    return code + checksum(code, 0, code.size());
}

bool VexaCode::decode(const QString& code, VexaCodeInfo& info)
{
    if (code.size() <= kPayloadAt)
        return false;
    const bool withPlatform = code.startsWith(QLatin1String(kVersion));
    const int n = lengthField(code);
    const int tail = withPlatform ? 2 * kFieldSize : kFieldSize;
    if (code.size() < kPayloadAt + n + tail)
        return false;
    // Over the whole text but its last two characters: anything after the checksum field
    // makes the two differ.
    const QString field = code.mid(kPayloadAt + n + tail - kFieldSize, kFieldSize);
    if (checksum(code, 0, code.size() - kFieldSize).compare(field, Qt::CaseInsensitive) != 0)
        return false;
    info.version = code.mid(0, kFieldSize);
    info.kind = code.mid(kFieldSize, kFieldSize);
    info.payload = code.mid(kPayloadAt, n);
    info.platform = withPlatform ? code.mid(kPayloadAt + n, kFieldSize) : QString();
    return true;
}

QString VexaCode::checksum(const QString& text, int first, int end)
{
    int32_t sum = 0;
    for (int i = qMax(0, first); i < qMin(end, text.size()); ++i) {
        const ushort u = text.at(i).unicode();
        sum ^= u <= 0xFF ? static_cast<int32_t>(static_cast<int8_t>(u)) : 0;
    }
    return QString::asprintf("%02x", static_cast<uint32_t>(sum));
}
