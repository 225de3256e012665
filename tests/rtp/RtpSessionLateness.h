#pragma once

#include "RtpSessionReceiver.h"

#include <algorithm>
#include <vector>

// How late a channel's packets reached the far end against their schedule.
class RtpSessionLateness
{
public:
    // Lateness of every packet: its arrival in the kernel minus the durations before it, less the
    // smallest such offset (the schedule's start as far as the far end can tell).
    static std::vector<double> lateness(const std::vector<RtpSessionReceiver::Packet>& packets, double duration)
    {
        std::vector<double> late;
        for (size_t i = 0; i < packets.size(); ++i)
            late.push_back(packets[i].kernelArrival - double(i) * duration);
        if (late.empty())
            return late;
        const double start = *std::min_element(late.begin(), late.end());
        for (double& value : late)
            value -= start;
        return late;
    }

    static double percentile(std::vector<double> values, double p)
    {
        if (values.empty())
            return 0;
        std::sort(values.begin(), values.end());
        return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
    }
};
