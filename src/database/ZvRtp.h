#pragma once

#include <QString>

// One row of the "rtp" table: a channel as it is stored. Fields follow the columns.
class ZvRtp
{
public:
    int id = 0;
    qint64 sortIndex = 0;
    QString name;
    QString address;
    int codec = 0;
    int volume = 0;
    int source = 0;
    QString playlist;
    QString deviceId;
    QString deviceName;
    int deviceType = 0;
    QString streamUrl;
    QString bellPath;
    int bellLoopType = 0;
    int bellDuration = 0;
    int bellLoops = 0;
    int scheduleStatus = 0;
    int scheduleRepeat = 0;
    QString scheduleValue;
    QString scheduleItems;
    int sipStatus = 0;
    QString sipServer;
    QString sipPort;
    QString sipUsername;
    QString sipAuthId;
    QString sipPassword;
    QString sipDisplayName;
    QString sipExpire;
    int httpApi = 0;
    int httpOutput = 0;
};
