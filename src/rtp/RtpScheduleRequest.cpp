#include "RtpScheduleRequest.h"

#include <utility>

RtpScheduleRequest::RtpScheduleRequest(int requestType, QVector<RtpInfo> requestChannels)
    : type(requestType), channels(std::move(requestChannels))
{
}
