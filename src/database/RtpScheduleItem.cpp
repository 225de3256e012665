#include "RtpScheduleItem.h"

#include "RDJson.h"

#include <QStringList>
#include <QTime>

namespace {

int decimal(const QString& text)
{
    bool ok = false;
    int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

} // namespace

bool RtpScheduleItem::operator==(const RtpScheduleItem& other) const
{
    return type == other.type && argument == other.argument && source == other.source &&
           startTime == other.startTime && duration == other.duration &&
           durationUnit == other.durationUnit;
}

bool RtpScheduleItem::lessThan(const RtpScheduleItem& a, const RtpScheduleItem& b)
{
    const QTime ta = QTime::fromString(a.startTime, QStringLiteral("HH:mm:ss"));
    const QTime tb = QTime::fromString(b.startTime, QStringLiteral("HH:mm:ss"));
    if (ta.isValid() != tb.isValid())
        return !ta.isValid();
    if (ta.isValid() && ta != tb)
        return ta < tb;
    return a.type < b.type;
}

QString RtpScheduleItem::toString() const
{
    return QStringLiteral("%1;%2;%3;%4;%5;%6")
        .arg(type)
        .arg(argument)
        .arg(source)
        .arg(startTime)
        .arg(duration)
        .arg(durationUnit);
}

RtpScheduleItem RtpScheduleItem::fromString(const QString& line)
{
    RtpScheduleItem item;
    const QStringList fields = line.split(QLatin1Char(';'), Qt::KeepEmptyParts);
    if (fields.size() < 6)
        return item;
    item.type = decimal(fields[0]);
    item.argument = decimal(fields[1]);
    item.source = decimal(fields[2]);
    item.startTime = fields[3];
    item.duration = decimal(fields[4]);
    item.durationUnit = decimal(fields[5]);
    return item;
}

QJsonObject RtpScheduleItem::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("type"), type);
    object.insert(QStringLiteral("argument"), argument);
    object.insert(QStringLiteral("source"), source);
    object.insert(QStringLiteral("startTime"), startTime);
    object.insert(QStringLiteral("duration"), duration);
    object.insert(QStringLiteral("durationUnit"), durationUnit);
    return object;
}

RtpScheduleItem RtpScheduleItem::fromJson(const QJsonObject& object)
{
    RtpScheduleItem item;
    item.type = RDJson::toInt(object.value(QStringLiteral("type")));
    item.argument = RDJson::toInt(object.value(QStringLiteral("argument")));
    item.source = RDJson::toInt(object.value(QStringLiteral("source")));
    item.startTime = RDJson::toString(object.value(QStringLiteral("startTime")));
    item.duration = RDJson::toInt(object.value(QStringLiteral("duration")));
    item.durationUnit = RDJson::toInt(object.value(QStringLiteral("durationUnit")));
    return item;
}
