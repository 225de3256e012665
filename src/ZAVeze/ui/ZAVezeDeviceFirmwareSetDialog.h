#pragma once

#include "ZAVezeDeviceSetDialog.h"

#include <memory>
#include <mutex>
#include <vector>

class ZAVezeFirmwareUploadThread;

// Puts one firmware file onto devices, up to kMaxUploads at once, each through its own upload
// thread. The job learns nothing of the outcome (the threads log it); it ends when every upload
// has ended. Closing the dialog aborts every upload in progress.
class ZAVezeDeviceFirmwareSetDialog : public ZAVezeDeviceSetDialog
{
    Q_OBJECT
public:
    static constexpr int kMaxUploads = 10;
    // How often the job looks for a finished upload.
    static constexpr int kPollMs = 10;

    ZAVezeDeviceFirmwareSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table);
    ~ZAVezeDeviceFirmwareSetDialog() override;

    void setDevices(const QVector<ZAVezeDevice>& devices, const QString& filePath);
    void setDevice(const ZAVezeDevice& device, const QString& filePath);
    // Login and upload time-outs of the threads to come (<= 0: their defaults).
    void setTimeouts(int loginMs, int uploadStallMs);

    void run() override;
    void stop() override;

    // Uploads running at the same time at most, so far (for tests and measurements).
    int peakUploads() const;

private:
    // Waits for and releases the threads that have ended; the count of those still running.
    int reapLocked();
    // Takes every thread out of the list and ends it; no new one starts afterwards.
    void stopUploads();

    QVector<ZAVezeDevice> m_devices;
    QString m_filePath;
    int m_loginTimeoutMs = 0;
    int m_uploadStallTimeoutMs = 0;

    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<ZAVezeFirmwareUploadThread>> m_threads;
    bool m_stopping = false;
    int m_peak = 0;
};
