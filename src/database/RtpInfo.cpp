#include "RtpInfo.h"

#include "RDJson.h"

#include <QStringList>

namespace {

// How remote apps see a sound-card channel.
const int kJsonSourceMicrophone = 2;
const int kJsonSourceLoopback = 4;

QVector<QString> splitLines(const QString& text)
{
    QVector<QString> lines;
    for (const QString& piece : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        lines.append(piece);
    return lines;
}

} // namespace

bool RtpInfo::operator==(const RtpInfo& o) const
{
    return id == o.id && sortIndex == o.sortIndex && name == o.name && address == o.address &&
           codec == o.codec && volume == o.volume && source == o.source &&
           playlist == o.playlist && deviceId == o.deviceId && deviceName == o.deviceName &&
           deviceType == o.deviceType && streamUrl == o.streamUrl && bellPath == o.bellPath &&
           bellLoopType == o.bellLoopType && bellDuration == o.bellDuration &&
           bellLoops == o.bellLoops && schedule == o.schedule && sip == o.sip &&
           httpApi == o.httpApi && httpOutput == o.httpOutput &&
           startedSource == o.startedSource && startedType == o.startedType &&
           playingIndex == o.playingIndex && playingGetTime == o.playingGetTime &&
           playingPosition == o.playingPosition && playingDuration == o.playingDuration;
}

bool RtpInfo::operator<(const RtpInfo& other) const
{
    if (sortIndex != other.sortIndex)
        return sortIndex > other.sortIndex;
    return id > other.id;
}

int RtpInfo::indexOf(const QVector<RtpInfo>& list, int id)
{
    for (int i = 0; i < list.size(); ++i) {
        if (list[i].id == id)
            return i;
    }
    return -1;
}

QString RtpInfo::playlistToString(const QVector<QString>& playlist)
{
    return QStringList(playlist.begin(), playlist.end()).join(QLatin1Char('\n'));
}

QVector<QString> RtpInfo::playlistFromString(const QString& text)
{
    // Every stored path is kept, also one whose file is missing right now: the reader skips
    // what does not open, and a drive that comes back later plays again.
    return splitLines(text);
}

QString RtpInfo::scheduleItemsToString(const QVector<RtpScheduleItem>& items)
{
    QStringList lines;
    for (const RtpScheduleItem& item : items)
        lines.append(item.toString());
    return lines.join(QLatin1Char('\n'));
}

QVector<RtpScheduleItem> RtpInfo::scheduleItemsFromString(const QString& text)
{
    QVector<RtpScheduleItem> items;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        items.append(RtpScheduleItem::fromString(line));
    return items;
}

QJsonObject RtpInfo::toJson() const
{
    int jsonSource = source;
    if (source == kSourceDevice)
        jsonSource = deviceType == kDeviceLoopback ? kJsonSourceLoopback : kJsonSourceMicrophone;

    // Peers read these exact keys, the spelling "playingPostion" included.
    QJsonObject object;
    object.insert(QStringLiteral("id"), id);
    object.insert(QStringLiteral("sortIndex"), sortIndex);
    object.insert(QStringLiteral("name"), name);
    object.insert(QStringLiteral("address"), address);
    object.insert(QStringLiteral("codec"), codec);
    object.insert(QStringLiteral("volume"), volume);
    object.insert(QStringLiteral("source"), jsonSource);
    object.insert(QStringLiteral("playlist"), playlistToString(playlist));
    object.insert(QStringLiteral("deviceId"), deviceId);
    object.insert(QStringLiteral("deviceName"), deviceName);
    object.insert(QStringLiteral("deviceType"), deviceType);
    object.insert(QStringLiteral("streamUrl"), streamUrl);
    object.insert(QStringLiteral("bellPath"), bellPath);
    object.insert(QStringLiteral("bellLoopType"), bellLoopType);
    object.insert(QStringLiteral("bellDuration"), bellDuration);
    object.insert(QStringLiteral("bellLoops"), bellLoops);
    object.insert(QStringLiteral("schedule"), schedule.toJson());
    object.insert(QStringLiteral("sip"), sip.toJson());
    object.insert(QStringLiteral("httpApi"), httpApi);
    object.insert(QStringLiteral("httpOutput"), httpOutput);
    object.insert(QStringLiteral("startedSource"), startedSource);
    object.insert(QStringLiteral("startedType"), startedType);
    object.insert(QStringLiteral("playingIndex"), playingIndex);
    object.insert(QStringLiteral("playingGetTime"), playingGetTime);
    object.insert(QStringLiteral("playingPostion"), playingPosition);
    object.insert(QStringLiteral("playingDuration"), playingDuration);
    return object;
}

RtpInfo RtpInfo::fromJson(const QJsonObject& object)
{
    auto v = [&object](const char* key) { return object.value(QLatin1String(key)); };
    auto integer = [&v](const char* key) { return RDJson::toInt(v(key)); };
    auto text = [&v](const char* key) { return RDJson::toString(v(key)); };

    RtpInfo info;
    info.id = integer("id");
    info.sortIndex = RDJson::toInt64(v("sortIndex"));
    info.name = text("name");
    info.address = text("address");
    info.codec = integer("codec");
    info.volume = integer("volume");
    info.source = integer("source");
    info.playlist = splitLines(text("playlist"));
    info.deviceId = text("deviceId");
    info.deviceName = text("deviceName");
    info.deviceType = integer("deviceType");
    info.streamUrl = text("streamUrl");
    info.bellPath = text("bellPath");
    info.bellLoopType = integer("bellLoopType");
    info.bellDuration = integer("bellDuration");
    info.bellLoops = integer("bellLoops");
    info.schedule = RtpSchedule::fromJson(v("schedule").toObject());
    info.sip = RtpSip::fromJson(v("sip").toObject());
    info.httpApi = integer("httpApi");
    info.httpOutput = integer("httpOutput");
    info.startedSource = integer("startedSource");
    info.startedType = integer("startedType");
    info.playingIndex = integer("playingIndex");
    info.playingGetTime = RDJson::toDouble(v("playingGetTime"));
    const QJsonValue position = v("playingPosition");
    info.playingPosition = RDJson::toDouble(position.isUndefined() ? v("playingPostion") : position);
    info.playingDuration = RDJson::toDouble(v("playingDuration"));

    // Undo the writer's mapping of a sound-card channel, so that a round trip keeps it.
    if (info.source == kJsonSourceMicrophone) {
        info.source = kSourceDevice;
        info.deviceType = kDeviceCapture;
    } else if (info.source == kJsonSourceLoopback) {
        info.source = kSourceDevice;
        info.deviceType = kDeviceLoopback;
    }
    return info;
}

QJsonArray RtpInfo::toJsonArray(const QVector<RtpInfo>& list)
{
    QJsonArray array;
    for (const RtpInfo& info : list)
        array.append(info.toJson());
    return array;
}
