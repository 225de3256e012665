#pragma once

#include "ZAVezeDeviceUpdateSink.h"

#include <QVector>

#include <mutex>

// Keeps every record a job reports, from whatever thread.
class RecordingSink : public ZAVezeDeviceUpdateSink
{
public:
    void updateDevice(ZAVezeDevice device) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_devices.append(device);
    }
    QVector<ZAVezeDevice> devices() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_devices;
    }

private:
    mutable std::mutex m_mutex;
    QVector<ZAVezeDevice> m_devices;
};
