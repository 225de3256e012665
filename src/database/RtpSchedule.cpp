#include "RtpSchedule.h"

#include "RDJson.h"

#include <QJsonArray>

bool RtpSchedule::operator==(const RtpSchedule& other) const
{
    return status == other.status && repeat == other.repeat && value == other.value &&
           items == other.items;
}

QString RtpSchedule::startTimesText() const
{
    QString text;
    const int n = qMin(items.size(), 5);
    for (int i = 0; i < n; ++i) {
        if (!items[i].startTime.isEmpty())
            text += items[i].startTime + QLatin1Char(';');
    }
    return text;
}

QJsonObject RtpSchedule::toJson() const
{
    QJsonArray array;
    for (const RtpScheduleItem& item : items)
        array.append(item.toJson());
    QJsonObject object;
    // Peers read these exact keys, "repeta" included.
    object.insert(QStringLiteral("status"), status);
    object.insert(QStringLiteral("repeta"), repeat);
    object.insert(QStringLiteral("value"), value);
    object.insert(QStringLiteral("items"), array);
    return object;
}

RtpSchedule RtpSchedule::fromJson(const QJsonObject& object)
{
    // Older readers used "schedule" and "repeat"; what our own writer sends ("status",
    // "repeta") is read too, so a record survives a round trip.
    auto either = [&object](const char* preferred, const char* other) {
        const QJsonValue v = object.value(QLatin1String(preferred));
        return v.isUndefined() ? object.value(QLatin1String(other)) : v;
    };
    RtpSchedule schedule;
    schedule.status = RDJson::toInt(either("status", "schedule"));
    schedule.repeat = RDJson::toInt(either("repeta", "repeat"));
    schedule.value = RDJson::toString(object.value(QStringLiteral("value")));
    const QJsonArray array = object.value(QStringLiteral("items")).toArray();
    for (const QJsonValue& element : array)
        schedule.items.append(RtpScheduleItem::fromJson(element.toObject()));
    return schedule;
}
