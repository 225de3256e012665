#pragma once

#include <QString>

class QSqlQuery;

// One row of the action log.
class ZvLog
{
public:
    int id = 0;
    int volume = 0;
    int rtpId = 0;
    QString rtpAddress;
    int action = 0; // 0 start, 1 stop
    int source = 0;
    int type = 0;
    int codec = 0;
    QString dateTime; // local time, "yyyy-MM-dd HH:mm:ss"

    // The current row of an executed query, read by column name.
    static ZvLog fromQuery(const QSqlQuery& query);
};
