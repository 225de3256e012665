#pragma once

#include "RtpInfo.h"

#include <QVector>

// A channel change queued for the scheduler thread.
class RtpScheduleRequest
{
public:
    enum Type
    {
        kAddOrReplace = 1,
        kRemove = 2
    };

    RtpScheduleRequest(int type, QVector<RtpInfo> channels);

    int type;
    QVector<RtpInfo> channels;
};
