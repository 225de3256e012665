#include "ZAVezeDeviceFirmwareSetDialog.h"

#include "ZAVeze.h"
#include "ZAVezeFirmwareUploadThread.h"

#include <algorithm>

ZAVezeDeviceFirmwareSetDialog::ZAVezeDeviceFirmwareSetDialog(QWidget* parent, ZAVeze* tool,
                                                             ZAVezeDeviceUpdateSink* table)
    : ZAVezeDeviceSetDialog(parent, tool, table)
{
}

ZAVezeDeviceFirmwareSetDialog::~ZAVezeDeviceFirmwareSetDialog()
{
    stopTask();
    // Threads the job left behind have ended by themselves, or end now.
    stopUploads();
}

void ZAVezeDeviceFirmwareSetDialog::setDevices(const QVector<ZAVezeDevice>& devices, const QString& filePath)
{
    m_devices = devices;
    m_filePath = filePath;
}

void ZAVezeDeviceFirmwareSetDialog::setDevice(const ZAVezeDevice& device, const QString& filePath)
{
    setDevices({device}, filePath);
}

void ZAVezeDeviceFirmwareSetDialog::setTimeouts(int loginMs, int uploadStallMs)
{
    m_loginTimeoutMs = loginMs;
    m_uploadStallTimeoutMs = uploadStallMs;
}

int ZAVezeDeviceFirmwareSetDialog::peakUploads() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_peak;
}

int ZAVezeDeviceFirmwareSetDialog::reapLocked()
{
    auto finished = [](const std::unique_ptr<ZAVezeFirmwareUploadThread>& thread) {
        if (thread->isRunning())
            return false;
        thread->wait();
        return true;
    };
    m_threads.erase(std::remove_if(m_threads.begin(), m_threads.end(), finished), m_threads.end());
    return int(m_threads.size());
}

// The uploads share the PC's uplink and each device takes a while to write its flash, so at most
// kMaxUploads run at once; the job polls for a free place every kPollMs and never sleeps with the
// lock held, so a close from the GUI thread gets it at once.
void ZAVezeDeviceFirmwareSetDialog::run()
{
    for (const ZAVezeDevice& device : qAsConst(m_devices)) {
        bool handedOut = false;
        while (!handedOut && !isStop()) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_stopping)
                    break;
                if (reapLocked() < kMaxUploads) {
                    auto thread = std::make_unique<ZAVezeFirmwareUploadThread>(device, m_filePath);
                    thread->setTimeouts(m_loginTimeoutMs, m_uploadStallTimeoutMs);
                    if (thread->start())
                        m_threads.push_back(std::move(thread));
                    m_peak = std::max(m_peak, int(m_threads.size()));
                    handedOut = true;
                }
            }
            if (!handedOut)
                RDThread::msleep(kPollMs);
        }
    }
    while (!isStop()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping || reapLocked() == 0)
                break;
        }
        RDThread::msleep(kPollMs);
    }
    dismiss();
}

void ZAVezeDeviceFirmwareSetDialog::stop()
{
    ZAVezeDeviceSetDialog::stop();
    stopUploads();
}

void ZAVezeDeviceFirmwareSetDialog::stopUploads()
{
    std::vector<std::unique_ptr<ZAVezeFirmwareUploadThread>> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        threads.swap(m_threads);
    }
    // All are told first, so their aborts run side by side; then they are joined outside the lock.
    for (auto& thread : threads)
        thread->stop();
    for (auto& thread : threads)
        thread->wait();
}
