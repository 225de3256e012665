#include "ZvLog.h"

#include "VDBHelper.h"

#include <QSqlQuery>

ZvLog ZvLog::fromQuery(const QSqlQuery& query)
{
    auto number = [&query](const char* column) {
        return VDBHelper::toInt(VDBHelper::columnValue(query, QLatin1String(column)));
    };
    auto text = [&query](const char* column) {
        return VDBHelper::toText(VDBHelper::columnValue(query, QLatin1String(column)));
    };
    ZvLog log;
    log.id = number("id");
    log.volume = number("volume");
    log.rtpId = number("rtpId");
    log.rtpAddress = text("rtpAddress");
    log.action = number("action");
    log.source = number("source");
    log.type = number("type");
    log.codec = number("codec");
    log.dateTime = text("dateTime");
    return log;
}
